#include "api/json_text.h"
#include "base/text_util.h"

#include <cstdio>
#include <cstring>

namespace {

bool ReadHex4(const std::string& text, size_t pos, unsigned* value) {
    if (pos + 4 > text.size()) {
        return false;
    }
    unsigned result = 0;
    for (size_t i = pos; i < pos + 4; ++i) {
        const char ch = text[i];
        result <<= 4;
        if (ch >= '0' && ch <= '9') {
            result |= static_cast<unsigned>(ch - '0');
        } else if (ch >= 'a' && ch <= 'f') {
            result |= static_cast<unsigned>(ch - 'a' + 10);
        } else if (ch >= 'A' && ch <= 'F') {
            result |= static_cast<unsigned>(ch - 'A' + 10);
        } else {
            return false;
        }
    }
    *value = result;
    return true;
}

void AppendUtf8(unsigned codePoint, std::string* out) {
    if (codePoint < 0x80) {
        *out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        *out += static_cast<char>(0xC0 | (codePoint >> 6));
        *out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        *out += static_cast<char>(0xE0 | (codePoint >> 12));
        *out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        *out += static_cast<char>(0xF0 | (codePoint >> 18));
        *out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        *out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

// Decodes "\uXXXX" (and a following low surrogate) at `pos`, which points at the "u". Returns the
// number of characters consumed after the backslash, or 0 when the escape is malformed. A lone
// surrogate becomes U+FFFD, as the text conversions do.
size_t DecodeUnicodeEscape(const std::string& raw, size_t pos, std::string* out) {
    unsigned unit = 0;
    if (!ReadHex4(raw, pos + 1, &unit)) {
        return 0;
    }
    if (IsHighSurrogate(unit)) {
        unsigned low = 0;
        if (pos + 6 < raw.size() && raw[pos + 5] == '\\' && raw[pos + 6] == 'u' &&
            ReadHex4(raw, pos + 7, &low) && IsLowSurrogate(low)) {
            AppendUtf8(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00), out);
            return 11;
        }
        AppendUtf8(0xFFFD, out);
        return 5;
    }
    AppendUtf8(IsLowSurrogate(unit) ? 0xFFFD : unit, out);
    return 5;
}

}  // namespace

void AppendJsonEscaped(std::string& out, const std::string& text) {
    // Runs of bytes that need no escape are appended whole.
    size_t plainStart = 0;
    for (size_t pos = 0; pos < text.size(); ++pos) {
        const auto byte = static_cast<unsigned char>(text[pos]);
        if (byte >= 0x20 && byte != '"' && byte != '\\') {
            continue;
        }
        out.append(text, plainStart, pos - plainStart);
        plainStart = pos + 1;
        switch (byte) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default: {
                char code[8] = {};
                std::snprintf(code, sizeof(code), "\\u%04x", byte);
                out += code;
            }
        }
    }
    out.append(text, plainStart, std::string::npos);
}

std::string JsonEscape(const std::string& text) {
    std::string escaped;
    escaped.reserve(text.size() + 8);
    AppendJsonEscaped(escaped, text);
    return escaped;
}

std::string GetJsonValue(const std::string& json, const std::string& key) {
    const std::string pattern = "\"" + key + "\"";
    const size_t keyPos = json.find(pattern);
    if (keyPos == std::string::npos) {
        return std::string();
    }
    const size_t colon = json.find(':', keyPos + pattern.size());
    if (colon == std::string::npos) {
        return std::string();
    }
    size_t start = colon + 1;
    while (start < json.size() && json[start] == ' ') {
        ++start;
    }
    if (start >= json.size()) {
        return std::string();
    }
    if (json[start] == '"') {
        const size_t close = json.find('"', start + 1);
        if (close == std::string::npos) {
            return std::string();
        }
        return json.substr(start + 1, close - start - 1);
    }
    const size_t end = json.find_first_of(",}\n", start);
    if (end == std::string::npos) {
        return std::string();
    }
    return json.substr(start, end - start);
}

bool GetJsonBool(const std::string& json, const std::string& key) {
    const std::string value = GetJsonValue(json, key);
    return value == "true" || value == "1";
}

bool JsonUnescape(const std::string& raw, std::string* out) {
    out->clear();
    out->reserve(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '\\') {
            *out += raw[i];
            continue;
        }
        if (i + 1 >= raw.size()) {
            return false;
        }
        const char next = raw[i + 1];
        const char* const simple = "\\/\"bfnrt";
        const char* const decoded = "\\/\"\b\f\n\r\t";
        const char* found = std::strchr(simple, next);
        if (next != '\0' && found) {
            *out += decoded[found - simple];
            ++i;
            continue;
        }
        if (next != 'u') {
            return false;
        }
        const size_t consumed = DecodeUnicodeEscape(raw, i + 1, out);
        if (consumed == 0) {
            return false;
        }
        i += consumed;
    }
    return true;
}
