// The API's JSON is built from fixed fragments; these helpers put texts into them and read the
// few values the configuration route takes out of a posted JSON text. Not a JSON parser.
#pragma once

#include <string>

// Escapes a UTF-8 text for the inside of a JSON string: \" \\ \b \f \n \r \t, other bytes below
// 0x20 as \u00XX; everything else, multi-byte UTF-8 included, unchanged.
std::string JsonEscape(const std::string& text);
// The same, appended to `out`: large texts are built without a temporary per value.
void AppendJsonEscaped(std::string& out, const std::string& text);

// Raw text of the value after the first "key" in `json`: a string value without its quotes and
// with its escapes left as sent (it ends at the next double quote), or a bare value up to the
// first ",", "}" or line feed. Empty when the key or a terminator is missing.
std::string GetJsonValue(const std::string& json, const std::string& key);

// True when GetJsonValue gives exactly "true" or "1".
bool GetJsonBool(const std::string& json, const std::string& key);

// Decodes the JSON escapes of a raw string value from GetJsonValue (\\ \/ \" \b \f \n \r \t and
// \uXXXX, surrogate pairs included; a lone surrogate becomes U+FFFD) to UTF-8 in *out. False when
// the value holds an escape JSON does not know (a Windows path typed with single backslashes,
// "D:\Music"), a malformed \u or a backslash at its end; *out is then incomplete.
bool JsonUnescape(const std::string& raw, std::string* out);
