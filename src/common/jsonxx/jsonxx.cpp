// SPDX-License-Identifier: Apache-2.0
// Value, Object and Array: ownership, deep copies, typed access and the parse/json entry
// points. Reading and writing live in jsonxx_parser.cpp and jsonxx_writer.cpp.
#include "jsonxx.h"

#include <new>
#include <type_traits>
#include <utility>

#include "jsonxx_parser.h"
#include "jsonxx_writer.h"

namespace jsonxx {

namespace {

template <typename T>
constexpr Value::Type kindOf() {
    if constexpr (std::is_same_v<T, std::string>) {
        return Value::STRING_;
    } else if constexpr (std::is_same_v<T, Number>) {
        return Value::NUMBER_;
    } else if constexpr (std::is_same_v<T, bool>) {
        return Value::BOOL_;
    } else if constexpr (std::is_same_v<T, Object>) {
        return Value::OBJECT_;
    } else if constexpr (std::is_same_v<T, Array>) {
        return Value::ARRAY_;
    } else {
        static_assert(std::is_same_v<T, Null>, "jsonxx holds no such type");
        return Value::NULL_;
    }
}

// What get<T>() hands out for an absent member or one of another kind: a per-thread default,
// reset on every such call so that nothing written through an earlier answer leaks into a later
// one.
template <typename T>
T& fallback() {
    thread_local T value;
    if constexpr (std::is_same_v<T, Object> || std::is_same_v<T, Array>) {
        // Clearing is what assigning an empty one does, and spares GCC 12 at -O3 a false
        // dangling-pointer warning about the temporary container.
        value.reset();
    } else {
        value = T();
    }
    return value;
}

}  // namespace

// ---- Value ----

Value::Value() {}

Value::Value(const Value& other) : type_(NULL_) {
    switch (other.type_) {
        case NULL_:
            break;
        case BOOL_:
            becomeBool() = other.bool_;
            break;
        case NUMBER_:
            becomeNumber() = other.number_;
            break;
        case STRING_:
            becomeString() = other.string_;
            break;
        case OBJECT_:
            object_ = new Object(*other.object_);
            type_ = OBJECT_;
            break;
        case ARRAY_:
            array_ = new Array(*other.array_);
            type_ = ARRAY_;
            break;
    }
}

Value::Value(Value&& other) noexcept {
    take(other);
}

// Both assignments build the new content before releasing the old, so assigning a value that
// lives inside this one (a member of its object, say) is safe.
Value& Value::operator=(const Value& other) {
    if (this != &other) {
        *this = Value(other);
    }
    return *this;
}

Value& Value::operator=(Value&& other) noexcept {
    if (this != &other) {
        Value taken(std::move(other));
        reset();
        take(taken);
    }
    return *this;
}

Value::~Value() {
    reset();
}

Value::Value(bool b) : type_(BOOL_), bool_(b) {}
Value::Value(Number n) : type_(NUMBER_), number_(n) {}
Value::Value(const std::string& s) : type_(STRING_), string_(s) {}
Value::Value(const char* s) : type_(STRING_), string_(s ? s : "") {}
Value::Value(const Object& o) : type_(OBJECT_), object_(new Object(o)) {}
Value::Value(const Array& a) : type_(ARRAY_), array_(new Array(a)) {}

void Value::reset() {
    switch (type_) {
        case STRING_:
            string_.~basic_string();
            break;
        case OBJECT_:
            delete object_;
            break;
        case ARRAY_:
            delete array_;
            break;
        default:
            break;
    }
    type_ = NULL_;
    bool_ = false;
}

bool& Value::becomeBool() {
    reset();
    type_ = BOOL_;
    return bool_;
}

Number& Value::becomeNumber() {
    reset();
    number_ = 0;
    type_ = NUMBER_;
    return number_;
}

std::string& Value::becomeString() {
    reset();
    new (&string_) std::string();
    type_ = STRING_;
    return string_;
}

// The type is set only once the container exists, so a failed allocation leaves a null value.
Object& Value::becomeObject() {
    reset();
    object_ = new Object();
    type_ = OBJECT_;
    return *object_;
}

Array& Value::becomeArray() {
    reset();
    array_ = new Array();
    type_ = ARRAY_;
    return *array_;
}

void Value::take(Value& from) noexcept {
    const Type type = from.type_;
    switch (type) {
        case NULL_:
            bool_ = false;
            break;
        case BOOL_:
            bool_ = from.bool_;
            break;
        case NUMBER_:
            number_ = from.number_;
            break;
        case STRING_:
            new (&string_) std::string(std::move(from.string_));
            break;
        case OBJECT_:
            object_ = from.object_;
            from.type_ = NULL_;  // the container belongs here now
            break;
        case ARRAY_:
            array_ = from.array_;
            from.type_ = NULL_;
            break;
    }
    type_ = type;
    from.reset();
}

template <typename T>
bool Value::is() const {
    return type_ == kindOf<T>();
}

template <typename T>
T& Value::get() {
    if constexpr (std::is_same_v<T, Null>) {
        return fallback<Null>();  // nothing to hand out but the empty tag
    } else {
        if (!is<T>()) {
            return fallback<T>();
        }
        if constexpr (std::is_same_v<T, std::string>) {
            return string_;
        } else if constexpr (std::is_same_v<T, Number>) {
            return number_;
        } else if constexpr (std::is_same_v<T, bool>) {
            return bool_;
        } else if constexpr (std::is_same_v<T, Object>) {
            return *object_;
        } else {
            return *array_;
        }
    }
}

template <typename T>
const T& Value::get() const {
    return const_cast<Value*>(this)->get<T>();
}

bool Value::parse(const std::string& text) {
    Value parsed;
    if (!Parser(text).readValue(parsed)) {
        reset();
        return false;
    }
    *this = std::move(parsed);
    return true;
}

std::string Value::json() const {
    std::string out;
    out.reserve(Writer::room(*this));
    Writer::value(out, *this, 0);
    return out;
}

// ---- Object ----

Object::Object() = default;
Object::Object(const Object& other) = default;
Object::Object(Object&& other) noexcept = default;
Object::~Object() = default;

// Build first, release after: `other` may live inside this object.
Object& Object::operator=(const Object& other) {
    if (this != &other) {
        Container copy(other.members_);
        members_.swap(copy);
    }
    return *this;
}

Object& Object::operator=(Object&& other) noexcept {
    if (this != &other) {
        Container taken(std::move(other.members_));
        other.members_.clear();
        members_.swap(taken);
    }
    return *this;
}

template <typename T>
bool Object::has(const std::string& key) const {
    const auto it = members_.find(key);
    return it != members_.end() && it->second.is<T>();
}

template <typename T>
T& Object::get(const std::string& key) {
    const auto it = members_.find(key);
    return it == members_.end() ? fallback<T>() : it->second.get<T>();
}

template <typename T>
const T& Object::get(const std::string& key) const {
    return const_cast<Object*>(this)->get<T>(key);
}

void Object::import(const std::string& key, const std::string& value) {
    import(key, Value(value));
}
void Object::import(const std::string& key, const char* value) {
    import(key, Value(value));
}
void Object::import(const std::string& key, bool value) {
    import(key, Value(value));
}
void Object::import(const std::string& key, Number value) {
    import(key, Value(value));
}
void Object::import(const std::string& key, const Object& value) {
    import(key, Value(value));
}
void Object::import(const std::string& key, const Array& value) {
    import(key, Value(value));
}

void Object::import(const std::string& key, const Value& value) {
    // Copy before touching the map: `value` or `key` may live inside this object.
    Value copy(value);
    std::string name(key);
    members_[std::move(name)] = std::move(copy);
}

bool Object::parse(const std::string& text) {
    ParseError error;
    return parse(text, kDefaultLimits, error);
}

bool Object::parse(const std::string& text, const ParseLimits& limits, ParseError& error) {
    // Read into a fresh container so that `text` may be one of this object's own strings.
    Container parsed;
    Parser parser(text, limits);
    const bool ok = parser.readObject(parsed);
    error = ok ? ParseError::None : parser.error();
    members_.clear();
    if (ok) {
        members_.swap(parsed);
    }
    return ok;
}

std::string Object::json() const {
    std::string out;
    out.reserve(Writer::room(*this));
    Writer::object(out, *this, 0);
    return out;
}

// ---- Array ----

Array::Array() = default;
Array::Array(const Array& other) = default;
Array::Array(Array&& other) noexcept = default;
Array::~Array() = default;

Array& Array::operator=(const Array& other) {
    if (this != &other) {
        Container copy(other.values_);
        values_.swap(copy);
    }
    return *this;
}

Array& Array::operator=(Array&& other) noexcept {
    if (this != &other) {
        Container taken(std::move(other.values_));
        other.values_.clear();
        values_.swap(taken);
    }
    return *this;
}

template <typename T>
bool Array::has(size_t index) const {
    return index < values_.size() && values_[index].is<T>();
}

template <typename T>
T& Array::get(size_t index) {
    return index < values_.size() ? values_[index].get<T>() : fallback<T>();
}

template <typename T>
const T& Array::get(size_t index) const {
    return const_cast<Array*>(this)->get<T>(index);
}

void Array::append(const std::string& value) {
    append(Value(value));
}
void Array::append(const char* value) {
    append(Value(value));
}
void Array::append(bool value) {
    append(Value(value));
}
void Array::append(Number value) {
    append(Value(value));
}
void Array::append(const Object& value) {
    append(Value(value));
}
void Array::append(const Array& value) {
    append(Value(value));
}

void Array::append(const Value& value) {
    // Copy first: `value` may be one of this array's elements, which push_back could move.
    Value copy(value);
    values_.push_back(std::move(copy));
}

bool Array::parse(const std::string& text) {
    ParseError error;
    return parse(text, kDefaultLimits, error);
}

bool Array::parse(const std::string& text, const ParseLimits& limits, ParseError& error) {
    Container parsed;
    Parser parser(text, limits);
    const bool ok = parser.readArray(parsed);
    error = ok ? ParseError::None : parser.error();
    values_.clear();
    if (ok) {
        values_.swap(parsed);
    }
    return ok;
}

std::string Array::json() const {
    std::string out;
    out.reserve(Writer::room(*this));
    Writer::array(out, *this, 0);
    return out;
}

std::string parseErrorText(ParseError error, const ParseLimits& limits) {
    switch (error) {
        case ParseError::None:
            break;
        case ParseError::Syntax:
            return "is not valid JSON";
        case ParseError::TooManyValues:
            return "exceeds " + std::to_string(limits.values) + " values";
        case ParseError::TooDeep:
            return "nests deeper than " + std::to_string(limits.depth) + " levels";
    }
    return "";
}

// The accessors exist for exactly these types; any other T fails to link.
#define JSONXX_INSTANTIATE(T)                                   \
    template bool Value::is<T>() const;                         \
    template T& Value::get<T>();                                \
    template const T& Value::get<T>() const;                    \
    template bool Object::has<T>(const std::string&) const;     \
    template T& Object::get<T>(const std::string&);             \
    template const T& Object::get<T>(const std::string&) const; \
    template bool Array::has<T>(size_t) const;                  \
    template T& Array::get<T>(size_t);                          \
    template const T& Array::get<T>(size_t) const;

JSONXX_INSTANTIATE(std::string)
JSONXX_INSTANTIATE(Number)
JSONXX_INSTANTIATE(bool)
JSONXX_INSTANTIATE(Object)
JSONXX_INSTANTIATE(Array)
JSONXX_INSTANTIATE(Null)

#undef JSONXX_INSTANTIATE

}  // namespace jsonxx
