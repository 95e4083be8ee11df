// SPDX-License-Identifier: Apache-2.0
// Lookups: system properties, volumes by LUN id or project, shares by project or mount point,
// and the target groups with their targets.
#include "MethodTable.h"
#include "ModelJson.h"

namespace arraysim {

namespace {

// commandStatus of an unknown LUN id.
constexpr int kUnknownLunStatus = 1;

// Every property the array documents and the simulator knows is answered, in the order asked;
// the seed's "system.properties" adds or overrides names.
Reply listSystemProperties(Model& model, Params& params) {
    params.expectCount(1, 1);
    std::vector<std::string> names = params.textList(0, "property names");
    if (!params.ok()) {
        return paramError(params);
    }
    std::map<std::string, std::string> properties = {
        {"ZEBI_APPLIANCE_MODEL", model.system.model},
        {"ZEBI_APPLIANCE_VERSION", model.system.softwareVersion},
        {"ZEBI_GUI_VERSION", model.system.softwareVersion},
        {"ZEBI_API_VERSION", model.system.apiVersion},
        {"ZEBI_API_MINOR_VERSION", model.system.apiMinorVersion},
        {"ZEBI_APPLIANCE_SERIAL", model.system.serial},
    };
    for (const auto& entry : model.system.properties) {
        properties[entry.first] = entry.second;
    }
    jsonxx::Array values;
    for (const std::string& name : names) {
        auto it = properties.find(name);
        if (it == properties.end()) {
            return errorReply(errors::badRequest("Unknown system property: " + name));
        }
        values.append(it->second);
    }
    return jsonReply(values);
}

// One LUN-status object per id asked, in the order asked: guid, datasetPath, size (bytes) and
// blockSize as texts and commandStatus 0; an id the array does not know gets only its guid and
// a non-zero commandStatus.
Reply listLunsById(Model& model, Params& params) {
    params.expectCount(1, 1);
    std::vector<std::string> ids = params.textList(0, "LUN ids");
    if (!params.ok()) {
        return paramError(params);
    }
    jsonxx::Array statuses;
    for (const std::string& id : ids) {
        jsonxx::Object status;
        Dataset* volume = model.findByLuId(id);
        status.import("guid", volume != nullptr ? volume->luId : id);
        if (volume != nullptr) {
            status.import("datasetPath", volume->path());
            status.import("size", std::to_string(volume->size));
            status.import("blockSize", volume->blockSize);
        }
        status.import("commandStatus",
                      static_cast<jsonxx::Number>(volume != nullptr ? 0 : kUnknownLunStatus));
        statuses.append(status);
    }
    return jsonReply(statuses);
}

// listVolumes / listShares: pool, project, local flag. The flag selects the "Local" datasets
// (true) or the replicated ones (false).
Reply listProject(Model& model, Params& params, DatasetKind kind) {
    params.expectCount(3, 3);
    std::string pool = params.text(0, "pool name");
    std::string project = params.text(1, "project name");
    bool local = params.flag(2, "local");
    if (!params.ok()) {
        return paramError(params);
    }
    if (!model.hasProject(pool, project)) {
        return errorReply(errors::noSuchProject(pool, project));
    }
    jsonxx::Array list;
    for (const auto& entry : model.datasets) {
        const Dataset& d = entry.second;
        if (d.kind == kind && d.pool == pool && d.project == project && d.local() == local) {
            list.append(datasetJson(d));
        }
    }
    return jsonReply(list);
}

Reply listVolumes(Model& model, Params& params) {
    return listProject(model, params, DatasetKind::Volume);
}

Reply listShares(Model& model, Params& params) {
    return listProject(model, params, DatasetKind::Share);
}

// One member per mount point asked, holding the shares mounted there (none or one).
Reply listSharesByMountPoints(Model& model, Params& params) {
    params.expectCount(1, 1);
    std::vector<std::string> mountPoints = params.textList(0, "mount points");
    if (!params.ok()) {
        return paramError(params);
    }
    jsonxx::Object answer;
    for (const std::string& mountPoint : mountPoints) {
        jsonxx::Array shares;
        if (Dataset* share = model.findShareByMountPoint(mountPoint)) {
            shares.append(shareJson(*share));
        }
        answer.import(mountPoint, shares);
    }
    return jsonReply(answer);
}

Reply listTargetGroups(Model& model, Params& params, const std::string& protocol) {
    params.expectCount(0, 0);
    if (!params.ok()) {
        return paramError(params);
    }
    jsonxx::Array names;
    for (const TargetGroup& group : model.targetGroups) {
        if (group.protocol == protocol) {
            names.append(group.name);
        }
    }
    return jsonReply(names);
}

Reply listISCSITargetGroups(Model& model, Params& params) {
    return listTargetGroups(model, params, "ISCSI");
}

Reply listFCTargetGroups(Model& model, Params& params) {
    return listTargetGroups(model, params, "FC");
}

Reply listTargetsInTargetGroup(Model& model, Params& params) {
    params.expectCount(1, 1);
    std::string name = params.text(0, "target group");
    if (!params.ok()) {
        return paramError(params);
    }
    TargetGroup* group = model.findTargetGroup(name);
    if (group == nullptr) {
        return errorReply(errors::noSuchTargetGroup(name));
    }
    jsonxx::Array targets;
    for (const std::string& target : group->targets) {
        targets.append(target);
    }
    return jsonReply(targets);
}

}  // namespace

void addLookupMethods(MethodTable& table) {
    table.add("listSystemProperties", listSystemProperties, Effect::Reads);
    table.add("listLunsById", listLunsById, Effect::Reads);
    table.add("listVolumes", listVolumes, Effect::Reads);
    table.add("listShares", listShares, Effect::Reads);
    table.add("listSharesByMountPoints", listSharesByMountPoints, Effect::Reads);
    table.add("listISCSITargetGroups", listISCSITargetGroups, Effect::Reads, HttpAccess::GetOrPost);
    table.add("listFCTargetGroups", listFCTargetGroups, Effect::Reads, HttpAccess::GetOrPost);
    table.add("listTargetsInTargetGroup", listTargetsInTargetGroup, Effect::Reads);
}

}  // namespace arraysim
