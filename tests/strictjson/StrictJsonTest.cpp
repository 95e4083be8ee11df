// SPDX-License-Identifier: Apache-2.0
// The tools' JSON reader refuses what would silently change or drop data in a file they
// rewrite, says what and where, and reads what the earlier writer (jsonxx) wrote.
#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "StrictJson.h"

namespace {

TEST(StrictJson, RefusesWhatWouldChangeOrDropDataAndSaysWhere) {
    const std::string deep = std::string(65, '[') + std::string(65, ']');
    const struct {
        const char* what;
        std::string text;
        std::string says;
    } cases[] = {
        {"a key twice", "{\"a\": 1, \"a\": 2}",
         "the key \"a\" appears twice in one object (at byte 12)"},
        {"a key twice deep inside", "{\"a\": [{\"b\": {\"c\": 1, \"c\": 1}}]}",
         "the key \"c\" appears twice"},
        {"a key twice, once escaped", "{\"a\": 1, \"\\u0061\": 2}", "the key \"a\" appears twice"},
        {"text after the document", "{\"a\": 1}  x",
         "there is text after the JSON document (at byte 10)"},
        {"a second document", "{} {}", "there is text after the JSON document (at byte 3)"},
        {"text right after a number", "5x", "there is text after the JSON document (at byte 1)"},
        {"a single-quoted text", "{'a': 1}", "it is not valid JSON (at byte 1"},
        {"a comment", "{\"a\": 1 /* no */}", "it is not valid JSON"},
        {"a trailing comma", "{\"a\": 1,}", "it is not valid JSON"},
        {"bytes that are not UTF-8", "{\"a\": \"\xff\"}", "ill-formed UTF-8"},
        {"a number beyond any double", "[1e999]", "number overflow"},
        {"nothing", "", "it is not valid JSON (at byte 0"},
        {"nesting deeper than the limit", deep, "it is nested too deeply (at byte 64)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        nlohmann::json value;
        std::string error;
        EXPECT_FALSE(strictjson::parse(c.text, value, error));
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
    }
}

TEST(StrictJson, ReadsWhatJsonAllows) {
    const struct {
        const char* what;
        std::string text;
        nlohmann::json value;
    } cases[] = {
        {"an escaped slash, as jsonxx writes it", "{\"p\": \"\\/dev\\/sim\"}", {{"p", "/dev/sim"}}},
        {"white space around", " \n\t{\"a\": [1, 2]}\r\n ", {{"a", {1, 2}}}},
        {"equal keys in different objects", "[{\"a\": 1}, {\"a\": 2}]",
         nlohmann::json::array({{{"a", 1}}, {{"a", 2}}})},
        {"a scalar", "\"x\"", "x"},
        {"nesting at the limit", std::string(64, '[') + std::string(64, ']'), nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        nlohmann::json value;
        std::string error;
        ASSERT_TRUE(strictjson::parse(c.text, value, error)) << error;
        if (!c.value.is_null()) {
            EXPECT_EQ(value, c.value);
        }
    }
    nlohmann::json value;
    std::string error;
    EXPECT_FALSE(strictjson::parseObject("[1]", value, error));
    EXPECT_EQ(error, "it is not a JSON object");
}

TEST(StrictJson, WholeNumbersWithinTheirRange) {
    const int64_t low = std::numeric_limits<int32_t>::min();
    const int64_t high = std::numeric_limits<int32_t>::max();
    const struct {
        const char* text;
        bool whole;
        int64_t value;
    } cases[] = {
        {"5", true, 5},
        {"5.0", true, 5},
        {"-2147483648", true, low},
        {"2147483647", true, high},
        {"2147483648", false, 0},
        {"5.5", false, 0},
        {"\"5\"", false, 0},
        {"18446744073709551615", false, 0},
        {"1e300", false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        int64_t out = 0;
        EXPECT_EQ(strictjson::wholeNumber(nlohmann::json::parse(c.text), low, high, out), c.whole);
        EXPECT_EQ(out, c.value);
    }
}

}  // namespace
