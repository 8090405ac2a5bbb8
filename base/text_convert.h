// Whole-text conversions between the program's UTF-16 state (paths, window texts) and UTF-8 data
// (HTTP, task names, page messages).
#pragma once

#include <string>

// Invalid UTF-8 becomes U+FFFD; an empty text gives an empty text.
std::wstring Utf8ToWide(const std::string& text);
// Unpaired surrogates become U+FFFD; an empty text gives an empty text.
std::string WideToUtf8(const std::wstring& text);
