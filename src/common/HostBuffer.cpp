// SPDX-License-Identifier: Apache-2.0
#include "HostBuffer.h"

#include <cstring>

#include "KYSOTypes.h"
#include "SecretMemory.h"

HostBuffer::HostBuffer(int16_t initialSize) {
    resize(initialSize > 0 ? initialSize : 1);
}

HostBuffer::~HostBuffer() {
    kyplatform::wipeSecret(data_.data(), data_.size());
}

void HostBuffer::resize(int16_t size) {
    kyplatform::wipeSecret(data_.data(), data_.size());
    data_.assign(size > 0 ? static_cast<size_t>(size) : 1, '\0');
}

int readHostText(HostBuffer& buffer, const BufferGet& get, std::string& text,
                 const RegrowNotice& onRegrow) {
    text.clear();
    for (int regrows = 0;; ++regrows) {
        int16_t size = buffer.size();
        const int answer = get(buffer.data(), size);
        if (answer == KYSO::BUFFER_OK) {
            // Never read past the buffer, even when the host forgot the terminating NUL.
            const char* data = buffer.data();
            text.assign(data, strnlen(data, static_cast<size_t>(buffer.size())));
            return KYSO::BUFFER_OK;
        }
        if (answer != KYSO::BUFFER_TOO_SMALL) {
            return KYSO::BUFFER_FAILED;
        }
        if (onRegrow) {
            onRegrow(size, answer);
        }
        if (size <= buffer.size() || regrows >= kMaxBufferRegrows) {
            return KYSO::BUFFER_FAILED;
        }
        buffer.resize(size);
    }
}
