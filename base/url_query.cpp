#include "base/url_query.h"

#include <cstdlib>

namespace {

// The two characters after "%" read the way strtol with base 16 reads them (leading valid digits;
// none gives 0); only the low 8 bits are kept.
unsigned char DecodeHexPair(char high, char low) {
    const char digits[3] = {high, low, '\0'};
    return static_cast<unsigned char>(std::strtol(digits, nullptr, 16) & 0xFF);
}

}  // namespace

std::string UrlDecode(const std::string& text) {
    std::string decoded;
    decoded.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char ch = text[i];
        if (ch == '+') {
            decoded += ' ';
        } else if (ch == '%' && i + 2 < text.size()) {
            decoded += static_cast<char>(DecodeHexPair(text[i + 1], text[i + 2]));
            i += 2;
        } else {
            decoded += ch;
        }
    }
    return decoded;
}

void AddQueryPairs(const std::string& text, std::map<std::string, std::string>* pairs) {
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('&', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string piece = text.substr(start, end - start);
        const size_t equals = piece.find('=');
        if (equals != std::string::npos) {
            (*pairs)[UrlDecode(piece.substr(0, equals))] = UrlDecode(piece.substr(equals + 1));
        }
        start = end + 1;
    }
}
