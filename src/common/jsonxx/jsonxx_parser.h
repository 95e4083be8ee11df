// SPDX-License-Identifier: Apache-2.0
// Recursive-descent reader of JSON text into the document model, by the parsing rules stated
// in jsonxx.h. Internal to the jsonxx library.
#pragma once

#include <string>

#include "jsonxx.h"

namespace jsonxx {

// Reads from a borrowed character range that must outlive the parser. Every read is bounded
// by the end of the range; embedded NUL bytes are ordinary characters. Nesting is bounded by
// the limits' depth, so the recursion depth is too, and the values read by their count.
class Parser {
public:
    explicit Parser(const std::string& text, const ParseLimits& limits = kDefaultLimits);

    // Each reads one value of its kind after leading white space and returns true when it is
    // complete and well-formed. On false the output holds whatever was read before the error;
    // the public parse functions discard it.
    bool readObject(Object::Container& out);
    bool readArray(Array::Container& out);
    bool readValue(Value& out);
    // After a read that returned false: why.
    ParseError error() const { return error_; }

private:
    // `depth` is the number of containers enclosing the item being read.
    bool value(Value& out, int depth);
    bool object(Object::Container& out, int depth);
    bool array(Array::Container& out, int depth);
    bool string(std::string& out);
    bool escape(std::string& out);
    bool number(Number& out);
    bool literal(const char* word);
    bool hex4(const char* at, unsigned& code) const;
    // After a member or element: consumes the closing `close` (Closed), or a ',' with the
    // space after it (More); anything else is Broken.
    enum class Next { Closed, More, Broken };
    Next afterItem(char close);
    // Consumes `c` when it is next.
    bool take(char c);
    void skipSpace();
    bool atEnd() const { return pos_ == end_; }
    // Counts one more value; false (with the error set) when that is one too many.
    bool countValue();
    // False (with the error set) when a container at `depth` would nest too deep.
    bool depthAllowed(int depth);

    const char* pos_;
    const char* end_;
    ParseLimits limits_;
    size_t values_ = 0;
    ParseError error_ = ParseError::Syntax;
};

}  // namespace jsonxx
