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

TEST(JsonUnescape, DecodesStandardEscapesAndFailsOnOthers) {
    const auto decoded = [](const std::string& raw) {
        std::string out;
        return JsonUnescape(raw, &out) ? out : std::string("<failed>");
    };
    EXPECT_EQ(decoded("D:\\\\Games\\\\Assets"), "D:\\Games\\Assets");
    EXPECT_EQ(decoded("a\\/b\\\"c"), "a/b\"c");
    EXPECT_EQ(decoded("\\b\\f\\n\\r\\t"), "\b\f\n\r\t");
    EXPECT_EQ(decoded("\\u4e2d\\u6587"), "\xE4\xB8\xAD\xE6\x96\x87");
    EXPECT_EQ(decoded("\\ud83d\\ude00"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(decoded("\\ud83dx"), "\xEF\xBF\xBDx");  // lone surrogate
    EXPECT_EQ(decoded("\\u0000"), std::string(1, '\0'));
    // Typed with single backslashes: escapes JSON does not know, or cut short.
    for (const char* raw : {"D:\\Games", "D:\\Music\\new", "\\u00", "\\uzzzz", "end\\", "\\"}) {
        EXPECT_EQ(decoded(raw), "<failed>") << raw;
    }
    // Escapes round-trip through JsonEscape.
    const std::string text = "D:\\\xE4\xB8\xAD \"q\"\t\x01";
    EXPECT_EQ(decoded(JsonEscape(text)), text);
}
