// Releases the embedded browser control and its host window.
#pragma once

void DestroyWebBrowserControl();
