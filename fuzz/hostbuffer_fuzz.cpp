// SPDX-License-Identifier: Apache-2.0
// libFuzzer target for the host buffer-get reader (readHostText). The input scripts a host:
// the first two bytes are the initial buffer size, then each answer is four bytes (the answer
// code, the size written back, and how many bytes of the text the host writes), followed by
// the text the host holds. Whatever the host does, the read must end after a bounded number of
// calls, never touch memory outside the buffer it gave (AddressSanitizer watches), and answer
// only 0 with a text no longer than the buffer or 1 with no text.
#include <algorithm>
#include <cstring>
#include <string>

#include "FuzzFields.h"
#include "HostBuffer.h"
#include "KYSOTypes.h"

namespace {

int16_t int16At(const uint8_t* data) {
    return static_cast<int16_t>(static_cast<uint16_t>(data[0] | (data[1] << 8)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    const int16_t initial = int16At(data);
    const std::vector<std::string> in = fuzz::fields(data + 2, size - 2, 2);
    const std::string& script = in[0];
    const std::string& hostText = in[1];

    size_t step = 0;
    int calls = 0;
    int regrowNotices = 0;
    const BufferGet get = [&](char* buffer, int16_t& bufferSize) {
        ++calls;
        if (step + 4 > script.size()) {
            return static_cast<int>(KYSO::BUFFER_FAILED);
        }
        const auto* s = reinterpret_cast<const uint8_t*>(script.data()) + step;
        step += 4;
        const int answer = static_cast<int8_t>(s[0]);
        const int16_t sizeBack = int16At(s + 1);
        // A host writes at most the buffer it was given, and not always a terminating NUL.
        const size_t room = bufferSize > 0 ? static_cast<size_t>(bufferSize) : 0;
        const size_t written = std::min({static_cast<size_t>(s[3]), hostText.size(), room});
        std::memcpy(buffer, hostText.data(), written);
        bufferSize = sizeBack;
        return answer;
    };

    HostBuffer buffer(initial);
    std::string text = "stale";
    const int result = readHostText(buffer, get, text, [&](int16_t, int answer) {
        ++regrowNotices;
        if (answer != KYSO::BUFFER_TOO_SMALL) {
            fuzz::fail("hostbuffer_fuzz", "regrow without answer 2");
        }
    });
    if (calls > kMaxBufferRegrows + 1) {
        fuzz::fail("hostbuffer_fuzz", "more host calls than the regrow bound allows");
    }
    if (result == KYSO::BUFFER_OK) {
        if (text.size() > static_cast<size_t>(buffer.size())) {
            fuzz::fail("hostbuffer_fuzz", "text longer than the buffer");
        }
    } else if (result != KYSO::BUFFER_FAILED || !text.empty()) {
        fuzz::fail("hostbuffer_fuzz", "a failed read must answer 1 with no text");
    }
    if (regrowNotices > kMaxBufferRegrows + 1) {
        fuzz::fail("hostbuffer_fuzz", "too many regrow notices");
    }
    return 0;
}
