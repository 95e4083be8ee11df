// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "jsonxx.h"

using jsonxx::Array;
using jsonxx::Null;
using jsonxx::Number;
using jsonxx::Object;
using jsonxx::Value;

TEST(JsonAccess, MemberOfEachKindAnswersOnlyForItsOwnType) {
    Object o;
    ASSERT_TRUE(o.parse(R"({"x": 3, "s": "3", "b": false, "o": {}, "a": [], "n": null})"));
    EXPECT_TRUE(o.has<Number>("x"));
    EXPECT_FALSE(o.has<std::string>("x"));
    EXPECT_FALSE(o.has<bool>("x"));
    EXPECT_TRUE(o.has<std::string>("s"));
    EXPECT_FALSE(o.has<Number>("s"));
    EXPECT_TRUE(o.has<bool>("b"));
    EXPECT_TRUE(o.has<Object>("o"));
    EXPECT_FALSE(o.has<Array>("o"));
    EXPECT_TRUE(o.has<Array>("a"));
    EXPECT_FALSE(o.has<Object>("a"));
    EXPECT_TRUE(o.has<Null>("n"));
    EXPECT_FALSE(o.has<Null>("absent"));
    EXPECT_FALSE(o.has<Number>("X"));
    EXPECT_EQ(o.get<Number>("x"), 3);
}

TEST(JsonAccess, AbsentOrWrongKindGivesFreshDefaultEachTime) {
    Object o;
    ASSERT_TRUE(o.parse(R"({"s": "text", "o": {"k": 1}, "n": 5})"));
    std::string& missing = o.get<std::string>("missing");
    EXPECT_EQ(missing, "");
    missing = "scribbled";
    EXPECT_EQ(o.get<std::string>("n"), "");  // reset by the next failed get
    EXPECT_EQ(o.size(), 3u);                 // and nothing was inserted

    EXPECT_EQ(o.get<Number>("s"), 0);
    EXPECT_FALSE(o.get<bool>("o"));
    o.get<Object>("s").import("junk", true);
    EXPECT_TRUE(o.get<Object>("n").empty());
    EXPECT_TRUE(o.get<Array>("o").empty());

    const Object& c = o;
    EXPECT_EQ(c.get<std::string>("absent"), "");
    EXPECT_EQ(c.get<Number>("o"), 0);

    Array a;
    ASSERT_TRUE(a.parse(R"(["x", {"k": "v"}])"));
    EXPECT_FALSE(a.has<std::string>(2));
    EXPECT_FALSE(a.has<Object>(static_cast<size_t>(-1)));
    EXPECT_EQ(a.get<std::string>(99), "");
    EXPECT_TRUE(a.get<Object>(0).empty());
    EXPECT_EQ(a.get<Object>(1).get<std::string>("k"), "v");

    Value v;
    EXPECT_TRUE(v.is<Null>());
    EXPECT_EQ(v.get<std::string>(), "");
}

TEST(JsonAccess, FailedGetDefaultIsPrivateToEachThread) {
    Object o;
    std::string& mine = o.get<std::string>("absent");
    mine = "main thread";
    const std::string* theirs = nullptr;
    std::thread([&] {
        std::string& s = o.get<std::string>("absent");
        s = "other thread";
        theirs = &s;
    }).join();
    EXPECT_NE(theirs, &mine);
    EXPECT_EQ(mine, "main thread");
}

TEST(JsonAccess, CopiesAreDeepAndIndependent) {
    Object original;
    ASSERT_TRUE(original.parse(R"({"inner": {"list": [1, {"deep": "a"}]}})"));
    const std::string before = original.json();

    Object copy(original);
    copy.get<Object>("inner").get<Array>("list").get<Object>(1).import("deep", std::string("b"));
    copy.get<Object>("inner").import("added", true);
    EXPECT_EQ(original.json(), before);

    Object assigned;
    assigned = original;
    original.get<Object>("inner").reset();
    EXPECT_EQ(assigned.get<Object>("inner").get<Array>("list").size(), 2u);

    Array arr;
    arr.append(assigned);
    Array arrCopy = arr;
    arrCopy.get<Object>(0).reset();
    EXPECT_FALSE(arr.get<Object>(0).empty());

    Value v(assigned);
    Value vCopy(v);
    vCopy.get<Object>().import("x", false);
    EXPECT_FALSE(v.get<Object>().has<bool>("x"));
}

TEST(JsonAccess, SelfReferentialAssignmentsAreSafe) {
    Object o;
    ASSERT_TRUE(o.parse(R"({"a": {"b": {"c": "leaf"}}})"));
    o.import("copy", o);  // copies the object as it was
    EXPECT_TRUE(o.get<Object>("copy").has<Object>("a"));
    EXPECT_FALSE(o.get<Object>("copy").has<Object>("copy"));

    // Replace an object by one of its own descendants.
    Object& a = o.get<Object>("a");
    a = a.get<Object>("b");
    EXPECT_EQ(o.get<Object>("a").get<std::string>("c"), "leaf");
    o = std::move(o.get<Object>("a"));
    EXPECT_EQ(o.get<std::string>("c"), "leaf");

    Array arr;
    arr.append("x");
    for (int i = 0; i < 20; ++i) {
        arr.append(arr.values()[0]);  // element reference survives reallocation
    }
    EXPECT_EQ(arr.get<std::string>(20), "x");

    Value v;
    ASSERT_TRUE(v.parse(R"([[["in"]]])"));
    v = v.get<Array>().values()[0];  // assigned from its own element, twice
    v = v.get<Array>().values()[0];
    EXPECT_EQ(v.get<Array>().get<std::string>(0), "in");
    const Value& self = v;
    v = self;
    EXPECT_EQ(v.get<Array>().size(), 1u);
}

TEST(JsonAccess, MovedFromValuesAreNullAndUsable) {
    Value v(Object{});
    Value taken(std::move(v));
    EXPECT_TRUE(taken.is<Object>());
    EXPECT_TRUE(v.is<Null>());             // NOLINT(bugprone-use-after-move)
    EXPECT_TRUE(v.get<Object>().empty());  // no dangling container
    EXPECT_EQ(v.json(), "null");

    Value fromNull(static_cast<const char*>(nullptr));
    EXPECT_EQ(fromNull.get<std::string>(), "");
}
