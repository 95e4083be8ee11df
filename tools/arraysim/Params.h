// SPDX-License-Identifier: Apache-2.0
// Params: the positional parameters of one REST call. The body is a JSON array (the plug-in
// builds it by concatenation, so values may hold raw bytes); an empty body means no
// parameters. The body is read by RequestJson (strict, but a string may hold the raw bytes the
// plug-in copies into it). Accessors are lenient where the array is: a boolean may come as true
// or "true", a number as -1 or "-1".
//
// Accessors never fail loudly: the first problem is recorded (as a 400 ApiError naming the
// method, the parameter position and its meaning) and later accessors return defaults, so a
// handler reads everything it needs and then checks ok() once.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Reply.h"

namespace arraysim {

class Params {
public:
    // False (with `error` set, a 400 saying why) when the body is neither empty nor a JSON
    // array, or holds a key twice or text after the array.
    static bool parse(const std::string& method, const std::string& body, Params& out,
                      ApiError& error);

    size_t size() const { return values_.size(); }
    bool has(size_t index) const { return index < values_.size(); }
    const nlohmann::json* raw(size_t index) const;

    // Records an error unless the call has between `min` and `max` parameters.
    bool expectCount(size_t min, size_t max);

    std::string text(size_t index, const char* meaning);
    bool flag(size_t index, const char* meaning);
    long long integer(size_t index, const char* meaning);
    std::vector<std::string> textList(size_t index, const char* meaning);
    nlohmann::json object(size_t index, const char* meaning);

    // Members of an object parameter, read with the same leniency.
    std::string memberText(const nlohmann::json& object, const std::string& key,
                           bool required = true);
    bool memberFlag(const nlohmann::json& object, const std::string& key, bool fallback);

    const std::string& method() const { return method_; }
    bool ok() const { return !failed_; }
    const ApiError& error() const { return error_; }
    void fail(const std::string& message);

private:
    std::string where(size_t index, const char* meaning) const;

    std::string method_;
    std::vector<nlohmann::json> values_;
    bool failed_ = false;
    ApiError error_;
};

// Reads "true"/"false" (any case) or a JSON boolean; false when the value is neither.
bool readFlag(const nlohmann::json& value, bool& out);
// Reads an integral JSON number or a decimal text; false otherwise.
bool readInteger(const nlohmann::json& value, long long& out);

}  // namespace arraysim
