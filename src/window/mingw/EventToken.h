#pragma once
// WebView2.h names this header with capitals; mingw-w64 ships it as <eventtoken.h>, which a
// case-sensitive cross build does not find under the other spelling.
#include <eventtoken.h>
