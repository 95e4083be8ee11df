// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "jsonxx.h"

using jsonxx::Array;
using jsonxx::Number;
using jsonxx::Object;
using jsonxx::Value;

namespace {

// The string member "s" of the one-member object `text`, or "<parse failed>".
std::string stringOf(const std::string& text) {
    Object o;
    if (!o.parse(text) || !o.has<std::string>("s")) {
        return "<parse failed>";
    }
    return o.get<std::string>("s");
}

std::string nested(int depth, const std::string& open, const std::string& close) {
    std::string text;
    for (int i = 0; i < depth; ++i) {
        text += open;
    }
    for (int i = 0; i < depth; ++i) {
        text += close;
    }
    return text;
}

// A JSON array of `count` zeros.
std::string zeros(size_t count) {
    std::string text = "[";
    for (size_t i = 0; i < count; ++i) {
        text += i == 0 ? "0" : ",0";
    }
    return text + "]";
}

}  // namespace

TEST(JsonParse, EmptyContainersParseAndBareOpenBracketFails) {
    Object o;
    EXPECT_TRUE(o.parse("{}"));
    EXPECT_TRUE(o.empty());
    Array a;
    EXPECT_TRUE(a.parse(" \n\t[ ]"));
    EXPECT_TRUE(a.empty());
    EXPECT_FALSE(a.parse("["));
    for (const char* bad : {"", "   ", "[]", "{", "null", "\"x\"", "{]", "{,}"}) {
        EXPECT_FALSE(o.parse(bad)) << bad;
    }
    EXPECT_FALSE(a.parse("{}"));
}

TEST(JsonParse, ParseEmptiesFirstAndLeavesNothingOnFailure) {
    Object o;
    o.import("old", true);
    ASSERT_TRUE(o.parse(R"({"new": 1})"));
    EXPECT_FALSE(o.has<bool>("old"));
    EXPECT_TRUE(o.has<Number>("new"));
    EXPECT_FALSE(o.parse(R"({"a": 1, "b": })"));
    EXPECT_TRUE(o.empty());

    // The text may be a string the object itself holds.
    o.import("doc", std::string(R"({"inner": true})"));
    ASSERT_TRUE(o.parse(o.get<std::string>("doc")));
    EXPECT_TRUE(o.get<bool>("inner"));
}

TEST(JsonParse, TrailingCommaOnlyBeforeClosingBraceAndTrailingTextIgnored) {
    Object o;
    EXPECT_TRUE(o.parse(R"({"a": 1,})"));
    EXPECT_TRUE(o.parse(R"({"a": 1 ,
    })"));
    Array a;
    EXPECT_FALSE(a.parse("[1,]"));
    EXPECT_FALSE(a.parse("[,1]"));
    EXPECT_FALSE(o.parse(R"({"a": 1,,})"));
    EXPECT_TRUE(o.parse(R"({"a": 1} trailing garbage {)"));
    EXPECT_TRUE(a.parse("[1][2"));
    EXPECT_EQ(a.size(), 1u);
}

TEST(JsonParse, DuplicateKeyKeepsLaterValue) {
    Object o;
    ASSERT_TRUE(o.parse(R"({"k": 1, "x": null, "k": "later"})"));
    EXPECT_EQ(o.size(), 2u);
    EXPECT_EQ(o.get<std::string>("k"), "later");
    EXPECT_TRUE(o.has<jsonxx::Null>("x"));

    // Members in any order and repeated any number of times: each key once, in key order, with
    // the value given last.
    struct Row {
        const char* text;
        const char* members;  // key=value, in iteration order
    };
    const Row rows[] = {
        {R"({"c": 1, "b": 2, "a": 3})", "a=3 b=2 c=1"},
        {R"({"b": 1, "a": 2, "b": 3, "a": 4, "a": 5})", "a=5 b=3"},
        {R"({"k": {"x": 1}, "k": [], "k": true, "j": null,})", "j=null k=true"},
        {R"({"a": 1, "a": 1, "b": {"z": 1, "y": 2, "z": 3}})", "a=1 b={y=2 z=3}"},
    };
    std::function<std::string(const Object&)> members = [&](const Object& object) {
        std::string text;
        for (const auto& [key, value] : object.kv_map()) {
            text += (text.empty() ? "" : " ") + key + "=" +
                    (value.is<Object>() ? "{" + members(value.get<Object>()) + "}" : value.json());
        }
        return text;
    };
    for (const Row& row : rows) {
        ASSERT_TRUE(o.parse(row.text)) << row.text;
        EXPECT_EQ(members(o), row.members) << row.text;
        EXPECT_EQ(o.kv_map().count("a"), std::string(row.members).rfind("a=", 0) == 0 ? 1u : 0u);
    }
}

TEST(JsonParse, SingleQuotedStringsAndKeys) {
    Object o;
    ASSERT_TRUE(o.parse(R"({'k': 'say "hi"', "d": "it's"})"));
    EXPECT_EQ(o.get<std::string>("k"), R"(say "hi")");
    EXPECT_EQ(o.get<std::string>("d"), "it's");
    // An escaped quote of either kind never closes the string; \' is not a known escape.
    EXPECT_EQ(stringOf(R"({'s': 'it\'s'})"), R"(it\'s)");
    EXPECT_FALSE(o.parse(R"({"k": 'mismatched"})"));
}

TEST(JsonParse, KnownEscapesDecodedAndUnknownKeptAsWritten) {
    EXPECT_EQ(stringOf(R"({"s": "\"\\\/\b\f\n\r\t"})"), "\"\\/\b\f\n\r\t");
    EXPECT_EQ(stringOf(R"({"s": "a\qb\x41\%"})"), R"(a\qb\x41\%)");
    EXPECT_EQ(stringOf(R"({"s": "C:\\dir\\f"})"), R"(C:\dir\f)");
}

TEST(JsonParse, UnicodeEscapesBecomeUtf8WithSurrogatePairsCombined) {
    EXPECT_EQ(stringOf(R"({"s": "\u0041\u00e9\u20AC"})"), "A\xC3\xA9\xE2\x82\xAC");
    EXPECT_EQ(stringOf(R"({"s": "\ud83d\uDE00!"})"), "\xF0\x9F\x98\x80!");
    EXPECT_EQ(stringOf(R"({"s": "\uDBFF\uDFFF"})"), "\xF4\x8F\xBF\xBF");
    EXPECT_EQ(stringOf(R"({"s": "a\u0000b"})"), std::string("a\0b", 3));
}

TEST(JsonParse, MalformedUnicodeEscapesKeptAsWritten) {
    EXPECT_EQ(stringOf(R"({"s": "\u12"})"), R"(\u12)");
    EXPECT_EQ(stringOf(R"({"s": "\uZZZZ"})"), R"(\uZZZZ)");
    EXPECT_EQ(stringOf(R"({"s": "\ud800x"})"), R"(\ud800x)");
    EXPECT_EQ(stringOf(R"({"s": "\udc00\ud800"})"), R"(\udc00\ud800)");
    EXPECT_EQ(stringOf(R"({"s": "\ud800\u0041"})"), R"(\ud800A)");
    EXPECT_EQ(stringOf(R"({"s": "\ud800\ud800\udc00"})"), "\\ud800\xF0\x90\x80\x80");
    // Escapes cut off by the end of the text: unterminated string, no read past the end.
    for (const char* cut :
         {R"({"s": "\)", R"({"s": "\u)", R"({"s": "\u00)", R"({"s": "\ud800\u)"}) {
        EXPECT_EQ(stringOf(cut), "<parse failed>") << cut;
    }
}

TEST(JsonParse, NumbersFollowJsonGrammar) {
    Array a;
    ASSERT_TRUE(a.parse("[0, -0, 42, -7, 1.5, 2e3, 2E-2, 1e+2, 0.25e1, 123456789012345678]"));
    const Number expected[] = {0, 0, 42, -7, 1.5L, 2000, 0.02L, 100, 2.5L, 123456789012345678.0L};
    ASSERT_EQ(a.size(), 10u);
    for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a.get<Number>(i), expected[i]) << i;
    }
    for (const char* bad : {"[01]", "[+1]", "[.5]", "[1.]", "[1e]", "[1e+]", "[-]", "[--1]",
                            "[0x10]", "[NaN]", "[Infinity]", "[-Infinity]", "[nan]", "[1,5.]"}) {
        EXPECT_FALSE(a.parse(bad)) << bad;
    }
}

TEST(JsonParse, NumberBeyondLongDoubleFailsAndTinyOneBecomesZero) {
    Array a;
    EXPECT_FALSE(a.parse("[1e99999]"));
    EXPECT_FALSE(a.parse("[-1e99999]"));
    EXPECT_FALSE(a.parse("[1" + std::string(5000, '0') + "]"));
    ASSERT_TRUE(a.parse("[1e-99999]"));
    EXPECT_EQ(a.get<Number>(0), 0);
}

TEST(JsonParse, LiteralsMustBeComplete) {
    Array a;
    ASSERT_TRUE(a.parse("[true,false,null]"));
    EXPECT_TRUE(a.get<bool>(0));
    EXPECT_TRUE(a.has<bool>(1));
    EXPECT_FALSE(a.get<bool>(1));
    EXPECT_TRUE(a.has<jsonxx::Null>(2));
    for (const char* bad : {"[tru]", "[nul", "[True]", "[truex]", "[undefined]", "[f]"}) {
        EXPECT_FALSE(a.parse(bad)) << bad;
    }
}

TEST(JsonParse, NestingBoundAtMaxDepth) {
    const int max = jsonxx::kMaxDepth;
    Array a;
    EXPECT_TRUE(a.parse(nested(max, "[", "]")));
    EXPECT_FALSE(a.parse(nested(max + 1, "[", "]")));
    Object o;
    EXPECT_TRUE(o.parse(nested(max - 1, "{\"k\":", "}").insert((max - 1) * 5, "{}")));
    EXPECT_FALSE(o.parse(nested(max, "{\"k\":", "}").insert(max * 5, "{}")));
    // Mixed containers count alike: 2 * 256 + 1 levels is one too many.
    Value v;
    EXPECT_TRUE(v.parse(nested(255, "[{\"k\":", "}]").insert(255 * 6, "[]")));
    EXPECT_FALSE(v.parse(nested(256, "[{\"k\":", "}]").insert(256 * 6, "[]")));
    // Far deeper input fails instead of overflowing the stack.
    EXPECT_FALSE(a.parse(std::string(1000000, '[')));
}

TEST(JsonParse, EveryTruncationOfADocumentFails) {
    const std::string doc =
        R"({"a": [1, -2.5e3, "x\u00e9\ud83d\ude00", {'b': null}], "c": true, "d": "\/"})";
    Object o;
    ASSERT_TRUE(o.parse(doc));
    for (size_t n = 0; n < doc.size(); ++n) {
        EXPECT_FALSE(o.parse(doc.substr(0, n))) << n;
    }
}

TEST(JsonParse, EmbeddedNulIsTextInsideStringsAndGarbageOutside) {
    const std::string inside("{\"s\": \"a\0b\"}", 12);
    EXPECT_EQ(stringOf(inside), std::string("a\0b", 3));
    Object o;
    EXPECT_FALSE(o.parse(std::string("{\0}", 3)));
    EXPECT_FALSE(o.parse(std::string("\0{}", 3)));
    for (const char* bad : {"{a: 1}", "{\"a\" 1}", "{\"a\": 1 \"b\": 2}", "{1: 2}", "{\"a\":}",
                            "{\"a\": [1 2]}", "{\"a\": \"unterminated}", "\xff\xfe{}"}) {
        EXPECT_FALSE(o.parse(bad)) << bad;
    }
}

TEST(JsonParse, ValueParsesAnyKindAndIsNullOnFailure) {
    Value v;
    ASSERT_TRUE(v.parse("  -12.5 rest"));
    EXPECT_EQ(v.get<Number>(), -12.5L);
    ASSERT_TRUE(v.parse("'text'"));
    EXPECT_EQ(v.get<std::string>(), "text");
    ASSERT_TRUE(v.parse("[{}]"));
    EXPECT_TRUE(v.get<Array>().has<Object>(0));
    EXPECT_FALSE(v.parse("[{]"));
    EXPECT_EQ(v.type(), Value::NULL_);
}

TEST(JsonParse, LimitsRefuseWithTheirReason) {
    using jsonxx::ParseError;
    using jsonxx::ParseLimits;
    struct Row {
        const char* name;
        std::string text;
        ParseLimits limits;
        ParseError error;
        const char* reason;
    };
    const ParseLimits small{4, 3};
    const Row rows[] = {
        {"the outer array and three elements fit", "[1, 2, 3]", small, ParseError::None, ""},
        {"a fourth element is one value too many", "[1, 2, 3, 4]", small, ParseError::TooManyValues,
         "exceeds 4 values"},
        {"containers and members' values count alike", R"([{"a": []}, "x", 1])", small,
         ParseError::TooManyValues, "exceeds 4 values"},
        {"three levels of nesting fit", "[[[]]]", small, ParseError::None, ""},
        {"a fourth level is too deep", "[[[[]]]]", small, ParseError::TooDeep,
         "nests deeper than 3 levels"},
        {"not JSON is a syntax error", "[1,", small, ParseError::Syntax, "is not valid JSON"},
        {"a syntax error before the limit is one", "[1 2, 3, 4, 5]", small, ParseError::Syntax,
         "is not valid JSON"},
        {"an array of small values one past the default limit", zeros(jsonxx::kMaxValues),
         jsonxx::kDefaultLimits, ParseError::TooManyValues, "exceeds 2000000 values"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Array a;
        ParseError error = ParseError::Syntax;
        EXPECT_EQ(a.parse(row.text, row.limits, error), row.error == ParseError::None);
        EXPECT_EQ(error, row.error);
        EXPECT_EQ(jsonxx::parseErrorText(error, row.limits), row.reason);
        if (row.error != ParseError::None) {
            EXPECT_TRUE(a.empty());
        }
        // The one-argument parse applies the default limits.
        if (row.limits.values == jsonxx::kMaxValues) {
            EXPECT_FALSE(a.parse(row.text));
        }
    }
    // An object counts itself and each member's value, not its keys.
    jsonxx::Object o;
    ParseError error = ParseError::Syntax;
    EXPECT_TRUE(o.parse(R"({"a": 1, "b": {"c": 2}})", small, error));
    EXPECT_EQ(error, ParseError::None);
    EXPECT_FALSE(o.parse(R"({"a": 1, "b": {"c": 2}, "d": 3})", small, error));
    EXPECT_EQ(error, ParseError::TooManyValues);
}
