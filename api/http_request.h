// Parsing of one HTTP/1.1 request of the local API: request line, the few headers the server acts
// on, the body and the form parameters of query and body.
#pragma once

#include "base/url_query.h"

#include <map>
#include <string>
#include <vector>

struct HttpRequest {
    std::string method;  // first word of the request line, case kept
    std::string path;    // target before its first "?", not decoded
    std::string query;   // target after its first "?", not decoded
    std::string body;    // the Content-Length bytes after the header block
    // URL-decoded pairs of query and body; a later key (so a body key) replaces an earlier one.
    std::map<std::string, std::string> params;
    // Every Host, Origin, Sec-Fetch-Site and User-Agent header value, trimmed, in the order sent.
    // Kept apart from the other headers because the server refuses requests from foreign sites by
    // them.
    std::vector<std::string> hostHeaders;
    std::vector<std::string> originHeaders;
    std::vector<std::string> fetchSiteHeaders;
    std::vector<std::string> userAgentHeaders;
};

// What the header block of a raw request says, as far as it arrived.
struct HeaderBlockInfo {
    // Offset of the first body byte (just after the empty line that ends the headers), or npos
    // while the empty line has not arrived.
    size_t bodyStart = std::string::npos;
    // Value of the last Content-Length header line, leading spaces removed; empty when none.
    std::string contentLengthText;
    std::vector<std::string> hostHeaders;
    std::vector<std::string> originHeaders;
    std::vector<std::string> fetchSiteHeaders;
    std::vector<std::string> userAgentHeaders;
};

// Reads the header lines after the request line. A line that is empty or only "\r" ends them.
HeaderBlockInfo ScanHeaderBlock(const std::string& raw);

// The number at the start of `text` the way atoi reads it (leading blanks, a sign, digits), but
// saturating at +/-2^53 instead of overflowing, so that hostile lengths cannot wrap around.
long long ParseLeadingInteger(const std::string& text);

// Fills `request` from the raw request text; false when there is no request line with a method
// and a target followed by a version.
bool ParseHttpRequest(const std::string& raw, HttpRequest* request);
