// jsonxx: the JSON document model of the plug-in and the array simulator.
//
// Parsing: white space between tokens is skipped and text after the closing brace or bracket
// is not examined. Strings take double or single quotes; the escapes \" \\ \/ \b \f \n \r \t
// and \uXXXX are understood (\u becomes UTF-8, surrogate pairs combined) and any other
// backslash sequence stays as written. A ',' right before '}' is accepted; a key given twice
// keeps the later value. Numbers are read as long double. Nesting deeper than kMaxDepth fails
// the parse instead of exhausting the stack.
//
// Writing (json()): members in ascending byte order of their keys, one per line, indented by
// one tab per level, as "key": value followed by ','; the last ',' of a container becomes a
// space. '"', '\' and '/' are escaped as \" \\ \/, the control characters as \b \f \n \r \t or
// \u00XX; bytes of 0x80 and above pass unchanged.
//
// get<T>() of an absent member, or of one of another kind, returns a reference to a
// default-constructed T private to the calling thread; callers test with has<T>() first.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace jsonxx {

using Number = long double;
using String = std::string;
using Boolean = bool;

class Object;
class Array;

struct Null {};

// Nesting bound for parsing: a document nested deeper fails to parse.
constexpr int kMaxDepth = 512;

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

    // Parses one JSON value at the start of `text` (after white space).
    bool parse(const std::string& text);
    std::string json() const;

private:
    friend class Parser;
    friend class Writer;
    void reset();

    Type type_ = NULL_;
    bool bool_ = false;
    Number number_ = 0;
    std::string string_;
    std::unique_ptr<Object> object_;
    std::unique_ptr<Array> array_;
};

class Object {
public:
    using Container = std::map<std::string, Value>;

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
    // object may hold the members read before the error.
    bool parse(const std::string& text);
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

    // Empties the array, then reads one JSON array at the start of `text`.
    bool parse(const std::string& text);
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
