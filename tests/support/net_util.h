// Network helpers for tests.
#pragma once

// A TCP port on 127.0.0.1 that was free a moment ago (bound to port 0 and released), so tests that
// run in parallel do not fight over one fixed port.
int PickFreePort();
