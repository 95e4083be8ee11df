// SPDX-License-Identifier: Apache-2.0
// The answering conventions of the host interfaces, shared by every host implementation:
// the request's buffer-get, the OS utility's size-reporting lists and its two-phase initiator
// lists. Each writes into the caller's buffer only when the whole answer fits.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "HostTypes.h"

namespace hostkit {

// Buffer-get: 0 with `value` and its NUL in `buf` when it fits in `size`; otherwise 2 with
// `size` set to the size needed; 1 when the size needed cannot be expressed in 16 bits.
int32_t answerBufferGet(const std::string& value, char* buf, int16_t& size);

// Size-reporting list: 0 with `text` in `buf` when it fits; otherwise the size needed.
int32_t answerSizedList(const std::string& text, int32_t size, char* buf);

// Two-phase initiator list. With null buffers: 0 and the lengths and count needed. With buffers
// of at least those lengths: 0 and the ','-separated names and one flag byte per name (1 =
// iSCSI). An empty list, a list too long for 16-bit lengths, or buffers too small for it (the
// list changed between the phases): 1 with both lengths 0, so the caller reads no names.
int32_t answerHbaList(const std::vector<Initiator>& list, char* names, int16_t& namesLength,
                      char* flags, int16_t& flagsLength, int16_t& count);

// Joins `values` with `separator` between them.
std::string joinValues(const std::vector<std::string>& values, char separator);

}  // namespace hostkit
