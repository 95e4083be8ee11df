// SPDX-License-Identifier: Apache-2.0
#include "HostView.h"

#include <set>

namespace arraysim {

namespace {

void putText(std::vector<unsigned char>& buffer, size_t offset, size_t width,
             const std::string& text) {
    for (size_t i = 0; i < width; ++i) {
        buffer[offset + i] = i < text.size() ? static_cast<unsigned char>(text[i]) : ' ';
    }
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return 0;
}

}  // namespace

std::vector<unsigned char> standardInquiry(const SystemInfo& system, const std::string& product) {
    std::vector<unsigned char> data(kInquiryLength, 0);
    data[0] = 0x00;  // direct-access block device, connected
    data[2] = 0x05;  // SPC-3
    data[3] = 0x12;  // HiSup, response data format 2
    data[4] = static_cast<unsigned char>(kInquiryLength - 5);
    data[7] = 0x02;  // command queuing
    putText(data, 8, 8, "TEGILE");
    putText(data, 16, 16, product);
    putText(data, 32, 4, system.softwareVersion.substr(0, 4));
    return data;
}

std::vector<unsigned char> deviceIdentificationPage(const std::string& luId,
                                                    const std::string& targetId,
                                                    const std::string& protocol) {
    std::vector<unsigned char> page(kInquiryLength, 0);
    page[1] = 0x83;
    // Designator 1: NAA, binary, associated with the logical unit.
    page[4] = 0x01;
    page[5] = 0x03;
    page[7] = 16;
    for (size_t i = 0; i < 16 && 2 * i + 1 < luId.size(); ++i) {
        page[8 + i] =
            static_cast<unsigned char>(hexValue(luId[2 * i]) * 16 + hexValue(luId[2 * i + 1]));
    }
    // Designator 2: SCSI name string of the target port, UTF-8.
    const size_t room = kInquiryLength - 28;
    std::string name = targetId.substr(0, room - 1);
    size_t length = (name.size() + 1 + 3) / 4 * 4;
    if (length > room) {
        length = room;
    }
    const unsigned char protocolId = protocol == "ISCSI" ? 0x5 : 0x0;
    page[24] = static_cast<unsigned char>(protocolId << 4 | 0x03);
    page[25] = 0x80 | 0x10 | 0x08;  // PIV, target port, SCSI name string
    page[27] = static_cast<unsigned char>(length);
    for (size_t i = 0; i < name.size(); ++i) {
        page[28 + i] = static_cast<unsigned char>(name[i]);
    }
    const size_t pageLength = 24 + length;
    page[2] = static_cast<unsigned char>(pageLength >> 8);
    page[3] = static_cast<unsigned char>(pageLength & 0xff);
    return page;
}

std::string hexEncode(const std::vector<unsigned char>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 0x0f];
    }
    return out;
}

jsonxx::Object hostView(Model& model, const std::vector<std::string>& hostInitiators,
                        const DataStore* data) {
    std::set<std::string> initiators;
    for (const std::string& initiator : hostInitiators) {
        initiators.insert(normalizeInitiator(initiator));
    }
    jsonxx::Array luns;
    int hidden = 0;
    for (Mapping& mapping : model.mappings) {
        InitiatorGroup* group = model.findInitiatorGroup(mapping.initiatorGroup);
        Dataset* volume = model.findDataset(mapping.datasetPath);
        if (group == nullptr || volume == nullptr) {
            continue;
        }
        std::string seenBy;
        for (const std::string& member : group->initiators) {
            if (initiators.count(normalizeInitiator(member)) != 0) {
                seenBy = member;
                break;
            }
        }
        if (seenBy.empty()) {
            continue;
        }
        if (mapping.hiddenForQueries > 0) {
            --mapping.hiddenForQueries;
            ++hidden;
            continue;
        }
        TargetGroup* targetGroup = model.findTargetGroup(mapping.targetGroup);
        std::string targetId;
        std::string protocol;
        if (targetGroup != nullptr) {
            protocol = targetGroup->protocol;
            if (!targetGroup->targets.empty()) {
                targetId = targetGroup->targets.front();
            }
        }
        jsonxx::Object lun;
        lun.import("luId", volume->luId);
        lun.import("name", volume->name);
        lun.import("datasetPath", volume->path());
        lun.import("lun", static_cast<jsonxx::Number>(mapping.lun));
        lun.import("initiator", seenBy);
        lun.import("initiatorGroup", mapping.initiatorGroup);
        lun.import("targetGroup", mapping.targetGroup);
        lun.import("targetId", targetId);
        lun.import("protocol", protocol);
        lun.import("size", static_cast<jsonxx::Number>(volume->size));
        lun.import("blockSize", volume->blockSize);
        lun.import("standardInquiry",
                   hexEncode(standardInquiry(model.system, volume->inquiryProduct)));
        lun.import("page83", hexEncode(deviceIdentificationPage(volume->luId, targetId, protocol)));
        if (data != nullptr) {
            lun.import("dataPath", data->volumeImage(*volume));
        }
        luns.append(lun);
    }
    jsonxx::Object view;
    view.import("luns", luns);
    view.import("hiddenMappings", static_cast<jsonxx::Number>(hidden));
    if (data != nullptr) {
        jsonxx::Array shares;
        for (const auto& entry : model.datasets) {
            const Dataset& share = entry.second;
            if (share.isVolume()) {
                continue;
            }
            jsonxx::Object item;
            item.import("datasetPath", entry.first);
            item.import("mountPoint", share.mountPoint);
            item.import("dataPath", data->shareTree(share));
            shares.append(item);
        }
        view.import("shares", shares);
    }
    return view;
}

}  // namespace arraysim
