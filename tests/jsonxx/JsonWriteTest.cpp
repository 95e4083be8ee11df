// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <limits>
#include <locale>
#include <string>

#include "jsonxx.h"

using jsonxx::Array;
using jsonxx::Number;
using jsonxx::Object;
using jsonxx::Value;

namespace {

std::string numberText(Number n) {
    Array a;
    a.append(n);
    const std::string text = a.json();  // "[\n\t<number> \n]"
    return text.substr(3, text.size() - 3 - 3);
}

}  // namespace

// These bytes end up in snapshot metadata stored by the host: any change here is a format
// change.
TEST(JsonWrite, NestedObjectHasFixedLayout) {
    Object o;
    ASSERT_TRUE(o.parse(R"({"c": {"d": 1.5}, "b": true, "a": "x/y"})"));
    EXPECT_EQ(o.json(),
              "{\n\t\"a\": \"x\\/y\",\n\t\"b\": true,\n\t\"c\": {\n\t\t\"d\": 1.5 \n\t} \n}");

    Object withLists;
    withLists.import("e", Object());
    withLists.import("l", Array());
    Array list;
    list.append("s");
    list.append(Value());
    list.append(Object());
    withLists.import("m", list);
    EXPECT_EQ(
        withLists.json(),
        "{\n\t\"e\": {\n\t},\n\t\"l\": [\n\t],\n\t\"m\": [\n\t\t\"s\",\n\t\tnull,\n\t\t{\n\t\t} "
        "\n\t] \n}");
    EXPECT_EQ(Object().json(), "{\n}");
    EXPECT_EQ(Array().json(), "[\n]");
    EXPECT_EQ(Value(true).json(), "true");
}

TEST(JsonWrite, KeysInByteOrderWithSlashEscaped) {
    Object o;
    o.import("b", true);
    o.import("a", "a/b");
    o.import("B", false);
    o.import("\xC3\xA9", false);
    o.import("", false);
    EXPECT_EQ(
        o.json(),
        "{\n\t\"\": false,\n\t\"B\": false,\n\t\"a\": \"a\\/b\",\n\t\"b\": true,\n\t\"\xC3\xA9\": "
        "false \n}");
}

TEST(JsonWrite, EscapeStringCoversControlBytesAndPassesHighBytes) {
    EXPECT_EQ(jsonxx::escapeString("q\"b\\s/"), "q\\\"b\\\\s\\/");
    EXPECT_EQ(jsonxx::escapeString("\b\f\n\r\t"), "\\b\\f\\n\\r\\t");
    EXPECT_EQ(jsonxx::escapeString(std::string("\0\x01\x1f\x7f", 4)), "\\u0000\\u0001\\u001f\x7f");
    EXPECT_EQ(jsonxx::escapeString("\x80\xC3\xA9\xFF'"), "\x80\xC3\xA9\xFF'");
    EXPECT_EQ(jsonxx::escapeString(""), "");
}

TEST(JsonWrite, EveryByteSurvivesWriteAndParse) {
    std::string all;
    for (int c = 0; c < 256; ++c) {
        all += static_cast<char>(c);
    }
    Object o;
    o.import(all, all);
    Object back;
    ASSERT_TRUE(back.parse(o.json()));
    ASSERT_TRUE(back.has<std::string>(all));
    EXPECT_EQ(back.get<std::string>(all), all);
}

TEST(JsonWrite, NumbersIntegralPlainOthersShortestRoundTrip) {
    EXPECT_EQ(numberText(0), "0");
    EXPECT_EQ(numberText(1024), "1024");
    EXPECT_EQ(numberText(-7), "-7");
    EXPECT_EQ(numberText(4294967296.0L), "4294967296");
    EXPECT_EQ(numberText(1e20L), "100000000000000000000");
    EXPECT_EQ(numberText(1.5L), "1.5");
    EXPECT_EQ(numberText(0.1L), "0.1");
    EXPECT_EQ(numberText(std::numeric_limits<Number>::quiet_NaN()), "null");
    EXPECT_EQ(numberText(-std::numeric_limits<Number>::infinity()), "null");

    const Number hard[] = {1.0L / 3,
                           1e21L,
                           -2.5e-300L,
                           std::numeric_limits<Number>::max(),
                           std::numeric_limits<Number>::denorm_min(),
                           123456789.123456789L};
    for (const Number n : hard) {
        Array back;
        ASSERT_TRUE(back.parse("[" + numberText(n) + "]")) << numberText(n);
        EXPECT_EQ(back.get<Number>(0), n) << numberText(n);
    }
}

TEST(JsonWrite, NumbersIgnoreTheProcessLocale) {
    // A host may install a global locale with a decimal comma and digit grouping.
    struct CommaDecimal : std::numpunct<char> {
        char do_decimal_point() const override { return ','; }
        char do_thousands_sep() const override { return '.'; }
        std::string do_grouping() const override { return "\3"; }
    };
    const std::locale previous =
        std::locale::global(std::locale(std::locale::classic(), new CommaDecimal));
    const std::string written = numberText(1234.5L);
    Array a;
    const bool parsed = a.parse("[1234.5]");
    std::locale::global(previous);
    EXPECT_EQ(written, "1234.5");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(a.get<Number>(0), 1234.5L);
}

TEST(JsonWrite, WrittenDocumentParsesBackToTheSameText) {
    Object o;
    ASSERT_TRUE(o.parse(R"({"commandStatus": 3, "commandException": {"message": "pool 'p/1' busy\n",
        "codes": [1, -2.25, true, null, [], {}], "\u00e9": "\ud800 \q"}})"));
    const std::string once = o.json();
    Object again;
    ASSERT_TRUE(again.parse(once));
    EXPECT_EQ(again.json(), once);
    EXPECT_EQ(again.get<Object>("commandException").get<std::string>("\xC3\xA9"), "\\ud800 \\q");
}
