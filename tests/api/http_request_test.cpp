#include "api/http_request.h"

#include <gtest/gtest.h>

namespace {

HttpRequest Parse(const std::string& raw) {
    HttpRequest request;
    EXPECT_TRUE(ParseHttpRequest(raw, &request)) << raw;
    return request;
}

bool Fails(const std::string& raw) {
    HttpRequest request;
    return !ParseHttpRequest(raw, &request);
}

}  // namespace

TEST(ParseHttpRequest, RequestLineWithoutHeaders) {
    const HttpRequest request = Parse("GET /api/status HTTP/1.1\r\n\r\n");
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.path, "/api/status");
    EXPECT_EQ(request.query, "");
    EXPECT_EQ(request.body, "");
    EXPECT_TRUE(request.params.empty());
    // No line break at all is still a request line.
    EXPECT_EQ(Parse("post /x?a=1 HTTP/1.0").method, "post");
}

TEST(ParseHttpRequest, MalformedRequestLinesFail) {
    EXPECT_TRUE(Fails(""));
    EXPECT_TRUE(Fails("\n"));
    EXPECT_TRUE(Fails("GET\r\n\r\n"));
    EXPECT_TRUE(Fails("GET /api/status\r\n\r\n"));  // no version: one space only
    EXPECT_TRUE(Fails("GET \r\n"));
    EXPECT_TRUE(Fails("GET "));
    EXPECT_TRUE(Fails("\r\n\r\n"));
}

TEST(ParseHttpRequest, TargetSplitsAtFirstQuestionMarkWithoutDecoding) {
    const HttpRequest request = Parse("GET /api/download?url=a%20b&name=x+y?z HTTP/1.1\r\n\r\n");
    EXPECT_EQ(request.path, "/api/download");
    EXPECT_EQ(request.query, "url=a%20b&name=x+y?z");
    EXPECT_EQ(request.params.at("url"), "a b");
    EXPECT_EQ(request.params.at("name"), "x y?z");
    EXPECT_EQ(Parse("GET /a%20b HTTP/1.1\r\n\r\n").path, "/a%20b");
}

TEST(ParseHttpRequest, PairsRulesAndBodyOverridesQuery) {
    const std::string raw =
        "POST /api/download?name=y&url=u&flag&=empty&k=v=w HTTP/1.1\r\nContent-Length: 6\r\n\r\nname=z";
    const HttpRequest request = Parse(raw);
    EXPECT_EQ(request.body, "name=z");
    EXPECT_EQ(request.params.at("name"), "z");
    EXPECT_EQ(request.params.at("url"), "u");
    EXPECT_EQ(request.params.count("flag"), 0u);
    EXPECT_EQ(request.params.at(""), "empty");
    EXPECT_EQ(request.params.at("k"), "v=w");
    EXPECT_EQ(request.params.size(), 4u);
}

TEST(ParseHttpRequest, ContentLengthHeaderRules) {
    // Any capitalisation, leading spaces skipped, the last header wins.
    EXPECT_EQ(Parse("POST / HTTP/1.1\r\nCONTENT-LENGTH:    3\r\n\r\nabc").body, "abc");
    EXPECT_EQ(Parse("POST / HTTP/1.1\r\nContent-Length: 9\r\ncontent-length: 2\r\n\r\nabc").body, "ab");
    // Zero, negative, garbage and missing lengths give no body.
    EXPECT_EQ(Parse("POST / HTTP/1.1\r\nContent-Length: 0\r\n\r\nabc").body, "");
    EXPECT_EQ(Parse("POST / HTTP/1.1\r\nContent-Length: -5\r\n\r\nabc").body, "");
    EXPECT_EQ(Parse("POST / HTTP/1.1\r\nContent-Length: x\r\n\r\nabc").body, "");
    EXPECT_EQ(Parse("POST / HTTP/1.1\r\n\r\nabc").body, "");
    // Longer than what is there: no body rather than a piece of the headers.
    EXPECT_EQ(Parse("POST / HTTP/1.1\r\nContent-Length: 20\r\n\r\nabc").body, "");
    // Bare LF line ends are accepted.
    EXPECT_EQ(Parse("POST / HTTP/1.1\nContent-Length: 3\n\nabc").body, "abc");
    // A header named in the target or the body is not a header.
    EXPECT_EQ(Parse("GET /?Content-Length:5 HTTP/1.1\r\n\r\nabcde").body, "");
}

TEST(ParseHttpRequest, HugeContentLengthDoesNotWrap) {
    EXPECT_EQ(Parse("POST / HTTP/1.1\r\nContent-Length: 18446744073709551617\r\n\r\nabc").body, "");
    EXPECT_EQ(ParseLeadingInteger("18446744073709551617"), 1LL << 53);
    EXPECT_EQ(ParseLeadingInteger("-99999999999999999999"), -(1LL << 53));
    EXPECT_EQ(ParseLeadingInteger("  +42xyz"), 42);
    EXPECT_EQ(ParseLeadingInteger("9000 "), 9000);
    EXPECT_EQ(ParseLeadingInteger("\"9000\""), 0);
    EXPECT_EQ(ParseLeadingInteger(""), 0);
}

TEST(ParseHttpRequest, HostAndOriginHeadersAreCollectedTrimmed) {
    const HttpRequest request = Parse(
        "POST / HTTP/1.1\r\nhost:  127.0.0.1:80 \r\nORIGIN:\thttp://a.example\r\nHost: evil\r\n"
        "X-Host: no\r\n\r\n");
    ASSERT_EQ(request.hostHeaders.size(), 2u);
    EXPECT_EQ(request.hostHeaders[0], "127.0.0.1:80");
    EXPECT_EQ(request.hostHeaders[1], "evil");
    ASSERT_EQ(request.originHeaders.size(), 1u);
    EXPECT_EQ(request.originHeaders[0], "http://a.example");
    // Headers after the empty line belong to the body.
    EXPECT_TRUE(Parse("GET / HTTP/1.1\r\n\r\nHost: evil\r\n").hostHeaders.empty());
}

TEST(ScanHeaderBlock, FindsTheBodyStartOnlyOnceTheEmptyLineArrived) {
    EXPECT_EQ(ScanHeaderBlock("GET / HTTP/1.1\r\nA: b\r\n").bodyStart, std::string::npos);
    EXPECT_EQ(ScanHeaderBlock("GET / HTTP/1.1\r\nA: b\r\n\r").bodyStart, std::string::npos);
    EXPECT_EQ(ScanHeaderBlock("GET / HTTP/1.1\r\nA: b\r\n\r\nxyz").bodyStart, 24u);
    EXPECT_EQ(ScanHeaderBlock("GET / HTTP/1.1\r\n\r\n").bodyStart, 18u);
    EXPECT_EQ(ScanHeaderBlock("GET / HTTP/1.1\n\n").bodyStart, 16u);
}

TEST(UrlDecode, EscapesPlusAndShortPercent) {
    EXPECT_EQ(UrlDecode("a%20b+c"), "a b c");
    EXPECT_EQ(UrlDecode("%E4%B8%AD"), "\xE4\xB8\xAD");
    EXPECT_EQ(UrlDecode("%zz"), std::string(1, '\0'));
    EXPECT_EQ(UrlDecode("%zzx"), std::string("\0x", 2));
    EXPECT_EQ(UrlDecode("%4z"), "\x04");  // leading valid digits only
    EXPECT_EQ(UrlDecode("%2B"), "+");     // an escaped plus stays a plus
    EXPECT_EQ(UrlDecode("100%"), "100%");
    EXPECT_EQ(UrlDecode("a%4"), "a%4");
    EXPECT_EQ(UrlDecode("%"), "%");
    EXPECT_EQ(UrlDecode("%%41"), std::string("\0"
                                             "1",
                                             2));  // "%%4" is one escape, then "1"
    EXPECT_EQ(UrlDecode(""), "");
}
