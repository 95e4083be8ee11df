#include "TestOSUtil.h"

#include <cstring>

#include "TestSnapInfo.h"

namespace testhost {

namespace {

std::vector<std::string> toVector(const char** list) {
    std::vector<std::string> values;
    for (; list != nullptr && *list != nullptr; ++list) {
        values.emplace_back(*list);
    }
    return values;
}

// The size-reporting convention of the OS utility: 0 when the text fits, else the size needed.
int32_t answerSizedList(const std::string& text, int32_t size, char* buf) {
    const int32_t needed = static_cast<int32_t>(text.size()) + 1;
    if (buf == nullptr || size < needed) {
        return needed;
    }
    std::memcpy(buf, text.c_str(), static_cast<size_t>(needed));
    return 0;
}

}  // namespace

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

void TestOSUtil::script(UtilOp op, int32_t answer, std::optional<int32_t> size) {
    scripts_[op].push_back(Scripted{answer, size});
}

int TestOSUtil::callCount(UtilOp op) const {
    auto it = calls_.find(op);
    return it == calls_.end() ? 0 : it->second;
}

std::optional<TestOSUtil::Scripted> TestOSUtil::takeScript(UtilOp op) {
    ++calls_[op];
    auto it = scripts_.find(op);
    if (it == scripts_.end() || it->second.empty()) {
        return std::nullopt;
    }
    Scripted answer = it->second.front();
    it->second.pop_front();
    return answer;
}

bool TestOSUtil::refreshBus(const char* host, const char** initiators, const char** devices) {
    auto scripted = takeScript(UtilOp::RefreshBus);
    RescanRecord record{host != nullptr ? host : "", toVector(initiators), toVector(devices)};
    rescans.push_back(record);
    if (!devicesAfterRescan.empty()) {
        for (auto& [name, list] : devicesAfterRescan.front()) {
            this->devices[name] = list;
        }
        devicesAfterRescan.pop_front();
    }
    if (onRescan) {
        onRescan(record);
    }
    return scripted ? scripted->answer != 0 : refreshBusAnswer;
}

int32_t TestOSUtil::getDeviceList(const char* host, const char* /*vendor*/, char separator,
                                  int32_t size, char* buf) {
    const std::string name = host != nullptr ? host : "";
    deviceListQueries.push_back(name);
    if (auto scripted = takeScript(UtilOp::GetDeviceList)) {
        return scripted->answer;
    }
    auto it = devices.find(name);
    const std::string text = it == devices.end() ? "" : joinValues(it->second, separator);
    return answerSizedList(text, size, buf);
}

int32_t TestOSUtil::getArrayListByID(const char* /*arrayType*/, char separator, int32_t size,
                                     char* buf) {
    if (auto scripted = takeScript(UtilOp::GetArrayListByID)) {
        return scripted->answer;
    }
    return answerSizedList(joinValues(arrayNames, separator), size, buf);
}

int32_t TestOSUtil::hbaList(const std::vector<Initiator>& list, char* names, int16_t& namesLength,
                            char* flags, int16_t& flagsLength, int16_t& count) {
    std::vector<std::string> nameList;
    std::string flagBytes;
    for (const Initiator& initiator : list) {
        nameList.push_back(initiator.name);
        flagBytes += initiator.iscsi ? '\1' : '\0';
    }
    const std::string text = joinValues(nameList, ',');
    count = static_cast<int16_t>(list.size());
    if (list.empty()) {
        namesLength = 0;
        flagsLength = 0;
        return 1;
    }
    const int16_t neededNames = static_cast<int16_t>(text.size() + 1);
    const int16_t neededFlags = static_cast<int16_t>(flagBytes.size());
    if (names == nullptr || flags == nullptr || namesLength < neededNames ||
        flagsLength < neededFlags) {
        namesLength = neededNames;
        flagsLength = neededFlags;
        return 0;
    }
    std::memcpy(names, text.c_str(), text.size() + 1);
    std::memcpy(flags, flagBytes.data(), flagBytes.size());
    namesLength = neededNames;
    flagsLength = neededFlags;
    return 0;
}

int32_t TestOSUtil::getLocalHbaList(const char* /*reserved*/, const char* /*arrayHost*/,
                                    char* names, int16_t& namesLength, char* flags,
                                    int16_t& flagsLength, int16_t& count) {
    if (auto scripted = takeScript(UtilOp::GetLocalHbaList)) {
        if (scripted->size) {
            namesLength = static_cast<int16_t>(*scripted->size);
        }
        return scripted->answer;
    }
    return hbaList(localInitiators, names, namesLength, flags, flagsLength, count);
}

int32_t TestOSUtil::getArrayInfoByName(const char* arrayName, char* buf, int16_t& size) {
    if (auto scripted = takeScript(UtilOp::GetArrayInfoByName)) {
        if (scripted->size) {
            size = static_cast<int16_t>(*scripted->size);
        }
        return scripted->answer;
    }
    auto it = arrayInfoByName.find(arrayName != nullptr ? arrayName : "");
    if (it == arrayInfoByName.end()) {
        return -1;
    }
    const int32_t answer = answerBufferGet(it->second, buf, size);
    // The OS utility reports "too small" as a positive answer with the size written back.
    return answer == KYSO::BUFFER_TOO_SMALL ? size : (answer == KYSO::BUFFER_OK ? 0 : -1);
}

int32_t TestOSUtil::getRemoteHbaList(const char* esxHost, const char* /*arrayHost*/, char* names,
                                     int16_t& namesLength, char* flags, int16_t& flagsLength,
                                     int16_t& count) {
    if (auto scripted = takeScript(UtilOp::GetRemoteHbaList)) {
        if (scripted->size) {
            namesLength = static_cast<int16_t>(*scripted->size);
        }
        return scripted->answer;
    }
    auto it = remoteInitiators.find(esxHost != nullptr ? esxHost : "");
    static const std::vector<Initiator> kNone;
    return hbaList(it == remoteInitiators.end() ? kNone : it->second, names, namesLength, flags,
                   flagsLength, count);
}

}  // namespace testhost
