#include "base/debug_trace.h"

void DebugTrace(const wchar_t* format, ...) {
    (void)format;
}
