// SPDX-License-Identifier: Apache-2.0
#include "Params.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "Model.h"

namespace arraysim {

namespace {

bool blank(const std::string& text) {
    for (char c : text) {
        if (!std::isspace(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return true;
}

const char* kindName(const jsonxx::Value& value) {
    switch (value.type()) {
        case jsonxx::Value::NULL_:
            return "null";
        case jsonxx::Value::BOOL_:
            return "a boolean";
        case jsonxx::Value::NUMBER_:
            return "a number";
        case jsonxx::Value::STRING_:
            return "a string";
        case jsonxx::Value::ARRAY_:
            return "an array";
        case jsonxx::Value::OBJECT_:
            return "an object";
    }
    return "unknown";
}

}  // namespace

bool readFlag(const jsonxx::Value& value, bool& out) {
    if (value.is<bool>()) {
        out = value.get<bool>();
        return true;
    }
    if (value.is<std::string>()) {
        std::string text = toLower(value.get<std::string>());
        if (text == "true" || text == "false") {
            out = text == "true";
            return true;
        }
    }
    return false;
}

bool readInteger(const jsonxx::Value& value, long long& out) {
    if (value.is<jsonxx::Number>()) {
        jsonxx::Number n = value.get<jsonxx::Number>();
        if (std::isfinite(n) && n == std::floor(n) && n >= -9.2e18L && n <= 9.2e18L) {
            out = static_cast<long long>(n);
            return true;
        }
        return false;
    }
    if (value.is<std::string>()) {
        const std::string& text = value.get<std::string>();
        if (text.empty() || blank(text)) {
            return false;
        }
        errno = 0;
        char* end = nullptr;
        long long n = std::strtoll(text.c_str(), &end, 10);
        if (errno != 0 || end == nullptr || *end != '\0') {
            return false;
        }
        out = n;
        return true;
    }
    return false;
}

bool Params::parse(const std::string& method, const std::string& body, Params& out,
                   ApiError& error) {
    out = Params();
    out.method_ = method;
    if (blank(body)) {
        return true;
    }
    size_t first = body.find_first_not_of(" \t\r\n\v\f");
    jsonxx::Array array;
    if (body[first] != '[' || !array.parse(body)) {
        error = errors::badRequest("Malformed request body for " + method +
                                   ": expected a JSON array of parameters");
        return false;
    }
    out.values_ = array.values();
    return true;
}

const jsonxx::Value* Params::raw(size_t index) const {
    return index < values_.size() ? &values_[index] : nullptr;
}

void Params::fail(const std::string& message) {
    if (!failed_) {
        failed_ = true;
        error_ = errors::badRequest(message);
    }
}

std::string Params::where(size_t index, const char* meaning) const {
    return method_ + ": parameter " + std::to_string(index + 1) + " (" + meaning + ")";
}

bool Params::expectCount(size_t min, size_t max) {
    if (values_.size() < min || values_.size() > max) {
        std::string wanted =
            min == max ? std::to_string(min) : std::to_string(min) + " to " + std::to_string(max);
        fail(method_ + " takes " + wanted + " parameters, " + std::to_string(values_.size()) +
             " given");
        return false;
    }
    return true;
}

std::string Params::text(size_t index, const char* meaning) {
    if (failed_) {
        return "";
    }
    if (index >= values_.size()) {
        fail(where(index, meaning) + " is missing");
        return "";
    }
    const jsonxx::Value& value = values_[index];
    if (!value.is<std::string>()) {
        fail(where(index, meaning) + " must be a string, not " + kindName(value));
        return "";
    }
    return value.get<std::string>();
}

bool Params::flag(size_t index, const char* meaning) {
    if (failed_) {
        return false;
    }
    bool out = false;
    if (index >= values_.size()) {
        fail(where(index, meaning) + " is missing");
    } else if (!readFlag(values_[index], out)) {
        fail(where(index, meaning) + " must be true or false");
    }
    return out;
}

long long Params::integer(size_t index, const char* meaning) {
    if (failed_) {
        return 0;
    }
    long long out = 0;
    if (index >= values_.size()) {
        fail(where(index, meaning) + " is missing");
    } else if (!readInteger(values_[index], out)) {
        fail(where(index, meaning) + " must be an integer");
    }
    return out;
}

std::vector<std::string> Params::textList(size_t index, const char* meaning) {
    std::vector<std::string> out;
    if (failed_) {
        return out;
    }
    if (index >= values_.size() || !values_[index].is<jsonxx::Array>()) {
        fail(where(index, meaning) + " must be a list of strings");
        return out;
    }
    for (const jsonxx::Value& element : values_[index].get<jsonxx::Array>().values()) {
        if (!element.is<std::string>()) {
            fail(where(index, meaning) + " must hold only strings");
            return {};
        }
        out.push_back(element.get<std::string>());
    }
    return out;
}

jsonxx::Object Params::object(size_t index, const char* meaning) {
    if (failed_) {
        return {};
    }
    if (index >= values_.size() || !values_[index].is<jsonxx::Object>()) {
        fail(where(index, meaning) + " must be an object");
        return {};
    }
    return values_[index].get<jsonxx::Object>();
}

std::string Params::memberText(const jsonxx::Object& object, const std::string& key,
                               bool required) {
    if (failed_) {
        return "";
    }
    if (object.has<std::string>(key)) {
        return object.get<std::string>(key);
    }
    if (object.has<jsonxx::Number>(key)) {
        long long n = 0;
        jsonxx::Value value(object.get<jsonxx::Number>(key));
        if (readInteger(value, n)) {
            return std::to_string(n);
        }
    }
    if (required) {
        fail(method_ + ": member \"" + key + "\" is missing or not a string");
    }
    return "";
}

bool Params::memberFlag(const jsonxx::Object& object, const std::string& key, bool fallback) {
    if (failed_) {
        return fallback;
    }
    auto it = object.kv_map().find(key);
    if (it == object.kv_map().end()) {
        return fallback;
    }
    bool out = fallback;
    if (!readFlag(it->second, out)) {
        fail(method_ + ": member \"" + key + "\" must be true or false");
    }
    return out;
}

}  // namespace arraysim
