// SPDX-License-Identifier: Apache-2.0
#include "StrictJson.h"

#include <cstring>
#include <set>

namespace kysnap {

namespace {

class Scanner {
public:
    Scanner(const std::string& text, std::string& error) : text_(text), error_(error) {}

    bool document() {
        space();
        if (peek() != '{' || !value(0)) {
            return fail(error_.empty() ? "it is not a JSON object" : error_);
        }
        space();
        if (pos_ != text_.size()) {
            return fail("there is text after the JSON document (at byte " + std::to_string(pos_) +
                        ")");
        }
        return true;
    }

private:
    static constexpr int kMaxDepth = 64;

    char peek() const { return pos_ < text_.size() ? text_[pos_] : '\0'; }
    void space() {
        while (pos_ < text_.size() && std::strchr(" \t\r\n", text_[pos_]) != nullptr) {
            ++pos_;
        }
    }
    bool fail(const std::string& message) {
        error_ = message;
        return false;
    }
    bool broken() { return fail("it is not valid JSON (at byte " + std::to_string(pos_) + ")"); }

    bool value(int depth) {
        if (depth > kMaxDepth) {
            return fail("it is nested too deeply");
        }
        space();
        const char c = peek();
        if (c == '{') {
            return object(depth);
        }
        if (c == '[') {
            return array(depth);
        }
        if (c == '"') {
            std::string ignored;
            return string(ignored);
        }
        // A number or literal: its characters; the JSON library checks its grammar.
        const size_t start = pos_;
        while (pos_ < text_.size() && std::strchr("+-.0123456789eEalnrstu", text_[pos_]) &&
               text_[pos_] != '\0') {
            ++pos_;
        }
        return pos_ != start || broken();
    }

    bool string(std::string& raw) {
        const size_t start = ++pos_;
        while (pos_ < text_.size() && text_[pos_] != '"') {
            pos_ += text_[pos_] == '\\' ? 2 : 1;
        }
        if (pos_ >= text_.size()) {
            return broken();
        }
        raw = text_.substr(start, pos_ - start);
        ++pos_;
        return true;
    }

    bool object(int depth) {
        ++pos_;
        std::set<std::string> keys;
        space();
        if (peek() == '}') {
            ++pos_;
            return true;
        }
        for (;;) {
            space();
            std::string key;
            if (peek() != '"' || !string(key)) {
                return broken();
            }
            if (!keys.insert(key).second) {
                return fail("the key \"" + key + "\" appears twice in one object (at byte " +
                            std::to_string(pos_) + ")");
            }
            space();
            if (peek() != ':') {
                return broken();
            }
            ++pos_;
            bool closed = false;
            if (!value(depth + 1) || !next('}', closed)) {
                return false;
            }
            if (closed) {
                return true;
            }
        }
    }

    bool array(int depth) {
        ++pos_;
        space();
        if (peek() == ']') {
            ++pos_;
            return true;
        }
        for (;;) {
            bool closed = false;
            if (!value(depth + 1) || !next(']', closed)) {
                return false;
            }
            if (closed) {
                return true;
            }
        }
    }

    // After a member or element: consumes `close` (`closed` set) or ','; anything else is
    // broken.
    bool next(char close, bool& closed) {
        space();
        closed = peek() == close;
        if (!closed && peek() != ',') {
            return broken();
        }
        ++pos_;
        return true;
    }

    const std::string& text_;
    std::string& error_;
    size_t pos_ = 0;
};

}  // namespace

bool isStrictJsonObject(const std::string& text, std::string& error) {
    error.clear();
    return Scanner(text, error).document();
}

}  // namespace kysnap
