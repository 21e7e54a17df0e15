#include "app/standard_streams.h"

namespace muvra {

void useParentConsoleWhenUnattached() {}

}  // namespace muvra
