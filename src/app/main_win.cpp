#include "app/entry.h"
#include "app/windows_start.h"

int wmain(int argc, wchar_t** argv) {
  return muvra::runGuarded([&] {
    muvra::prepareMainThread();
    return muvra::runEntry(muvra::modeArguments(argc, argv));
  });
}
