// The API's JSON is built from fixed fragments; these helpers put texts into them and read the
// few values the configuration route takes out of a posted JSON text. Not a JSON parser.
#pragma once

#include <string>

// Escapes a UTF-8 text for the inside of a JSON string: \" \\ \b \f \n \r \t, other bytes below
// 0x20 as \u00XX; everything else, multi-byte UTF-8 included, unchanged.
std::string JsonEscape(const std::string& text);

// Raw text of the value after the first "key" in `json`: a string value without its quotes and
// with its escapes left as sent (it ends at the next double quote), or a bare value up to the
// first ",", "}" or line feed. Empty when the key or a terminator is missing.
std::string GetJsonValue(const std::string& json, const std::string& key);

// True when GetJsonValue gives exactly "true" or "1".
bool GetJsonBool(const std::string& json, const std::string& key);

// Decodes the JSON escapes of a raw string value from GetJsonValue (\\ \/ \" \b \f \n \r \t and
// \uXXXX, surrogate pairs included) to UTF-8. A backslash before any other character, or before a
// malformed \u, is kept with that character, so a Windows path sent with single backslashes
// ("D:\Games") survives as it was typed.
std::string JsonUnescape(const std::string& raw);
