// The WebView2 COM interfaces and their identifiers, from Microsoft's SDK header (WebView2 SDK
// 1.0.3351.48, third_party/webview2/include, a system header), and the two loader exports the
// program looks up by name in the loader library it loads at run time.
#pragma once

#include "base/win32.h"

#include <WebView2.h>

// The loader's two exports (plain names on every architecture), called through pointers because
// the loader is loaded at run time; their types are the SDK's declarations.
using CreateCoreWebView2EnvironmentWithOptionsFunction = decltype(&CreateCoreWebView2EnvironmentWithOptions);
using CreateCoreWebView2EnvironmentFunction = decltype(&CreateCoreWebView2Environment);
constexpr const char* kCreateEnvironmentWithOptionsExport = "CreateCoreWebView2EnvironmentWithOptions";
constexpr const char* kCreateEnvironmentExport = "CreateCoreWebView2Environment";
