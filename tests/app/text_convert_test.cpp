#include "api/text_convert.h"

#include <gtest/gtest.h>

TEST(TextConvert, EmptyStaysEmpty) {
    EXPECT_EQ(Utf8ToWide(""), L"");
    EXPECT_EQ(WideToUtf8(L""), "");
}
