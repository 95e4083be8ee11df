// SPDX-License-Identifier: Apache-2.0
// Reading host texts through the buffer-get convention without trusting the host blindly:
// an answer outside 0, 1 and 2, a "too small" answer whose size does not grow the buffer, and
// endless regrowing all end as a failure instead of a loop or a bad allocation.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// A reusable buffer for buffer-get reads; it keeps the size the host last asked for.
class HostBuffer {
public:
    explicit HostBuffer(int16_t initialSize);
    // Host texts may hold a password (the array information): the memory is zeroed when the
    // buffer is replaced or destroyed.
    ~HostBuffer();
    HostBuffer(const HostBuffer&) = delete;
    HostBuffer& operator=(const HostBuffer&) = delete;

    char* data() { return data_.data(); }
    int16_t size() const { return static_cast<int16_t>(data_.size()); }
    // Replaces the buffer by a zeroed one of `size` bytes (size must be positive).
    void resize(int16_t size);

private:
    std::vector<char> data_;
};

// A buffer-get operation: fills (buffer, size) and answers 0, 1 or 2.
using BufferGet = std::function<int(char* buffer, int16_t& size)>;
// Called before each regrow with the size the host asked for and its answer (2).
using RegrowNotice = std::function<void(int16_t neededSize, int answer)>;

// The most regrows one read allows; a host that keeps asking for more is treated as failing.
constexpr int kMaxBufferRegrows = 8;

// Reads one text through `get` into `buffer`, regrowing it as the host asks.
// Returns 0 with `text` set; 1 when the host failed or broke the convention (`text` cleared).
int readHostText(HostBuffer& buffer, const BufferGet& get, std::string& text,
                 const RegrowNotice& onRegrow = {});
