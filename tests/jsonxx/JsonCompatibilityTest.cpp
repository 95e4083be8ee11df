// SPDX-License-Identifier: Apache-2.0
// What jsonxx accepts and writes is kept by hosts and compared by arrays byte for byte, so it
// must not drift. compat/cases.txt holds, for realistic answers and for generated texts that
// probe every corner of the grammar, what the implementation wrote when the file was made
// (json_cases golden); the current one must write exactly the same.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>

#include "JsonCases.h"

namespace {

bool readLine(std::ifstream& file, const char* tag, std::string& value) {
    std::string line;
    if (!std::getline(file, line) || line.compare(0, std::strlen(tag), tag) != 0) {
        return false;
    }
    value = line.substr(std::strlen(tag));
    return true;
}

TEST(JsonCompatibility, ParsesAndWritesEveryKeptCaseAsBefore) {
    std::ifstream file(JSONXX_CASES_FILE);
    ASSERT_TRUE(file) << JSONXX_CASES_FILE;
    size_t cases = 0;
    size_t differing = 0;
    std::string input;
    while (readLine(file, "in ", input)) {
        std::string object;
        std::string array;
        std::string value;
        ASSERT_TRUE(readLine(file, "obj ", object) && readLine(file, "arr ", array) &&
                    readLine(file, "val ", value))
            << "record " << cases << " is incomplete";
        std::string text;
        ASSERT_TRUE(jsonxx_cases::unescapeLine(input, text)) << input;
        const jsonxx_cases::Outcome now = jsonxx_cases::outcomeOf(text);
        const bool same = now.object == object && now.array == array && now.value == value;
        if (!same && ++differing <= 5) {
            ADD_FAILURE() << "in " << input << "\nkept:\n obj " << object << "\n arr " << array
                          << "\n val " << value << "\nnow:\n obj " << now.object << "\n arr "
                          << now.array << "\n val " << now.value;
        }
        ++cases;
    }
    EXPECT_TRUE(file.eof()) << "unreadable record after " << cases;
    EXPECT_GT(cases, 400u);
    EXPECT_EQ(differing, 0u) << "of " << cases << " cases";
}

}  // namespace
