// The WebView2 loader library: the program carries a copy, writes it to the temporary directory on
// first use and loads it from there; a library beside the executable is the fallback.
#pragma once

#include "base/win32.h"

#include <cstddef>
#include <string>

// Path of the extracted loader file, set before the file is checked so that teardown deletes it
// even when an existing copy was reused; empty while none was chosen.
extern std::wstring g_tempLoaderPath;
// The loaded loader library, or null.
extern HMODULE g_hWebView2Loader;

// Writes the carried image to "TarnDown_WebView2Loader.dll" in the temporary directory, or reuses a
// file there whose bytes equal the image. The file stays open without write or delete sharing
// until LoadWebView2Loader has loaded it. Empty on failure, and empty (writing nothing) when this
// build carries no image.
std::wstring ExtractEmbeddedLoader();
// Loads the extracted copy, or the "WebView2Loader.dll" beside the executable when extraction gave
// no path. Returns the already loaded library when there is one.
HMODULE LoadWebView2Loader();

// Frees the loaded library and, after a short wait, deletes the extracted copy (also one that could
// not be loaded); forgets both.
void UnloadWebView2Loader();

// Test seams: extract these bytes instead of the carried image / go back to the carried image.
void SetLoaderImageForTesting(const unsigned char* data, std::size_t size);
void RestoreLoaderImageForTesting();
