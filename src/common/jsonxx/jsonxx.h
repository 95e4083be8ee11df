// SPDX-License-Identifier: Apache-2.0
// jsonxx: the JSON document model of the plug-in and the array simulator.
//
// Parsing: white space (space, \t, \n, \v, \f, \r) between tokens is skipped and text after
// the closing brace or bracket is not examined. Strings take double or single quotes and may
// hold any raw byte, NUL included; the escapes \" \\ \/ \b \f \n \r \t and \uXXXX are
// understood (\u becomes UTF-8, surrogate pairs combined) and any other backslash sequence stays
// as written: an unknown escape, a \u without four hexadecimal digits, and a lone surrogate. A
// ',' right before '}' is accepted (not before ']'); a key given twice keeps the later value.
// Numbers follow the JSON number grammar (no '+', no leading '.', no NaN or Infinity) and the
// token is read by stream extraction of a long double in the classic locale; a value beyond the
// range of long double fails the parse, one too small for it becomes 0 or a subnormal.
//
// Limits: a parse builds at most ParseLimits::values values (every kind counts, containers and
// the outermost one included) nested at most ParseLimits::depth containers deep, and fails
// otherwise, so that a large or hostile text costs bounded memory, time and stack. parse(text)
// applies kDefaultLimits; parse(text, limits, error) takes others and says why it failed.
//
// Writing (json()): a container opens with "{\n" or "[\n"; each member follows on its own
// line, indented by one tab per level, as "key": value (array elements as value alone) followed
// by ",\n"; the last ',' of a container becomes a space; the closing brace or bracket stands on
// its own line indented like the line that opened the container, with no newline after it. So
// {"a":"x/y","b":[true]} at level 0 is written as
//   {\n\t"a": "x\/y",\n\t"b": [\n\t\ttrue \n\t] \n}
// and an empty object as "{\n}" ("{\n\t}" one level down). Members come in ascending byte order
// of their keys. '"', '\' and '/' are escaped as \" \\ \/, the control characters as \b \f
// \n \r \t or \u00xx (lower-case hex); bytes of 0x7f and above pass unchanged. Numbers: an
// integral value below 1e21 in magnitude as plain digits, any other value with the fewest
// significant digits (at most 21) that read back to the same long double, in the classic locale;
// a NaN or infinite number (only possible through import/append) is written as null.
//
// get<T>() of an absent member, or of one of another kind, returns a reference to a
// default-constructed T private to the calling thread, reset to default on every such call (a
// reference kept from an earlier failed get sees the reset); callers test with has<T>() first.
// T is one of std::string, Number, bool, Object, Array, Null; other types do not link.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace jsonxx {

using Number = long double;
using String = std::string;
using Boolean = bool;

class Object;
class Array;

struct Null {};

// Default nesting bound for parsing: a document nested deeper fails to parse.
constexpr int kMaxDepth = 512;
// Default bound on the values of one parsed document: about 100 MB of document model for an
// array of small values, and room for the listing of an array with tens of thousands of
// volumes (some 30 values each).
constexpr size_t kMaxValues = 2000000;

struct ParseLimits {
    size_t values;
    int depth;
};
constexpr ParseLimits kDefaultLimits{kMaxValues, kMaxDepth};

// Why a parse failed.
enum class ParseError {
    None,           // it did not
    Syntax,         // the text is not the JSON container (or value) asked for
    TooManyValues,  // the text holds more values than the limit
    TooDeep,        // the text nests containers deeper than the limit
};

// "exceeds N values", "nests deeper than N levels", "is not valid JSON" or "" (None): what is
// wrong with a text, for a failure line about it.
std::string parseErrorText(ParseError error, const ParseLimits& limits);

class Value {
public:
    enum Type { NULL_, BOOL_, NUMBER_, STRING_, ARRAY_, OBJECT_ };

    Value();
    Value(const Value& other);
    Value(Value&& other) noexcept;
    Value& operator=(const Value& other);
    Value& operator=(Value&& other) noexcept;
    ~Value();

    explicit Value(bool b);
    explicit Value(Number n);
    explicit Value(const std::string& s);
    explicit Value(const char* s);
    explicit Value(const Object& o);
    explicit Value(const Array& a);

    Type type() const { return type_; }

    template <typename T>
    bool is() const;
    template <typename T>
    T& get();
    template <typename T>
    const T& get() const;

    // Parses one JSON value at the start of `text` (after white space); on false the value is
    // null.
    bool parse(const std::string& text);
    std::string json() const;

private:
    friend class Parser;
    friend class Writer;
    // Releases the payload; the value becomes null.
    void reset();
    // Each makes this value an empty one of its kind (releasing the old payload first) and
    // returns the new payload, for the parser to fill in place.
    bool& becomeBool();
    Number& becomeNumber();
    std::string& becomeString();
    Object& becomeObject();
    Array& becomeArray();
    // Takes over the payload of `from`, which becomes null; this value must be null.
    void take(Value& from) noexcept;

    Type type_ = NULL_;
    // The payload of type_ alone, so the kinds share their storage: a smaller value makes
    // smaller object members, and a large answer is parsed with less memory to allocate and
    // free (48 bytes instead of 80 on x86-64).
    union {
        bool bool_ = false;
        Number number_;
        std::string string_;
        Object* object_;  // owned
        Array* array_;    // owned
    };
};

// The members of an object: each key once, in ascending byte order of the keys, as a map
// presents them (begin/end, find, count, operator[]). Held in one sorted vector, which costs
// about 80 bytes a member where a tree costs some 130 in separately allocated nodes.
class Members {
public:
    using value_type = std::pair<std::string, Value>;
    using iterator = std::vector<value_type>::iterator;
    using const_iterator = std::vector<value_type>::const_iterator;

    iterator begin() { return items_.begin(); }
    iterator end() { return items_.end(); }
    const_iterator begin() const { return items_.begin(); }
    const_iterator end() const { return items_.end(); }
    size_t size() const { return items_.size(); }
    bool empty() const { return items_.empty(); }
    void clear() { items_.clear(); }
    void swap(Members& other) noexcept { items_.swap(other.items_); }

    iterator find(const std::string& key);
    const_iterator find(const std::string& key) const;
    size_t count(const std::string& key) const { return find(key) == end() ? 0 : 1; }
    // The member `key`, added as null when absent.
    Value& operator[](const std::string& key);

private:
    friend class Parser;
    // For the parser: adds a member at the end, without looking for its key; settle() must
    // follow before any other use.
    Value& append(std::string&& key);
    // Restores the order and uniqueness after append(): a key given twice keeps the value
    // appended last.
    void settle();

    std::vector<value_type> items_;
};

class Object {
public:
    using Container = Members;

    Object();
    Object(const Object& other);
    Object(Object&& other) noexcept;
    Object& operator=(const Object& other);
    Object& operator=(Object&& other) noexcept;
    ~Object();

    // True when `key` exists and holds a T (std::string, Number, bool, Object, Array, Null).
    template <typename T>
    bool has(const std::string& key) const;
    template <typename T>
    T& get(const std::string& key);
    template <typename T>
    const T& get(const std::string& key) const;

    // Adds or replaces the member `key`.
    void import(const std::string& key, const std::string& value);
    void import(const std::string& key, const char* value);
    void import(const std::string& key, bool value);
    void import(const std::string& key, Number value);
    void import(const std::string& key, const Object& value);
    void import(const std::string& key, const Array& value);
    void import(const std::string& key, const Value& value);

    // Empties the object, then reads one JSON object at the start of `text`. On false the
    // object is left empty. `text` may belong to this object.
    bool parse(const std::string& text);
    // The same within `limits`; `error` tells why it failed (None on true).
    bool parse(const std::string& text, const ParseLimits& limits, ParseError& error);
    std::string json() const;

    size_t size() const { return members_.size(); }
    bool empty() const { return members_.empty(); }
    void reset() { members_.clear(); }
    const Container& kv_map() const { return members_; }

private:
    friend class Parser;
    Container members_;
};

class Array {
public:
    using Container = std::vector<Value>;

    Array();
    Array(const Array& other);
    Array(Array&& other) noexcept;
    Array& operator=(const Array& other);
    Array& operator=(Array&& other) noexcept;
    ~Array();

    template <typename T>
    bool has(size_t index) const;
    template <typename T>
    T& get(size_t index);
    template <typename T>
    const T& get(size_t index) const;

    void append(const std::string& value);
    void append(const char* value);
    void append(bool value);
    void append(Number value);
    void append(const Object& value);
    void append(const Array& value);
    void append(const Value& value);

    // Empties the array, then reads one JSON array at the start of `text`. On false the array
    // is left empty. `text` may belong to this array.
    bool parse(const std::string& text);
    // The same within `limits`; `error` tells why it failed (None on true).
    bool parse(const std::string& text, const ParseLimits& limits, ParseError& error);
    std::string json() const;

    size_t size() const { return values_.size(); }
    bool empty() const { return values_.empty(); }
    void reset() { values_.clear(); }
    const Container& values() const { return values_; }

private:
    friend class Parser;
    Container values_;
};

// Escapes `text` as a JSON string body (without the surrounding quotes), by the writing rules
// above.
std::string escapeString(const std::string& text);

}  // namespace jsonxx
