#include "base/text_convert.h"

#include <gtest/gtest.h>

TEST(TextConvert, RoundTripsChineseAndAstralText) {
    EXPECT_EQ(Utf8ToWide(""), L"");
    EXPECT_EQ(WideToUtf8(L""), "");
    const std::string name = "特效包_\xF0\x9F\x98\x80.zip";
    const std::wstring wide = Utf8ToWide(name);
    EXPECT_EQ(wide, L"特效包_\xD83D\xDE00.zip");
    EXPECT_EQ(WideToUtf8(wide), name);
}

TEST(TextConvert, InvalidInputBecomesReplacementCharacters) {
    EXPECT_EQ(Utf8ToWide("a\xFF"
                         "b"),
              L"a\xFFFD"
              L"b");
    EXPECT_EQ(WideToUtf8(std::wstring(L"a\xD800"
                                      L"b")),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(Utf8ToWide(std::string("a\0b", 3)), std::wstring(L"a\0b", 3))
        << "explicit length, not C strings";
}
