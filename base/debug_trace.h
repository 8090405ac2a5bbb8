// Progress messages from every subsystem go through here. The shipped program keeps no log, so
// the messages are discarded; the hook exists so that a diagnostic build has one place to tap.
#pragma once

void DebugTrace(const wchar_t* format, ...);
