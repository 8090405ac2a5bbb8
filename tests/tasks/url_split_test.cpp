#include "tasks/url_split.h"

#include <gtest/gtest.h>

namespace {

struct UrlCase {
    const wchar_t* url;
    const wchar_t* host;
    int port;
    bool secure;
    const wchar_t* path;
};

const UrlCase kUrlCases[] = {
    {L"https://cdn.example.com/packs/a.zip?sig=a%20b&x=1", L"cdn.example.com", 443, true,
     L"/packs/a.zip?sig=a%20b&x=1"},
    {L"http://127.0.0.1:8080/files/a.zip", L"127.0.0.1", 8080, false, L"/files/a.zip"},
    {L"http://example.com", L"example.com", 80, false, L"/"},
    {L"http://example.com:81", L"example.com", 81, false, L"/"},
    {L"https://example.com:8443", L"example.com", 8443, true, L"/"},
    // The first colon after the first slash belongs to the path.
    {L"http://example.com/a:b/c.zip", L"example.com", 80, false, L"/a:b/c.zip"},
    {L"HTTP://example.com/x", L"example.com", 443, false, L"/x"},
    {L"HTTPS://example.com/x", L"example.com", 443, false, L"/x"},
    {L"ftp://example.com/x", L"example.com", 443, false, L"/x"},
    {L"http://example.com:/x", L"example.com", 0, false, L"/x"},
    {L"http://example.com:12ab/x", L"example.com", 12, false, L"/x"},
    {L"http://例子.测试/资源包.zip", L"例子.测试", 80, false, L"/资源包.zip"},
};

}  // namespace

TEST(UrlSplit, SplitsHostPortSchemeAndPath) {
    for (const UrlCase& c : kUrlCases) {
        SCOPED_TRACE(testing::Message() << "url index " << (&c - kUrlCases));
        UrlParts parts;
        ASSERT_TRUE(SplitUrl(c.url, &parts));
        EXPECT_EQ(parts.host, c.host);
        EXPECT_EQ(parts.port, c.port);
        EXPECT_EQ(parts.secure, c.secure);
        EXPECT_EQ(parts.path, c.path);
    }
}

TEST(UrlSplit, RejectsUrlsWithoutSchemeSeparatorOrWithImpossiblePorts) {
    UrlParts parts;
    parts.host = L"untouched";
    for (const wchar_t* url : {L"", L"ht", L"example.com/a.zip", L"http:/example.com", L"http//x",
                               L"http://example.com:65536/a", L"http://example.com:99999999999999999999/"}) {
        EXPECT_FALSE(SplitUrl(url, &parts)) << std::wstring(url).size();
        EXPECT_EQ(parts.host, L"untouched");
    }
    EXPECT_TRUE(SplitUrl(L"http://example.com:65535/a", &parts));
    EXPECT_EQ(parts.port, 65535);
}
