// SPDX-License-Identifier: Apache-2.0
// Params: the positional parameters of one REST call. The body is a JSON array (the plug-in
// builds it by concatenation, so values may hold raw bytes); an empty body means no
// parameters. Accessors are lenient where the array is: a boolean may come as true or "true",
// a number as -1 or "-1".
//
// Accessors never fail loudly: the first problem is recorded (as a 400 ApiError naming the
// method, the parameter position and its meaning) and later accessors return defaults, so a
// handler reads everything it needs and then checks ok() once.
#pragma once

#include <string>
#include <vector>

#include "Reply.h"
#include "jsonxx.h"

namespace arraysim {

class Params {
public:
    // False (with `error` set) when the body is neither empty nor a JSON array.
    static bool parse(const std::string& method, const std::string& body, Params& out,
                      ApiError& error);

    size_t size() const { return values_.size(); }
    bool has(size_t index) const { return index < values_.size(); }
    const jsonxx::Value* raw(size_t index) const;

    // Records an error unless the call has between `min` and `max` parameters.
    bool expectCount(size_t min, size_t max);

    std::string text(size_t index, const char* meaning);
    bool flag(size_t index, const char* meaning);
    long long integer(size_t index, const char* meaning);
    std::vector<std::string> textList(size_t index, const char* meaning);
    jsonxx::Object object(size_t index, const char* meaning);

    // Members of an object parameter, read with the same leniency.
    std::string memberText(const jsonxx::Object& object, const std::string& key,
                           bool required = true);
    bool memberFlag(const jsonxx::Object& object, const std::string& key, bool fallback);

    const std::string& method() const { return method_; }
    bool ok() const { return !failed_; }
    const ApiError& error() const { return error_; }
    void fail(const std::string& message);

private:
    std::string where(size_t index, const char* meaning) const;

    std::string method_;
    std::vector<jsonxx::Value> values_;
    bool failed_ = false;
    ApiError error_;
};

// Reads "true"/"false" (any case) or a JSON boolean; false when the value is neither.
bool readFlag(const jsonxx::Value& value, bool& out);
// Reads an integral JSON number or a decimal text; false otherwise.
bool readInteger(const jsonxx::Value& value, long long& out);

}  // namespace arraysim
