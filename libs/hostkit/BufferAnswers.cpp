// SPDX-License-Identifier: Apache-2.0
#include "BufferAnswers.h"

#include <cstring>
#include <limits>

#include "KYSOTypes.h"

namespace hostkit {

int32_t answerBufferGet(const std::string& value, char* buf, int16_t& size) {
    const size_t needed = value.size() + 1;
    if (needed > static_cast<size_t>(std::numeric_limits<int16_t>::max())) {
        return KYSO::BUFFER_FAILED;  // the convention cannot express this size
    }
    if (buf == nullptr || size < 0 || static_cast<size_t>(size) < needed) {
        size = static_cast<int16_t>(needed);
        return KYSO::BUFFER_TOO_SMALL;
    }
    std::memcpy(buf, value.c_str(), needed);
    return KYSO::BUFFER_OK;
}

int32_t answerSizedList(const std::string& text, int32_t size, char* buf) {
    const int32_t needed = static_cast<int32_t>(text.size()) + 1;
    if (buf == nullptr || size < needed) {
        return needed;
    }
    std::memcpy(buf, text.c_str(), static_cast<size_t>(needed));
    return 0;
}

int32_t answerHbaList(const std::vector<Initiator>& list, char* names, int16_t& namesLength,
                      char* flags, int16_t& flagsLength, int16_t& count) {
    std::vector<std::string> nameList;
    std::string flagBytes;
    for (const Initiator& initiator : list) {
        nameList.push_back(initiator.name);
        flagBytes += initiator.iscsi ? '\1' : '\0';
    }
    const std::string text = joinValues(nameList, ',');
    const size_t limit = static_cast<size_t>(std::numeric_limits<int16_t>::max());
    const bool expressible = text.size() + 1 <= limit && flagBytes.size() <= limit;
    const bool lookup = names == nullptr || flags == nullptr;
    const int16_t neededNames = expressible ? static_cast<int16_t>(text.size() + 1) : 0;
    const int16_t neededFlags = expressible ? static_cast<int16_t>(flagBytes.size()) : 0;
    if (list.empty() || !expressible ||
        (!lookup && (namesLength < neededNames || flagsLength < neededFlags))) {
        namesLength = 0;
        flagsLength = 0;
        count = 0;
        return 1;
    }
    count = static_cast<int16_t>(list.size());
    if (!lookup) {
        std::memcpy(names, text.c_str(), text.size() + 1);
        std::memcpy(flags, flagBytes.data(), flagBytes.size());
    }
    namesLength = neededNames;
    flagsLength = neededFlags;
    return 0;
}

std::string joinValues(const std::vector<std::string>& values, char separator) {
    std::string text;
    for (size_t i = 0; i < values.size(); ++i) {
        if (i > 0) {
            text += separator;
        }
        text += values[i];
    }
    return text;
}

}  // namespace hostkit
