// mingw-w64 ships this header in lower case; the SDK's WebView2.h includes it as "EventToken.h".
#pragma once
#include <eventtoken.h>
