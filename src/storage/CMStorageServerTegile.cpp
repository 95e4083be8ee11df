// SPDX-License-Identifier: Apache-2.0
// Storage server: set-up, version policy, source lookup and snapshot creation.
#include "CMStorageServerTegile.h"

#include <new>
#include <vector>

#include "ApiVersion.h"
#include "CMParser.h"
#include "CMStorageDevice.h"
#include "PropertyNames.h"
#include "SecretMemory.h"

namespace {

// The longest snapshot dataset path the array accepts.
constexpr size_t kMaxSnapshotPathLength = 255;

}  // namespace

CMStorageServerTegile::CMStorageServerTegile(std::string& hostName, std::string& userName,
                                             std::string& password, unsigned int retryCount,
                                             unsigned int retryInterval, bool diagLogging)
    : hostName_(hostName),
      userName_(userName),
      password_(password),
      retryCount_(retryCount),
      retryInterval_(retryInterval),
      diagLogging_(diagLogging) {}

CMStorageServerTegile::~CMStorageServerTegile() {
    kyplatform::wipeSecret(password_);
}

std::string CMStorageServerTegile::header(const char* function) {
    return std::string("Tegile CMStorageServerTegile::") + function + "() -";
}

void CMStorageServerTegile::dataIn(const char* function, CMStorageDevice* device) const {
    info(function, "data IN  [%s]", device->print().c_str());
}

void CMStorageServerTegile::dataOut(const char* function, CMStorageDevice* device) const {
    info(function, "data OUT  [%s]", device->print().c_str());
}

Copy_Status CMStorageServerTegile::init() {
    api_.reset(new (std::nothrow) CMTegileStorageAPI(hostName_, userName_, password_, retryCount_,
                                                     retryInterval_, diagLogging_));
    if (!api_) {
        error("init", "storage API object allocation failed");
        return COPY_NO_MEMORY;
    }
    api_->setLogger(logger_);
    const Copy_Status status = api_->init();
    if (status != COPY_SUCCESS) {
        error("init", "storage API init failed error [%d]", static_cast<int>(status));
        return COPY_FAILED;
    }
    return COPY_SUCCESS;
}

Copy_Status CMStorageServerTegile::prepare(CMStorageDevice* device) {
    static const char* const kFunction = "prepare";
    auto& map = device->getProperties();
    info(kFunction, "Tegile storage server prepare started");
    dataIn(kFunction, device);
    Copy_Status status = api_->getConfig(map);
    if (status != COPY_SUCCESS) {
        error(kFunction, "storage API get config failed error [%d]", static_cast<int>(status));
        return status;
    }
    // Judged by its leading decimal number (ApiVersion.h): a patch level or blanks around it
    // pass, while an exponent, a control character or stray bytes are never taken for a
    // supported version. The refusal shows the text with such bytes made visible.
    const std::string& versionText = map[STORAGE_SERVER_API_VERSION];
    const bool share = map[SNAP_CONFIG_PROTOCOL] == PROTOCOL_NFS;
    if (share && !apiVersionAtLeast(versionText, "2.1")) {
        error(kFunction, "storage server version not supported for NFS  [%s]",
              printableVersion(versionText).c_str());
        return COPY_NOT_SUPPORTED;
    }
    if (!apiVersionAtLeast(versionText, "2.0")) {
        error(kFunction, "storage server version not supported version [%s]",
              printableVersion(versionText).c_str());
        return COPY_NOT_SUPPORTED;
    }

    if (!share) {
        status = api_->getdevice(map);
    } else {
        // The share may be mounted above the path the host knows: try the mount point and
        // then each of its parents, longest first.
        std::vector<std::string> pieces;
        std::vector<std::string> nonEmpty;
        CMParser().getValues(map[SOURCE_DEVICE_MOUNT_POINT_NAME], "/", pieces);
        for (const std::string& piece : pieces) {
            if (!piece.empty()) {
                nonEmpty.push_back(piece);
            }
        }
        std::vector<std::string> candidates;
        std::string path;
        for (const std::string& piece : nonEmpty) {
            path += "/" + piece;
            candidates.push_back(path);
        }
        status = COPY_SUCCESS;
        for (auto candidate = candidates.rbegin(); candidate != candidates.rend(); ++candidate) {
            map[SOURCE_DEVICE_MOUNT_POINT_NAME_HINT] = *candidate;
            status = api_->getdeviceNFS(map);
            if (status == COPY_SUCCESS) {
                break;
            }
        }
    }
    if (status != COPY_SUCCESS) {
        error(kFunction, "storage API get source device failed error [%d]",
              static_cast<int>(status));
        return status;
    }
    dataOut(kFunction, device);
    info(kFunction, "Tegile storage server prepare completed");
    return COPY_SUCCESS;
}

Copy_Status CMStorageServerTegile::createCopy(CMStorageDevice* device) {
    static const char* const kFunction = "createCopy";
    auto& map = device->getProperties();
    const std::string path = map[SOURCE_DEVICE_POOL_NAME] + "/" + map[SOURCE_DEVICE_MODE] + "/" +
                             map[SOURCE_DEVICE_PROJECT_NAME] + "/" + map[SOURCE_DEVICE_NAME] +
                             "@Manual-V-" + map[TARGET_DEVICE_NAME];
    if (path.size() > kMaxSnapshotPathLength) {
        error(kFunction, "snapshot dataset path name is too long pathname [%s] size [%d]",
              path.c_str(), static_cast<int>(path.size()));
        return COPY_PATH_TOO_LONG;
    }
    const Copy_Status status = api_->createCopy(map);
    if (status != COPY_SUCCESS) {
        error(kFunction, "storage API create copy error [%d]", static_cast<int>(status));
    }
    return status;
}

void CMStorageServerTegile::addRequest(CMStorageDevice* device) {
    api_->addRequest(device);
}

Copy_Status CMStorageServerTegile::batchCreateCopy() {
    const Copy_Status status = api_->batchCreateCopy();
    if (status != COPY_SUCCESS) {
        error("batchCreateCopy", "storage AP IbatchCreateCopy failed [%d]",
              static_cast<int>(status));
    }
    return status;
}

Copy_Status CMStorageServerTegile::getCopyCreatedStatus(CMStorageDevice* device) {
    api_->setRetry(true);
    const Copy_Status status = api_->getCopyCreatedStatus(device->getProperties());
    if (status != COPY_SUCCESS) {
        error("getCopyCreatedStatus", "storage API get copy error [%d]", static_cast<int>(status));
    }
    return status;
}

Copy_Status CMStorageServerTegile::getCopy(CMStorageDevice* device) {
    return forward("getCopy", "storage API get copy error [%d]", device,
                   &CMTegileStorageAPI::getCopy);
}

Copy_Status CMStorageServerTegile::getCopies(CMStorageDevice* device) {
    return forward("getCopies", "storage API get copies error [%d]", device,
                   &CMTegileStorageAPI::getCopies);
}

Copy_Status CMStorageServerTegile::forward(const char* function, const char* failure,
                                           CMStorageDevice* device, ApiMethod method,
                                           void (*name)(CMTegileStorageAPI::Properties&)) {
    dataIn(function, device);
    if (name != nullptr) {
        name(device->getProperties());
    }
    const Copy_Status status = ((*api_).*method)(device->getProperties());
    if (status != COPY_SUCCESS) {
        error(function, failure, static_cast<int>(status));
        return status;
    }
    dataOut(function, device);
    return status;
}
