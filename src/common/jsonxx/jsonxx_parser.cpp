// SPDX-License-Identifier: Apache-2.0
#include "jsonxx_parser.h"

#include <cstring>
#include <utility>

#include "jsonxx_number.h"

namespace jsonxx {

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

void appendUtf8(std::string& out, unsigned code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

bool isHighSurrogate(unsigned code) {
    return code >= 0xD800 && code <= 0xDBFF;
}
bool isLowSurrogate(unsigned code) {
    return code >= 0xDC00 && code <= 0xDFFF;
}

}  // namespace

Parser::Parser(const std::string& text, const ParseLimits& limits)
    : pos_(text.data()), end_(text.data() + text.size()), limits_(limits) {}

bool Parser::readObject(Object::Container& out) {
    skipSpace();
    return countValue() && object(out, 0);
}

bool Parser::readArray(Array::Container& out) {
    skipSpace();
    return countValue() && array(out, 0);
}

bool Parser::readValue(Value& out) {
    skipSpace();
    return value(out, 0);
}

bool Parser::countValue() {
    if (values_ >= limits_.values) {
        error_ = ParseError::TooManyValues;
        return false;
    }
    ++values_;
    return true;
}

bool Parser::depthAllowed(int depth) {
    if (depth >= limits_.depth) {
        error_ = ParseError::TooDeep;
        return false;
    }
    return true;
}

void Parser::skipSpace() {
    while (!atEnd() && isSpace(*pos_)) {
        ++pos_;
    }
}

bool Parser::value(Value& out, int depth) {
    if (atEnd() || !countValue()) {
        return false;
    }
    switch (*pos_) {
        case '{':
            return object(out.becomeObject().members_, depth);
        case '[':
            return array(out.becomeArray().values_, depth);
        case '"':
        case '\'':
            return string(out.becomeString());
        case 't':
        case 'f': {
            const bool truth = *pos_ == 't';
            out.becomeBool() = truth;
            return literal(truth ? "true" : "false");
        }
        case 'n':
            out.reset();
            return literal("null");
        default:
            return number(out.becomeNumber());
    }
}

bool Parser::take(char c) {
    if (atEnd() || *pos_ != c) {
        return false;
    }
    ++pos_;
    return true;
}

Parser::Next Parser::afterItem(char close) {
    skipSpace();
    if (take(close)) {
        return Next::Closed;
    }
    if (!take(',')) {
        return Next::Broken;
    }
    skipSpace();
    return Next::More;
}

bool Parser::object(Object::Container& out, int depth) {
    if (atEnd() || *pos_ != '{' || !depthAllowed(depth)) {
        return false;
    }
    ++pos_;
    skipSpace();
    if (!atEnd() && *pos_ == '}') {
        ++pos_;
        return true;
    }
    for (;;) {
        std::string key;
        if (!string(key)) {
            return false;
        }
        skipSpace();
        if (atEnd() || *pos_ != ':') {
            return false;
        }
        ++pos_;
        skipSpace();
        // Read straight into the member; settle() lets a repeated key's later value replace
        // the earlier one.
        if (!value(out.append(std::move(key)), depth + 1)) {
            return false;
        }
        const Next next = afterItem('}');
        if (next == Next::Broken) {
            return false;
        }
        // A comma directly before the closing brace is tolerated.
        if (next == Next::Closed || take('}')) {
            out.settle();
            return true;
        }
    }
}

bool Parser::array(Array::Container& out, int depth) {
    if (atEnd() || *pos_ != '[' || !depthAllowed(depth)) {
        return false;
    }
    ++pos_;
    skipSpace();
    if (!atEnd() && *pos_ == ']') {
        ++pos_;
        return true;
    }
    for (;;) {
        out.emplace_back();
        if (!value(out.back(), depth + 1)) {
            return false;
        }
        const Next next = afterItem(']');
        if (next != Next::More) {
            return next == Next::Closed;
        }
    }
}

bool Parser::string(std::string& out) {
    if (atEnd() || (*pos_ != '"' && *pos_ != '\'')) {
        return false;
    }
    const char quote = *pos_++;
    for (;;) {
        // Copy the run of plain bytes up to the next quote or backslash in one go.
        const char* run = pos_;
        while (!atEnd() && *pos_ != quote && *pos_ != '\\') {
            ++pos_;
        }
        out.append(run, pos_);
        if (atEnd()) {
            return false;
        }
        if (*pos_ == quote) {
            ++pos_;
            return true;
        }
        if (!escape(out)) {
            return false;
        }
    }
}

// At a backslash: decodes one escape sequence, or copies an unknown one as written.
bool Parser::escape(std::string& out) {
    ++pos_;
    if (atEnd()) {
        return false;
    }
    const char c = *pos_++;
    switch (c) {
        case '"':
        case '\\':
        case '/':
            out += c;
            return true;
        case 'b':
            out += '\b';
            return true;
        case 'f':
            out += '\f';
            return true;
        case 'n':
            out += '\n';
            return true;
        case 'r':
            out += '\r';
            return true;
        case 't':
            out += '\t';
            return true;
        case 'u':
            break;
        default:
            // Unknown escapes (\' included) are kept; the escaped byte never ends the string.
            out += '\\';
            out += c;
            return true;
    }
    unsigned code = 0;
    if (!hex4(pos_, code)) {
        // Not a \uXXXX escape: keep "\u" and read what follows as ordinary text.
        out += "\\u";
        return true;
    }
    if (isHighSurrogate(code)) {
        unsigned low = 0;
        if (end_ - pos_ >= 10 && pos_[4] == '\\' && pos_[5] == 'u' && hex4(pos_ + 6, low) &&
            isLowSurrogate(low)) {
            appendUtf8(out, 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00));
            pos_ += 10;
            return true;
        }
    }
    if (isHighSurrogate(code) || isLowSurrogate(code)) {
        // A lone surrogate has no UTF-8 form; keep the escape as written.
        out += "\\u";
        out.append(pos_, 4);
    } else {
        appendUtf8(out, code);
    }
    pos_ += 4;
    return true;
}

bool Parser::hex4(const char* at, unsigned& code) const {
    if (end_ - at < 4) {
        return false;
    }
    code = 0;
    for (int i = 0; i < 4; ++i) {
        const char c = at[i];
        unsigned digit;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else {
            return false;
        }
        code = code * 16 + digit;
    }
    return true;
}

// JSON number grammar: -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?
bool Parser::number(Number& out) {
    const char* start = pos_;
    if (!atEnd() && *pos_ == '-') {
        ++pos_;
    }
    if (atEnd() || !isDigit(*pos_)) {
        return false;
    }
    if (*pos_ == '0') {
        ++pos_;
    } else {
        while (!atEnd() && isDigit(*pos_)) {
            ++pos_;
        }
    }
    if (!atEnd() && *pos_ == '.') {
        ++pos_;
        if (atEnd() || !isDigit(*pos_)) {
            return false;
        }
        while (!atEnd() && isDigit(*pos_)) {
            ++pos_;
        }
    }
    if (!atEnd() && (*pos_ == 'e' || *pos_ == 'E')) {
        ++pos_;
        if (!atEnd() && (*pos_ == '+' || *pos_ == '-')) {
            ++pos_;
        }
        if (atEnd() || !isDigit(*pos_)) {
            return false;
        }
        while (!atEnd() && isDigit(*pos_)) {
            ++pos_;
        }
    }
    return detail::readNumber(start, pos_, out);
}

bool Parser::literal(const char* word) {
    const size_t length = std::strlen(word);
    if (static_cast<size_t>(end_ - pos_) < length || std::memcmp(pos_, word, length) != 0) {
        return false;
    }
    pos_ += length;
    return true;
}

}  // namespace jsonxx
