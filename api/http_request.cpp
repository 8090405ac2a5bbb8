#include "api/http_request.h"

#include "base/text_util.h"

#include <algorithm>
#include <cctype>

namespace {

constexpr long long kIntegerLimit = 1LL << 53;

std::string TrimBlanks(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return std::string();
    }
    const size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

// Value of "name: value" after the line's first ":".
std::string HeaderValue(const std::string& line) {
    return line.substr(line.find(':') + 1);
}

}  // namespace

HeaderBlockInfo ScanHeaderBlock(const std::string& raw) {
    HeaderBlockInfo info;
    size_t lineStart = raw.find('\n');
    if (lineStart == std::string::npos) {
        return info;
    }
    ++lineStart;
    while (lineStart <= raw.size()) {
        const size_t lineEnd = raw.find('\n', lineStart);
        std::string line =
            raw.substr(lineStart, lineEnd == std::string::npos ? std::string::npos : lineEnd - lineStart);
        if (line.empty() || line == "\r") {
            if (lineEnd != std::string::npos) {
                info.bodyStart = lineEnd + 1;
            }
            return info;
        }
        if (line.back() == '\r') {
            line.pop_back();
        }
        const std::string lower = LowerAscii(line);
        if (StartsWith(lower, "content-length:")) {
            const std::string value = HeaderValue(line);
            info.contentLengthText = value.substr(std::min(value.size(), value.find_first_not_of(' ')));
        } else if (StartsWith(lower, "host:")) {
            info.hostHeaders.push_back(TrimBlanks(HeaderValue(line)));
        } else if (StartsWith(lower, "origin:")) {
            info.originHeaders.push_back(TrimBlanks(HeaderValue(line)));
        } else if (StartsWith(lower, "sec-fetch-site:")) {
            info.fetchSiteHeaders.push_back(TrimBlanks(HeaderValue(line)));
        } else if (StartsWith(lower, "user-agent:")) {
            info.userAgentHeaders.push_back(TrimBlanks(HeaderValue(line)));
        }
        if (lineEnd == std::string::npos) {
            return info;
        }
        lineStart = lineEnd + 1;
    }
    return info;
}

long long ParseLeadingInteger(const std::string& text) {
    size_t pos = 0;
    while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos]))) {
        ++pos;
    }
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    long long value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        value = value * 10 + (text[pos] - '0');
        if (value > kIntegerLimit) {
            value = kIntegerLimit;
        }
        ++pos;
    }
    return negative ? -value : value;
}

bool ParseHttpRequest(const std::string& raw, HttpRequest* request) {
    *request = HttpRequest();
    const size_t lineEnd = raw.find('\n');
    const std::string line = raw.substr(0, lineEnd);
    if (line.empty()) {
        return false;
    }
    const size_t firstSpace = line.find(' ');
    if (firstSpace == std::string::npos || firstSpace + 1 >= line.size()) {
        return false;
    }
    const size_t secondSpace = line.find(' ', firstSpace + 1);
    if (secondSpace == std::string::npos) {
        return false;
    }
    request->method = line.substr(0, firstSpace);
    const std::string target = line.substr(firstSpace + 1, secondSpace - firstSpace - 1);
    const size_t question = target.find('?');
    if (question == std::string::npos) {
        request->path = target;
    } else {
        request->path = target.substr(0, question);
        request->query = target.substr(question + 1);
    }

    HeaderBlockInfo headers = ScanHeaderBlock(raw);
    request->hostHeaders = std::move(headers.hostHeaders);
    request->originHeaders = std::move(headers.originHeaders);
    request->fetchSiteHeaders = std::move(headers.fetchSiteHeaders);
    request->userAgentHeaders = std::move(headers.userAgentHeaders);
    if (!headers.contentLengthText.empty() && headers.bodyStart != std::string::npos) {
        const long long length = ParseLeadingInteger(headers.contentLengthText);
        // Only a body that arrived whole is taken; the server never hands over a shorter one.
        if (length >= 1 && static_cast<unsigned long long>(length) <= raw.size() - headers.bodyStart) {
            request->body = raw.substr(headers.bodyStart, static_cast<size_t>(length));
        }
    }

    std::string paramText = request->query;
    if (!request->body.empty()) {
        if (!paramText.empty()) {
            paramText += '&';
        }
        paramText += request->body;
    }
    AddQueryPairs(paramText, &request->params);
    return true;
}
