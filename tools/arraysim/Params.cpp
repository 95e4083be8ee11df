// SPDX-License-Identifier: Apache-2.0
#include "Params.h"

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <iterator>

#include "Model.h"
#include "RequestJson.h"
#include "StrictJson.h"

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

const char* kindName(const nlohmann::json& value) {
    if (value.is_null()) {
        return "null";
    }
    if (value.is_boolean()) {
        return "a boolean";
    }
    if (value.is_number()) {
        return "a number";
    }
    if (value.is_string()) {
        return "a string";
    }
    if (value.is_array()) {
        return "an array";
    }
    if (value.is_object()) {
        return "an object";
    }
    return "unknown";
}

}  // namespace

bool readFlag(const nlohmann::json& value, bool& out) {
    if (value.is_boolean()) {
        out = value.get<bool>();
        return true;
    }
    if (value.is_string()) {
        std::string text = toLower(value.get<std::string>());
        if (text == "true" || text == "false") {
            out = text == "true";
            return true;
        }
    }
    return false;
}

bool readInteger(const nlohmann::json& value, long long& out) {
    if (value.is_number()) {
        int64_t n = 0;
        if (!strictjson::wholeNumber(value, INT64_MIN, INT64_MAX, n)) {
            return false;
        }
        out = n;
        return true;
    }
    if (value.is_string()) {
        const std::string& text = value.get_ref<const std::string&>();
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
    nlohmann::json array;
    std::string why;
    if (!parseRequestJson(body, array, why) || !array.is_array()) {
        error = errors::badRequest("Malformed request body for " + method +
                                   ": expected a JSON array of parameters" +
                                   (why.empty() ? "" : "; " + why));
        return false;
    }
    out.values_.assign(std::make_move_iterator(array.begin()),
                       std::make_move_iterator(array.end()));
    return true;
}

const nlohmann::json* Params::raw(size_t index) const {
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
    const nlohmann::json& value = values_[index];
    if (!value.is_string()) {
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
    if (index >= values_.size() || !values_[index].is_array()) {
        fail(where(index, meaning) + " must be a list of strings");
        return out;
    }
    for (const nlohmann::json& element : values_[index]) {
        if (!element.is_string()) {
            fail(where(index, meaning) + " must hold only strings");
            return {};
        }
        out.push_back(element.get<std::string>());
    }
    return out;
}

nlohmann::json Params::object(size_t index, const char* meaning) {
    if (failed_) {
        return nlohmann::json::object();
    }
    if (index >= values_.size() || !values_[index].is_object()) {
        fail(where(index, meaning) + " must be an object");
        return nlohmann::json::object();
    }
    return values_[index];
}

std::string Params::memberText(const nlohmann::json& object, const std::string& key,
                               bool required) {
    if (failed_) {
        return "";
    }
    const auto member = object.find(key);
    if (member != object.end() && member->is_string()) {
        return member->get<std::string>();
    }
    long long n = 0;
    if (member != object.end() && member->is_number() && readInteger(*member, n)) {
        return std::to_string(n);
    }
    if (required) {
        fail(method_ + ": member \"" + key + "\" is missing or not a string");
    }
    return "";
}

bool Params::memberFlag(const nlohmann::json& object, const std::string& key, bool fallback) {
    if (failed_) {
        return fallback;
    }
    const auto it = object.find(key);
    if (it == object.end()) {
        return fallback;
    }
    bool out = fallback;
    if (!readFlag(*it, out)) {
        fail(method_ + ": member \"" + key + "\" must be true or false");
    }
    return out;
}

}  // namespace arraysim
