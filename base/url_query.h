// Decoding of URL query texts, shared by the local API's requests and the page's download links.
#pragma once

#include <map>
#include <string>

// "+" becomes a space, "%XY" the byte strtol(XY, 16) gives (%zz gives 0); a "%" with fewer than two
// characters after it is copied unchanged.
std::string UrlDecode(const std::string& text);

// Splits `text` at every "&" and adds each "key=value" piece, both halves URL-decoded, to `pairs`;
// a piece without "=" is skipped, and a later key replaces an earlier one.
void AddQueryPairs(const std::string& text, std::map<std::string, std::string>* pairs);
