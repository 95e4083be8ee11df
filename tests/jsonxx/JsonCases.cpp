// SPDX-License-Identifier: Apache-2.0
#include "JsonCases.h"

#include <cstdio>

#include "jsonxx.h"

namespace jsonxx_cases {

namespace {

template <typename Container>
std::string written(const std::string& text) {
    Container parsed;
    return parsed.parse(text) ? escapeLine(parsed.json()) : "!";
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// splitmix64: the same sequence everywhere, unlike the standard distributions.
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}
    uint64_t next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    size_t below(size_t n) { return static_cast<size_t>(next() % n); }
    bool chance(int percent) { return below(100) < static_cast<size_t>(percent); }
    template <size_t N>
    const char* pick(const char* const (&items)[N]) {
        return items[below(N)];
    }

private:
    uint64_t state_;
};

const char* const kSpace[] = {"", "", "", " ", " ", "\t", "\n", "\r\n", "\v", "\f"};
const char* const kSpecialNumbers[] = {"0",
                                       "-0",
                                       "0.1",
                                       "0.5",
                                       "1.5",
                                       "-12.5",
                                       "1e21",
                                       "1e20",
                                       "99999999999999999999",
                                       "123456789012345678901",
                                       "18446744073709551615",
                                       "18446744073709551616",
                                       "9007199254740993",
                                       "9223372036854775807",
                                       "-9223372036854775808",
                                       "1e-4951",
                                       "3.6e-4951",
                                       "1e-5000",
                                       "1e4932",
                                       "1.18973149535723176502e4932",
                                       "1.2e4932",
                                       "1e99999",
                                       "0.30000000000000004",
                                       "2.5e-3",
                                       "1E+2",
                                       "1e-0",
                                       "0e0",
                                       "-0.0",
                                       "100000000000000000000000",
                                       "0.1e1",
                                       "5e-324",
                                       "1.7976931348623157e308",
                                       "4.9406564584124654e-324"};
const char* const kEscapes[] = {"\\\"",
                                "\\\\",
                                "\\/",
                                "\\b",
                                "\\f",
                                "\\n",
                                "\\r",
                                "\\t",
                                "\\'",
                                "\\q",
                                "\\x41",
                                "\\u0041",
                                "\\u00e9",
                                "\\u20AC",
                                "\\u0000",
                                "\\ud83d\\ude00",
                                "\\uDBFF\\uDFFF",
                                "\\ud800",
                                "\\udc00",
                                "\\ud800\\u0041",
                                "\\u12",
                                "\\uZZZZ"};
const char* const kPlain[] = {"a",    "Z",        "0",    " ",    "/",  "vol-01", "pool-a/Local/x",
                              "@",    "'",        "\"",   "\t",   "\n", "\x01",   "\x1f",
                              "\x7f", "\xc3\xa9", "\xff", "\x80", ""};  // "": a NUL byte
const char* const kLiterals[] = {"null", "true", "false"};
const char* const kStray[] = {"{", "}", "[", "]", ",", ":", "\"", "'", "\\",   "-",  "+",
                              ".", "e", "0", "t", "n", "f", "x",  " ", "\xff", "//", "/*"};

class Generator {
public:
    explicit Generator(uint64_t seed) : random_(seed) {}

    std::string text() {
        std::string out = random_.pick(kSpace);
        const size_t top = random_.below(20);
        if (top < 9) {
            object(out, 0);
        } else if (top < 16) {
            array(out, 0);
        } else {
            value(out, 0);
        }
        out += random_.pick(kSpace);
        if (random_.chance(40)) {
            mutate(out);
        }
        return out;
    }

private:
    void space(std::string& out) { out += random_.pick(kSpace); }

    void value(std::string& out, int depth) {
        const size_t kind = random_.below(depth > 3 ? 6 : 9);
        switch (kind) {
            case 0:
                out += random_.pick(kLiterals);
                break;
            case 1:
            case 2:
                number(out);
                break;
            case 3:
            case 4:
            case 5:
                string(out);
                break;
            case 6:
            case 7:
                object(out, depth + 1);
                break;
            default:
                array(out, depth + 1);
                break;
        }
    }

    void number(std::string& out) {
        if (random_.chance(30)) {
            out += random_.pick(kSpecialNumbers);
            return;
        }
        if (random_.chance(40)) {
            out += '-';
        }
        digits(out, random_.chance(20) ? 1 + random_.below(25) : 1 + random_.below(6), true);
        if (random_.chance(40)) {
            out += '.';
            digits(out, 1 + random_.below(random_.chance(20) ? 25 : 4), false);
        }
        if (random_.chance(25)) {
            out += random_.chance(50) ? 'e' : 'E';
            if (random_.chance(50)) {
                out += random_.chance(50) ? '-' : '+';
            }
            digits(out, 1 + random_.below(4), false);
        }
    }

    void digits(std::string& out, size_t count, bool leading) {
        for (size_t i = 0; i < count; ++i) {
            char digit = static_cast<char>('0' + random_.below(10));
            if (leading && i == 0 && count > 1 && digit == '0') {
                digit = '1';
            }
            out += digit;
        }
    }

    void string(std::string& out) {
        const char quote = random_.chance(10) ? '\'' : '"';
        out += quote;
        const size_t length = random_.below(6);
        for (size_t i = 0; i < length; ++i) {
            if (random_.chance(30)) {
                out += random_.pick(kEscapes);
            } else {
                const char* plain = random_.pick(kPlain);
                if (*plain == '\0') {
                    out += '\0';
                } else if (*plain != quote || plain[1] != '\0') {
                    out += plain;
                }
            }
        }
        out += quote;
    }

    void array(std::string& out, int depth) {
        out += '[';
        space(out);
        const size_t count = random_.below(depth > 3 ? 2 : 5);
        for (size_t i = 0; i < count; ++i) {
            if (i > 0) {
                out += ',';
                space(out);
            }
            value(out, depth);
            space(out);
        }
        if (count > 0 && random_.chance(5)) {
            out += ',';
        }
        out += ']';
    }

    void object(std::string& out, int depth) {
        out += '{';
        space(out);
        const size_t count = random_.below(depth > 3 ? 2 : 5);
        std::string lastKey;
        for (size_t i = 0; i < count; ++i) {
            if (i > 0) {
                out += ',';
                space(out);
            }
            if (i > 0 && random_.chance(10)) {
                out += lastKey;  // a key given twice
            } else {
                lastKey.clear();
                string(lastKey);
                out += lastKey;
            }
            space(out);
            out += ':';
            space(out);
            value(out, depth);
            space(out);
        }
        if (count > 0 && random_.chance(15)) {
            out += ',';
            space(out);
        }
        out += '}';
    }

    void mutate(std::string& out) {
        const size_t at = out.empty() ? 0 : random_.below(out.size());
        switch (random_.below(5)) {
            case 0:
                out.resize(at);
                break;
            case 1:
                out.insert(at, random_.pick(kStray));
                break;
            case 2:
                if (!out.empty()) {
                    out.erase(at, 1);
                }
                break;
            case 3:
                if (!out.empty()) {
                    out[at] = static_cast<char>(random_.below(256));
                }
                break;
            default:
                out += random_.pick(kStray);
                break;
        }
    }

    Random random_;
};

}  // namespace

Outcome outcomeOf(const std::string& text) {
    return Outcome{written<jsonxx::Object>(text), written<jsonxx::Array>(text),
                   written<jsonxx::Value>(text)};
}

std::string escapeLine(const std::string& bytes) {
    std::string line;
    char hex[5];
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\') {
            line += "\\\\";
        } else if (c == '\n') {
            line += "\\n";
        } else if (c == '\t') {
            line += "\\t";
        } else if (byte >= 0x20 && byte < 0x7f) {
            line += c;
        } else {
            std::snprintf(hex, sizeof(hex), "\\x%02x", byte);
            line += hex;
        }
    }
    return line;
}

bool unescapeLine(const std::string& line, std::string& bytes) {
    bytes.clear();
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] != '\\') {
            bytes += line[i];
        } else if (i + 1 < line.size() && line[i + 1] == '\\') {
            bytes += '\\';
            ++i;
        } else if (i + 1 < line.size() && (line[i + 1] == 'n' || line[i + 1] == 't')) {
            bytes += line[i + 1] == 'n' ? '\n' : '\t';
            ++i;
        } else if (i + 3 < line.size() && line[i + 1] == 'x' && hexDigit(line[i + 2]) >= 0 &&
                   hexDigit(line[i + 3]) >= 0) {
            bytes += static_cast<char>(hexDigit(line[i + 2]) * 16 + hexDigit(line[i + 3]));
            i += 3;
        } else {
            return false;
        }
    }
    return true;
}

std::vector<std::string> generatedTexts(uint64_t seed, size_t count) {
    Generator generator(seed);
    std::vector<std::string> texts;
    texts.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        texts.push_back(generator.text());
    }
    return texts;
}

}  // namespace jsonxx_cases
