// SPDX-License-Identifier: Apache-2.0
#include "StrictJson.h"

#include <cmath>
#include <cstring>
#include <iterator>
#include <set>
#include <vector>

namespace strictjson {

namespace {

using Json = nlohmann::json;

// A pointer into the text that remembers how far the parser has read, so that a refusal the
// parser does not see (a repeated key) can still say where it is.
class CountingIterator {
public:
    using iterator_category = std::input_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = const char&;

    CountingIterator(const char* at, const char** reached) : at_(at), reached_(reached) {}
    reference operator*() const { return *at_; }
    CountingIterator& operator++() {
        ++at_;
        if (at_ > *reached_) {
            *reached_ = at_;
        }
        return *this;
    }
    CountingIterator operator++(int) {
        CountingIterator before = *this;
        ++*this;
        return before;
    }
    bool operator==(const CountingIterator& other) const { return at_ == other.at_; }
    bool operator!=(const CountingIterator& other) const { return at_ != other.at_; }

private:
    const char* at_;
    const char** reached_;
};

// Builds the value as nlohmann's own parser would, and refuses what it lets through.
class StrictHandler {
public:
    StrictHandler(const std::string& text, const char* const& reached, Json& root,
                  std::string& error)
        : text_(text), reached_(reached), root_(root), error_(error) {}

    bool null() { return place(Json(nullptr)); }
    bool boolean(bool value) { return place(Json(value)); }
    bool number_integer(Json::number_integer_t value) {
        number_ = frames_.empty();
        return place(Json(value));
    }
    bool number_unsigned(Json::number_unsigned_t value) {
        number_ = frames_.empty();
        return place(Json(value));
    }
    bool number_float(Json::number_float_t value, const Json::string_t&) {
        number_ = frames_.empty();
        return place(Json(value));
    }
    bool string(Json::string_t& value) { return place(Json(std::move(value))); }
    bool binary(Json::binary_t&) { return fail("it holds binary data", offset()); }

    bool start_object(std::size_t) { return open(Json::object()); }
    bool start_array(std::size_t) { return open(Json::array()); }
    bool end_object() { return close(); }
    bool end_array() { return close(); }

    bool key(Json::string_t& key) {
        Frame& frame = frames_.back();
        if (!frame.keys.insert(key).second) {
            return fail("the key \"" + key + "\" appears twice in one object", offset());
        }
        frame.key = key;
        return true;
    }

    bool parse_error(std::size_t position, const std::string&,
                     const nlohmann::detail::exception& problem) {
        if (done_) {
            return fail("there is text after the JSON document", trailingText());
        }
        return fail("it is not valid JSON", position == 0 ? 0 : position - 1,
                    reason(problem.what()));
    }

private:
    struct Frame {
        Json* container;
        std::set<std::string> keys;  // objects only
        std::string key;             // objects only: the member whose value comes next
    };

    size_t offset() const { return static_cast<size_t>(reached_ - text_.data()); }

    bool fail(const std::string& what, size_t at, const std::string& why = std::string()) {
        error_ = what + " (at byte " + std::to_string(at) + (why.empty() ? "" : ": " + why) + ")";
        return false;
    }

    // nlohmann's message without its prefixes ("[json.exception.parse_error.101] parse error at
    // line 1, column 5: syntax error while parsing value - ") and its echo of the text read.
    static std::string reason(std::string why) {
        if (why.rfind("[json.exception.", 0) == 0 && why.find("] ") != std::string::npos) {
            why.erase(0, why.find("] ") + 2);
        }
        if (why.rfind("parse error", 0) == 0 && why.find(": ") != std::string::npos) {
            why.erase(0, why.find(": ") + 2);
        }
        if (why.find(" - ") != std::string::npos) {
            why.erase(0, why.find(" - ") + 3);
        }
        const size_t last = why.find("; last read");
        return last == std::string::npos ? why : why.substr(0, last);
    }

    // Where the text after the document starts. A number at the root was read one character
    // past its end.
    size_t trailingText() const {
        size_t at = rootEnd_;
        if (number_ && frames_.empty() && at > 0 &&
            std::strchr("0123456789.eE+-", text_[at - 1]) == nullptr) {
            --at;
        }
        while (at < text_.size() && std::strchr(" \t\r\n", text_[at]) != nullptr) {
            ++at;
        }
        return at;
    }

    // Puts a complete value where it belongs; the address of the stored value.
    Json* store(Json&& value) {
        if (frames_.empty()) {
            root_ = std::move(value);
            return &root_;
        }
        Frame& frame = frames_.back();
        if (frame.container->is_array()) {
            frame.container->push_back(std::move(value));
            return &frame.container->back();
        }
        Json& slot = (*frame.container)[frame.key];
        slot = std::move(value);
        return &slot;
    }

    bool place(Json&& value) {
        store(std::move(value));
        if (frames_.empty()) {
            done_ = true;
            rootEnd_ = offset();
        }
        return true;
    }

    bool open(Json&& container) {
        if (frames_.size() >= static_cast<size_t>(kMaxDepth)) {
            return fail("it is nested too deeply", offset() - 1);
        }
        // A container stays where it was stored while it is open: its parent gets no other
        // value until it is closed.
        frames_.push_back(Frame{store(std::move(container)), {}, {}});
        return true;
    }

    bool close() {
        frames_.pop_back();
        if (frames_.empty()) {
            done_ = true;
            rootEnd_ = offset();
        }
        return true;
    }

    const std::string& text_;
    const char* const& reached_;
    Json& root_;
    std::string& error_;
    std::vector<Frame> frames_;
    bool done_ = false;    // the root value is complete
    bool number_ = false;  // the root is a number (read one character ahead)
    size_t rootEnd_ = 0;
};

}  // namespace

bool parse(const std::string& text, nlohmann::json& value, std::string& error) {
    error.clear();
    value = nullptr;
    const char* reached = text.data();
    StrictHandler handler(text, reached, value, error);
    const CountingIterator begin(text.data(), &reached);
    const CountingIterator end(text.data() + text.size(), &reached);
    const bool ok = Json::sax_parse(begin, end, &handler);
    if (!ok && error.empty()) {
        error = "it is not valid JSON";
    }
    return ok;
}

bool parseObject(const std::string& text, nlohmann::json& object, std::string& error) {
    if (!parse(text, object, error)) {
        return false;
    }
    if (!object.is_object()) {
        error = "it is not a JSON object";
        return false;
    }
    return true;
}

bool wholeNumber(const nlohmann::json& value, int64_t min, int64_t max, int64_t& out) {
    if (value.is_number_integer() && !value.is_number_unsigned()) {
        const int64_t number = value.get<int64_t>();
        if (number < min || number > max) {
            return false;
        }
        out = number;
        return true;
    }
    if (value.is_number_unsigned()) {
        const uint64_t number = value.get<uint64_t>();
        if (max < 0 || number > static_cast<uint64_t>(max) ||
            (min > 0 && number < static_cast<uint64_t>(min))) {
            return false;
        }
        out = static_cast<int64_t>(number);
        return true;
    }
    if (value.is_number_float()) {
        const double number = value.get<double>();
        // 2^63 is the first double beyond int64_t.
        if (!std::isfinite(number) || number != std::floor(number) || number >= 0x1p63 ||
            number < -0x1p63 || number < static_cast<double>(min) ||
            number > static_cast<double>(max)) {
            return false;
        }
        out = static_cast<int64_t>(number);
        return true;
    }
    return false;
}

std::string textOr(const nlohmann::json& object, const char* key, const std::string& fallback) {
    const auto found = object.find(key);
    return found != object.end() && found->is_string() ? found->get<std::string>() : fallback;
}

}  // namespace strictjson
