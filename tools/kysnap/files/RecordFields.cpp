// SPDX-License-Identifier: Apache-2.0
#include "RecordFields.h"

#include <iterator>
#include <map>

#include "StrictJson.h"

namespace kysnap {

namespace {

// The positions of a volume's metadata, as the plug-in writes them; later operations append.
const char* const kBlockMetadata[] = {"version", "lunId",          "volume",     "pool",
                                      "project", "mode",           "snapshot",   "cloneId",
                                      "clone",   "initiatorGroup", "targetGroup"};
const char* const kBlockTransMetadata[] = {"size", "blockSize", "thinProvisioned", "protocol"};

// A share's metadata members, by the plug-in's property names, in the order they are shown.
const std::pair<const char*, const char*> kShareNames[] = {
    {"META_DATA_VERSION", "version"},
    {"SOURCE_DEVICE_MOUNTPOINT_NAME", "mountPoint"},
    {"SOURCE_DEVICE_NAME", "share"},
    {"SOURCE_DEVICE_POOL_NAME", "pool"},
    {"SOURCE_DEVICE_PROJECT_NAME", "project"},
    {"SOURCE_DEVICE_MODE", "mode"},
    {"TARGET_DEVICE_NAME", "snapshot"},
    {"TARGET_DEVICE_MOUNT_NAME", "clone"},
    {"TARGET_DEVICE_MOUNTPOINT_NAME", "cloneMountPoint"},
    {"SOURCE_DEVICE_AVAILABLE_SIZE", "availableSize"},
    {"SOURCE_DEVICE_TOTAL_SIZE", "totalSize"},
};

// The string members of a share's metadata: the known ones named, in their order, then the
// others as they are.
NamedFields shareFields(const nlohmann::json& object) {
    NamedFields fields;
    std::map<std::string, std::string> left;
    for (const auto& member : object.items()) {
        if (member.value().is_string()) {
            left[member.key()] = member.value().get<std::string>();
        }
    }
    for (const auto& [member, name] : kShareNames) {
        const auto found = left.find(member);
        if (found != left.end()) {
            fields.emplace_back(name, found->second);
            left.erase(found);
        }
    }
    fields.insert(fields.end(), left.begin(), left.end());
    return fields;
}

std::string trimmed(const std::string& text) {
    const size_t start = text.find_first_not_of(' ');
    if (start == std::string::npos) {
        return std::string();
    }
    return text.substr(start, text.find_last_not_of(' ') - start + 1);
}

}  // namespace

NamedFields metadataFields(const std::string& text, MetadataKind kind) {
    NamedFields fields;
    if (text.empty()) {
        return fields;
    }
    if (text.front() == '{') {
        nlohmann::json object;
        std::string ignored;  // a text that is no JSON object is shown as it is
        if (strictjson::parseObject(text, object, ignored)) {
            return shareFields(object);
        }
    }
    if (text.back() != '|') {
        fields.emplace_back("text", text);
        return fields;
    }
    const char* const* names =
        kind == MetadataKind::Metadata ? kBlockMetadata : kBlockTransMetadata;
    const size_t known =
        kind == MetadataKind::Metadata ? std::size(kBlockMetadata) : std::size(kBlockTransMetadata);
    size_t start = 0;
    for (size_t end; (end = text.find('|', start)) != std::string::npos; start = end + 1) {
        const size_t index = fields.size();
        fields.emplace_back(index < known ? names[index] : "field" + std::to_string(index + 1),
                            text.substr(start, end - start));
    }
    return fields;
}

std::string fieldsText(const NamedFields& fields) {
    std::string text;
    for (const auto& [name, value] : fields) {
        if (!value.empty()) {
            text += (text.empty() ? "" : ", ") + name + " " + value;
        }
    }
    return text;
}

std::string mountedCopyText(const std::string& mountedDevice) {
    const std::string device = trimmed(mountedDevice);
    if (device.empty() || device.front() != '{' || device.back() != '}') {
        return device;
    }
    // Only the first ':' of an item splits it, as the plug-in reads the description.
    std::map<std::string, std::string> values;
    const std::string inner = device.substr(1, device.size() - 2);
    size_t start = 0;
    for (;;) {
        const size_t end = inner.find(',', start);
        const std::string item = trimmed(inner.substr(start, end - start));
        const size_t colon = item.find(':');
        if (colon != std::string::npos) {
            values[item.substr(0, colon)] = item.substr(colon + 1);
        }
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    const std::string& path = values["lunuuid"];
    const std::string& server = values["targethostname"];
    if (path.empty()) {
        return device;
    }
    return server.empty() ? path : server + ":" + path;
}

}  // namespace kysnap
