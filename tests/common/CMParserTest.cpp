// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <list>
#include <map>
#include <string>
#include <vector>

#include "CMParser.h"

namespace {

using Map = std::map<std::string, std::string>;
using Values = std::vector<std::string>;

TEST(KeyValueText, OnlyTheFirstColonSplitsAnItemAndBareItemsMapToThemselves) {
    Map map;
    CMParser().getKeyValues("a:1,b:2:3,c", map);
    EXPECT_EQ(map, (Map{{"a", "1"}, {"b", "2:3"}, {"c", "c"}}));
}

TEST(KeyValueText, BracesStayPartOfTheFirstKeyAndTheLastValue) {
    Map map;
    CMParser().getKeyValues("{x:1,y:2}", map);
    EXPECT_EQ(map, (Map{{"{x", "1"}, {"y", "2}"}}));
}

TEST(KeyValueText, EmptyTextAndTrailingCommaYieldTheEmptyKey) {
    Map empty;
    CMParser().getKeyValues("", empty);
    EXPECT_EQ(empty, (Map{{"", ""}}));

    Map trailing;
    CMParser().getKeyValues("k:v,", trailing);
    EXPECT_EQ(trailing, (Map{{"k", "v"}, {"", ""}}));
}

TEST(KeyValueText, LaterItemsOverwriteAndOtherEntriesStay) {
    Map map{{"keep", "me"}, {"a", "old"}};
    CMParser().getKeyValues("a:new,a:newer,b:", map);
    EXPECT_EQ(map, (Map{{"keep", "me"}, {"a", "newer"}, {"b", ""}}));
}

TEST(KeyValueText, ArrayDescriptionWithPasswordHoldingSeparatorsKeepsEverythingAfterTheColon) {
    Map map;
    CMParser().getKeyValues("{arrayType:IF,arrayId:10.0.0.5,hostPassword:p:w,engineName:x}", map);
    EXPECT_EQ(map["{arrayType"], "IF");
    EXPECT_EQ(map["arrayId"], "10.0.0.5");
    EXPECT_EQ(map["hostPassword"], "p:w");
    EXPECT_EQ(map["engineName"], "x}");
}

TEST(MetadataValues, FieldsBindToKeysInKeyOrderWhateverTheInsertionOrder) {
    Map map;
    map["3-END"] = "x";
    map["2-B"] = "x";
    map["1-A"] = "x";
    CMParser().setKeyValues("p|q|", map);
    EXPECT_EQ(map, (Map{{"1-A", "p"}, {"2-B", "q"}, {"3-END", ""}}));
}

TEST(MetadataValues, FewerFieldsThanKeysLeaveTheLaterKeysUnchanged) {
    Map map;
    for (int i = 1; i <= 12; ++i) {
        char key[8];
        std::snprintf(key, sizeof key, "%02d-K", i);
        map[key] = "unset";
    }
    CMParser().setKeyValues("a|b|c|d|e|f|g|h|i", map);
    EXPECT_EQ(map["01-K"], "a");
    EXPECT_EQ(map["09-K"], "i");
    EXPECT_EQ(map["10-K"], "unset");
    EXPECT_EQ(map["12-K"], "unset");
}

TEST(MetadataValues, SurplusFieldsAreIgnoredAndAnEmptyMapIsLeftAlone) {
    Map map{{"1-A", ""}, {"2-END", ""}};
    CMParser().setKeyValues("a|b|c|d", map);
    EXPECT_EQ(map, (Map{{"1-A", "a"}, {"2-END", "b"}}));

    Map none;
    CMParser().setKeyValues("a|b", none);
    EXPECT_TRUE(none.empty());
}

TEST(ValueLists, EmptyMiddleFieldsCountButATrailingSeparatorAddsNothing) {
    CMParser parser;
    Values values;
    parser.getValues("a||b|", values);
    EXPECT_EQ(values, (Values{"a", "", "b"}));

    Values empty;
    parser.getValues("", empty);
    EXPECT_TRUE(empty.empty());

    Values leading;
    parser.getValues("|a", leading);
    EXPECT_EQ(leading, (Values{"", "a"}));
}

TEST(ValueLists, CustomSeparatorsOfSeveralCharactersAndListsAppend) {
    CMParser parser;
    std::list<std::string> list{"existing"};
    parser.getValues("x::y::", "::", list);
    EXPECT_EQ(list, (std::list<std::string>{"existing", "x", "y"}));

    Values path;
    parser.getValues("pool1/Local/projA/vol1/", "/", path);
    EXPECT_EQ(path, (Values{"pool1", "Local", "projA", "vol1"}));
}

TEST(ValueLists, EmptySeparatorNeverLoops) {
    Values values;
    CMParser().getValues("abc", "", values);
    EXPECT_EQ(values, (Values{"abc"}));
}

TEST(CaseConversion, UpperAndLowerLeaveNonLettersAlone) {
    std::string text = "array-1";
    CMParser().toUpper(text);
    EXPECT_EQ(text, "ARRAY-1");
    std::string iqn = "IQN.1998-01.COM:Host\xC3\xA9";
    CMParser().toLower(iqn);
    EXPECT_EQ(iqn, "iqn.1998-01.com:host\xC3\xA9");
}

}  // namespace
