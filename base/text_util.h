// Small text tests the HTTP parsing, the request guard and the name rules share.
#pragma once

#include <string>

// True when `text` begins with `prefix` (case-sensitive).
bool StartsWith(const std::string& text, const std::string& prefix);
// ASCII letters lowered; every other byte, UTF-8 included, unchanged.
std::string LowerAscii(std::string text);
// True when `text` holds a byte below 0x20 or DEL.
bool HasControlCharacter(const std::string& text);

// UTF-16 surrogate halves, for cutting texts without splitting a character.
constexpr bool IsHighSurrogate(unsigned unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
constexpr bool IsLowSurrogate(unsigned unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}
