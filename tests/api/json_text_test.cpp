#include "api/json_text.h"

#include <gtest/gtest.h>

TEST(JsonEscape, EscapesQuotesBackslashesAndControlBytes) {
    EXPECT_EQ(JsonEscape("D:\\Downloads"), "D:\\\\Downloads");
    EXPECT_EQ(JsonEscape("say \"hi\""), "say \\\"hi\\\"");
    EXPECT_EQ(JsonEscape("\b\f\n\r\t"), "\\b\\f\\n\\r\\t");
    EXPECT_EQ(JsonEscape(std::string("\x00\x01\x1f\x7f", 4)), "\\u0000\\u0001\\u001f\x7f");
    EXPECT_EQ(JsonEscape("\xE4\xB8\xAD\xE6\x96\x87/"), "\xE4\xB8\xAD\xE6\x96\x87/");
    EXPECT_EQ(JsonEscape(""), "");
}

TEST(GetJsonValue, NumbersStringsAndTheirTerminators) {
    EXPECT_EQ(GetJsonValue("{\"port\": 9000}", "port"), "9000");
    EXPECT_EQ(GetJsonValue("{\"port\":\"9000\"}", "port"), "9000");
    EXPECT_EQ(GetJsonValue("{\"port\":9000 }", "port"), "9000 ");
    EXPECT_EQ(GetJsonValue("{\"port\":9000\n}", "port"), "9000");
    EXPECT_EQ(GetJsonValue("{\"a\":1,\"port\":2,\"port\":3}", "port"), "2");
    EXPECT_EQ(GetJsonValue("{\"other\":1}", "port"), "");
    EXPECT_EQ(GetJsonValue("{\"port\":9000", "port"), "");  // no terminator
    EXPECT_EQ(GetJsonValue("{\"port\":", "port"), "");
    EXPECT_EQ(GetJsonValue("{\"port\"   ", "port"), "");
    EXPECT_EQ(GetJsonValue("{\"port\":\"90", "port"), "");  // no closing quote
    EXPECT_EQ(GetJsonValue("{\"port\":null}", "port"), "null");
    EXPECT_EQ(GetJsonValue("", "port"), "");
    // Found anywhere, even inside another string value; the first occurrence wins.
    EXPECT_EQ(GetJsonValue("{\"x\":{\"port\":7},\"port\":8}", "port"), "7");
}

TEST(GetJsonValue, StringValuesKeepTheirEscapesAsSent) {
    EXPECT_EQ(GetJsonValue("{\"devDir\":\"D:\\\\dev\\\\x\"}", "devDir"), "D:\\\\dev\\\\x");
    EXPECT_EQ(GetJsonValue("{\"devDir\":\"D:\\dev\"}", "devDir"), "D:\\dev");
    // A backslash does not protect a quote: the value ends there.
    EXPECT_EQ(GetJsonValue("{\"devDir\":\"a\\\"b\"}", "devDir"), "a\\");
}

TEST(GetJsonBool, OnlyTrueAndOneCount) {
    EXPECT_TRUE(GetJsonBool("{\"autoExtract\":true}", "autoExtract"));
    EXPECT_TRUE(GetJsonBool("{\"autoExtract\": 1}", "autoExtract"));
    EXPECT_TRUE(GetJsonBool("{\"autoExtract\":\"true\"}", "autoExtract"));
    EXPECT_TRUE(GetJsonBool("{\"autoExtract\":\"1\"}", "autoExtract"));
    EXPECT_FALSE(GetJsonBool("{\"autoExtract\":false}", "autoExtract"));
    EXPECT_FALSE(GetJsonBool("{\"autoExtract\":0}", "autoExtract"));
    EXPECT_FALSE(GetJsonBool("{\"autoExtract\":true }", "autoExtract"));
    EXPECT_FALSE(GetJsonBool("{\"autoExtract\":TRUE}", "autoExtract"));
    EXPECT_FALSE(GetJsonBool("{}", "autoExtract"));
}

TEST(JsonUnescape, DecodesStandardEscapesAndKeepsOthers) {
    EXPECT_EQ(JsonUnescape("D:\\\\Games\\\\Assets"), "D:\\Games\\Assets");
    EXPECT_EQ(JsonUnescape("D:\\Games"), "D:\\Games");  // typed with single backslashes
    EXPECT_EQ(JsonUnescape("a\\/b\\\"c"), "a/b\"c");
    EXPECT_EQ(JsonUnescape("\\b\\f\\n\\r\\t"), "\b\f\n\r\t");
    EXPECT_EQ(JsonUnescape("\\u4e2d\\u6587"), "\xE4\xB8\xAD\xE6\x96\x87");
    EXPECT_EQ(JsonUnescape("\\ud83d\\ude00"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(JsonUnescape("\\ud83dx"), "\xEF\xBF\xBDx");  // lone surrogate
    EXPECT_EQ(JsonUnescape("\\u00"), "\\u00");
    EXPECT_EQ(JsonUnescape("\\uzzzz"), "\\uzzzz");
    EXPECT_EQ(JsonUnescape("\\u0000"), std::string(1, '\0'));
    EXPECT_EQ(JsonUnescape("end\\"), "end\\");
    // Escapes round-trip through JsonEscape.
    const std::string text = "D:\\\xE4\xB8\xAD \"q\"\t\x01";
    EXPECT_EQ(JsonUnescape(JsonEscape(text)), text);
}
