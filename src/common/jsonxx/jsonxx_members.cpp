// SPDX-License-Identifier: Apache-2.0
// Members: an object's members as one vector sorted by key.
#include <algorithm>

#include "jsonxx.h"

namespace jsonxx {

namespace {

bool keyBefore(const Members::value_type& member, const std::string& key) {
    return member.first < key;
}

}  // namespace

Members::iterator Members::find(const std::string& key) {
    const auto it = std::lower_bound(items_.begin(), items_.end(), key, keyBefore);
    return it != items_.end() && it->first == key ? it : items_.end();
}

Members::const_iterator Members::find(const std::string& key) const {
    const auto it = std::lower_bound(items_.begin(), items_.end(), key, keyBefore);
    return it != items_.end() && it->first == key ? it : items_.end();
}

Value& Members::operator[](const std::string& key) {
    // Members mostly arrive in key order (jsonxx writes them so): then the end is the place.
    if (items_.empty() || items_.back().first < key) {
        items_.emplace_back(key, Value());
        return items_.back().second;
    }
    const auto it = std::lower_bound(items_.begin(), items_.end(), key, keyBefore);
    if (it != items_.end() && it->first == key) {
        return it->second;
    }
    return items_.emplace(it, key, Value())->second;
}

Value& Members::append(std::string&& key) {
    items_.emplace_back(std::move(key), Value());
    return items_.back().second;
}

void Members::settle() {
    const auto strictlyAscending = [](const value_type& a, const value_type& b) {
        return a.first < b.first;
    };
    if (std::adjacent_find(items_.begin(), items_.end(), [&](const auto& a, const auto& b) {
            return !strictlyAscending(a, b);
        }) == items_.end()) {
        return;
    }
    // Equal keys stay in the order they came, and the last of each run is kept.
    std::stable_sort(items_.begin(), items_.end(), strictlyAscending);
    auto kept = items_.begin();
    for (auto it = items_.begin(); it != items_.end(); ++it) {
        const auto next = it + 1;
        if (next != items_.end() && next->first == it->first) {
            continue;
        }
        if (kept != it) {
            *kept = std::move(*it);
        }
        ++kept;
    }
    items_.erase(kept, items_.end());
}

}  // namespace jsonxx
