// SPDX-License-Identifier: Apache-2.0
// NFS datastores: the share behind a VMware NFS description and the JSON snapshot records.
#include "CMCopyServerTegile.h"
#include "CMParser.h"
#include "KYSOTypes.h"
#include "PropertyNames.h"
#include "jsonxx.h"

namespace {
const char* const kMetaHeader = "TEGILE CMCopyServerTegile::parseMetaDataNFS() -";
}

Copy_Status CMCopyServerTegile::getNFSSharePropertiesVMware(const std::string& description,
                                                            std::string& mountPoint,
                                                            std::string& serverName) {
    static const char* const kHeader = "TEGILE CMCopyServerTegile::getNFSSharePropertiesVMware() -";
    info(kHeader, "source storage Device [%s]", description.c_str());
    CMParser::KeyValues values;
    CMParser().getKeyValues(description, values);
    mountPoint = values["lunuuid"];
    serverName = values["targethostname"];
    return COPY_SUCCESS;
}

Copy_Status CMCopyServerTegile::parseMetaDataNFS(CMStorageDevice* device) {
    KYSO::SnapInfo* host = request();
    auto& map = device->getProperties();
    // Reads one JSON record of `kind` and copies its string `members`; an empty text is none.
    auto readRecord = [&](int32_t kind, const char* logFormat,
                          std::initializer_list<const char*> members, bool datasetPath) {
        std::string text;
        if (readRequestText(
                [host, kind](char* buffer, int16_t& size) {
                    return host->getMetaData(kind, buffer, size);
                },
                kMetaHeader, "getMetaData received buf size [%d] status [%d]",
                text) != KYSO::BUFFER_OK) {
            error(kMetaHeader, "getMetaData failed snap ID  [%d]", host->getSnapId());
            return COPY_FAILED;
        }
        info(kMetaHeader, logFormat, text.c_str());
        if (text.empty()) {
            return COPY_SUCCESS;
        }
        jsonxx::Object record;
        if (!record.parse(text)) {
            error(kMetaHeader, "JSON parsing failed meta data [%s]", text.c_str());
            return COPY_FAILED;
        }
        for (const char* member : members) {
            if (record.has<jsonxx::String>(member)) {
                map[member] = record.get<jsonxx::String>(member);
            }
        }
        if (datasetPath) {
            setDatasetPathName(map);
        }
        return COPY_SUCCESS;
    };
    const Copy_Status status =
        readRecord(KYSO::META_SNAPSHOT, "meta data [%s]",
                   {::META_DATA_VERSION, SOURCE_DEVICE_NAME, SOURCE_DEVICE_POOL_NAME,
                    SOURCE_DEVICE_PROJECT_NAME, SOURCE_DEVICE_MODE, SOURCE_DEVICE_MOUNTPOINT_NAME},
                   true);
    if (status != COPY_SUCCESS) {
        return status;
    }
    return readRecord(KYSO::META_TRANS, "trans meta data [%s]",
                      {SOURCE_DEVICE_AVAILABLE_SIZE, SOURCE_DEVICE_TOTAL_SIZE}, false);
}
