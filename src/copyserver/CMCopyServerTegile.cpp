// SPDX-License-Identifier: Apache-2.0
// The copy server object: its life, the status texts, and the host reads every topic shares.
#include "CMCopyServerTegile.h"

#include <new>

#include "CMParser.h"
#include "CMStorageServerTegile.h"
#include "CMTegileCopyCommand.h"
#include "KYSOTypes.h"
#include "PropertyNames.h"

namespace {
constexpr int16_t kDeviceBufferSize = 8192;
const char* const kPasswordMarker = ",hostPassword:";
const char* const kEngineMarker = ",engineName:";
const char* const kMaskedPassword = "******";
}  // namespace

CMCopyServerTegile::CMCopyServerTegile(KYSO::KYOSUtil* osUtil)
    : osUtil_(osUtil), deviceBuffer_(kDeviceBufferSize) {}

CMCopyServerTegile::~CMCopyServerTegile() {
    // Commands borrow the storage servers: they go first.
    clearCmdList();
    storageServers_.clear();
}

unsigned int CMCopyServerTegile::getRetryCount() const {
    return context_ ? context_->getRetryCount() : defaultRetryCount_;
}

unsigned int CMCopyServerTegile::getRetryInterval() const {
    return context_ ? context_->getRetryInterval() : defaultRetryInterval_;
}

void CMCopyServerTegile::clearCmdList() {
    while (!commands_.empty()) {
        commands_.pop_back();
    }
}

std::string CMCopyServerTegile::getErrorMessage(Copy_Status status) const {
    switch (status) {
        case COPY_NO_MEMORY:
            return "snap operation failed. system is running out of memory";
        case COPY_ACCESS_DENIED:
            return "snap operation failed. Access Denied. Please check array user credentials";
        case COPY_PATH_TOO_LONG:
            return "snap operation failed. snapshot path name too long";
        default:
            return "snap operation failed. please check logs for more details";
    }
}

bool CMCopyServerTegile::isNfsDatastore(const std::string& description) {
    return description.find("idatype:vmware") != std::string::npos &&
           description.find("type:nfs") != std::string::npos;
}

void CMCopyServerTegile::setDatasetPathName(CMStorageDevice::Properties& map) {
    map[SOURCE_DEVICE_DATASET_PATH_NAME] =
        map[SOURCE_DEVICE_POOL_NAME] + "/" + map[SOURCE_DEVICE_MODE] + "/" +
        map[SOURCE_DEVICE_PROJECT_NAME] + "/" + map[SOURCE_DEVICE_NAME];
}

bool CMCopyServerTegile::isVMware() const {
    return context_ && context_->getAppType() == "vmware";
}

int CMCopyServerTegile::readRequestText(const BufferGet& get, const char* header,
                                        const char* regrowFormat, std::string& text) {
    return readHostText(deviceBuffer_, get, text, [&](int16_t size, int answer) {
        info(header, regrowFormat, static_cast<int>(size), answer);
    });
}

Copy_Status CMCopyServerTegile::readDevice(const char* header, const char* regrowFormat,
                                           std::string& text) {
    KYSO::SnapInfo* host = request();
    const int answer = readRequestText(
        [host](char* buffer, int16_t& size) { return host->getDevice(buffer, size); }, header,
        regrowFormat, text);
    if (answer != KYSO::BUFFER_OK) {
        error(header, "getdevice failed snap ID  [%d]", host->getSnapId());
        return COPY_FAILED;
    }
    return COPY_SUCCESS;
}

bool CMCopyServerTegile::getSourceDevice(std::string& description) {
    static const char* const kHeader = "TEGILE CMCopyServerTegile::getSourceDevice() -";
    if (readDevice(kHeader, "getdevice received buf size [%d] status [%d]", description) !=
        COPY_SUCCESS) {
        return false;
    }
    info(kHeader, "source storage Device [%s]", description.c_str());
    return true;
}

void CMCopyServerTegile::logArrayInfo(const char* header, const std::string& text) const {
    // Without both markers the password cannot be told from the rest: log nothing at all.
    const size_t start = text.find(kPasswordMarker);
    if (start == std::string::npos) {
        return;
    }
    const size_t from = start + std::char_traits<char>::length(kPasswordMarker);
    const size_t end = text.find(kEngineMarker, from);
    if (end == std::string::npos) {
        return;
    }
    const std::string masked = text.substr(0, from) + kMaskedPassword + text.substr(end);
    info(header, "array info [%s]", masked.c_str());
}

Copy_Status CMCopyServerTegile::arrayAccessFrom(const char* header, const std::string& text,
                                                const MissingKeyLines& missing,
                                                ArrayAccess& access) {
    logArrayInfo(header, text);
    CMParser::KeyValues values;
    CMParser().getKeyValues(text, values);
    const std::pair<const char*, std::string*> keys[] = {{"arrayId", &access.host},
                                                         {"hostUserName", &access.user},
                                                         {"hostPassword", &access.password}};
    const char* const lines[] = {missing.host, missing.user, missing.password};
    Copy_Status status = COPY_SUCCESS;
    for (size_t i = 0; i < 3 && status == COPY_SUCCESS; ++i) {
        auto found = values.find(keys[i].first);
        if (found == values.end()) {
            error(header, lines[i]);
            status = COPY_FAILED;
        } else {
            *keys[i].second = found->second;
        }
    }
    if (auto secret = values.find("hostPassword"); secret != values.end()) {
        kyplatform::wipeSecret(secret->second);
    }
    return status;
}

Copy_Status CMCopyServerTegile::readArrayInfo(const char* header, const char* regrowFormat,
                                              const MissingKeyLines& missing, ArrayAccess& access) {
    KYSO::SnapInfo* host = request();
    std::string text;
    const kyplatform::WipeAtScopeEnd wiped(text);
    const int answer = readRequestText(
        [host](char* buffer, int16_t& size) { return host->getArrayInfo(buffer, size); }, header,
        regrowFormat, text);
    if (answer != KYSO::BUFFER_OK) {
        error(header, "getArrayInfo failed  error [%d]", answer);
        return COPY_FAILED;
    }
    return arrayAccessFrom(header, text, missing, access);
}

Copy_Status CMCopyServerTegile::makeTemporaryServer(
    const char* header, ArrayAccess& access, std::unique_ptr<CMStorageServerTegile>& server) {
    // One question to one array: the defaults, and the whole answers in the log.
    server.reset(new (std::nothrow)
                     CMStorageServerTegile(access.host, access.user, access.password,
                                           defaultRetryCount_, defaultRetryInterval_, true));
    if (!server) {
        error(header, "storage server Tegile object creation failed");
        return COPY_NO_MEMORY;
    }
    server->setLogger(logger_);
    const Copy_Status status = server->init();
    if (status != COPY_SUCCESS) {
        error(header, "storage server Tegile init  failed error [%d]", static_cast<int>(status));
        server.reset();
    }
    return status;
}

Copy_Status CMCopyServerTegile::ensureContext(const char* header, const char* operation) {
    if (context_) {
        return COPY_SUCCESS;
    }
    if (createCopyContext(operation) != COPY_SUCCESS) {
        error(header, "CMCopyServerTegile create copy context failed");
        return COPY_FAILED;
    }
    return COPY_SUCCESS;
}

Copy_Status CMCopyServerTegile::handRequestTo(CMTegileCopyCommand* command, const char* header) {
    CMCopyRequest* own = new (std::nothrow) CMCopyRequest(*copyRequest_);
    if (own == nullptr) {
        error(header, "CMCopyRequest object allocation failed");
        return COPY_NO_MEMORY;
    }
    command->setCopyRequest(own);
    return COPY_SUCCESS;
}
