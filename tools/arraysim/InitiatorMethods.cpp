// SPDX-License-Identifier: Apache-2.0
// Initiators and initiator groups. Several answers are bare text, compared exactly by the
// plug-in: the command status 0 for success, "true"/"false", and a group name in double
// quotes (or nothing).
//
// The array knows an FC initiator once its port has logged in (seeded, or through the control
// endpoint) and an iSCSI initiator once it was registered; only known initiators can join a
// group, and an initiator belongs to at most one group.
#include "Limits.h"
#include "MethodTable.h"
#include "jsonxx.h"

namespace arraysim {

namespace {

std::string inQuotes(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
        }
        out += c;
    }
    return out + "\"";
}

Reply listInitiatorGroups(Model& model, Params& params, const std::string& protocol) {
    params.expectCount(0, 0);
    if (!params.ok()) {
        return paramError(params);
    }
    jsonxx::Array names;
    for (const InitiatorGroup& group : model.initiatorGroups) {
        if (model.groupServesProtocol(group, protocol)) {
            names.append(group.name);
        }
    }
    return jsonReply(names);
}

Reply listISCSIInitiatorGroups(Model& model, Params& params) {
    return listInitiatorGroups(model, params, "ISCSI");
}

Reply listFCInitiatorGroups(Model& model, Params& params) {
    return listInitiatorGroups(model, params, "FC");
}

Reply listInitiatorsInInitiatorGroup(Model& model, Params& params) {
    params.expectCount(1, 1);
    std::string name = params.text(0, "initiator group");
    if (!params.ok()) {
        return paramError(params);
    }
    InitiatorGroup* group = model.findInitiatorGroup(name);
    if (group == nullptr) {
        return errorReply(errors::noSuchInitiatorGroup(name));
    }
    jsonxx::Array initiators;
    for (const std::string& initiator : group->initiators) {
        initiators.append(initiator);
    }
    return jsonReply(initiators);
}

// The group of one initiator as a quoted name; an empty answer when it is in none.
Reply getInitiatorGroup(Model& model, Params& params) {
    params.expectCount(1, 1);
    std::string initiator = params.text(0, "initiator");
    if (!params.ok()) {
        return paramError(params);
    }
    InitiatorGroup* group = model.groupOfInitiator(initiator);
    return textReply(group == nullptr ? "" : inQuotes(group->name));
}

Reply initiatorGroupExists(Model& model, Params& params) {
    params.expectCount(1, 1);
    std::string name = params.text(0, "initiator group");
    if (!params.ok()) {
        return paramError(params);
    }
    return textReply(model.findInitiatorGroup(name) != nullptr ? "true" : "false");
}

bool checkGroupName(Params& params, const std::string& name) {
    if (params.ok() && !validGroupName(name)) {
        params.fail(params.method() + ": invalid initiator group name '" + name + "': use 1 to " +
                    std::to_string(kMaxGroupNameLength) +
                    " letters, digits, '-', '.' and ':' (no '_', blanks, ',', '/', '\\', '@' "
                    "or '#')");
    }
    return params.ok();
}

Reply createInitiatorGroup(Model& model, Params& params) {
    params.expectCount(1, 1);
    std::string name = params.text(0, "initiator group");
    if (!checkGroupName(params, name)) {
        return paramError(params);
    }
    if (model.findInitiatorGroup(name) != nullptr) {
        return errorReply(errors::alreadyExists("Initiator group " + name));
    }
    InitiatorGroup group;
    group.name = name;
    model.initiatorGroups.push_back(group);
    return statusReply(0);
}

// A group that does not exist yet is created for the initiator.
Reply addInitiatorToInitiatorGroup(Model& model, Params& params) {
    params.expectCount(2, 2);
    std::string initiator = params.text(0, "initiator");
    std::string name = params.text(1, "initiator group");
    if (!checkGroupName(params, name)) {
        return paramError(params);
    }
    if (model.knownInitiators.count(initiator) == 0) {
        return errorReply(errors::noSuchInitiator(initiator));
    }
    if (InitiatorGroup* current = model.groupOfInitiator(initiator)) {
        return errorReply(errors::inUse(
            "Initiator " + initiator + " is already a member of initiator group " + current->name));
    }
    InitiatorGroup* group = model.findInitiatorGroup(name);
    if (group == nullptr) {
        InitiatorGroup created;
        created.name = name;
        model.initiatorGroups.push_back(created);
        group = &model.initiatorGroups.back();
    }
    group->initiators.push_back(initiator);
    return statusReply(0);
}

// The one parameter is an object {"initiatorName": ...}; a bare name is accepted too.
Reply createIscsiInitiator(Model& model, Params& params) {
    params.expectCount(1, 1);
    std::string initiator;
    if (params.ok() && params.raw(0)->is_string()) {
        initiator = params.text(0, "initiator");
    } else {
        nlohmann::json object = params.object(0, "initiator");
        initiator = params.memberText(object, "initiatorName");
    }
    if (params.ok() && !validIscsiName(initiator)) {
        params.fail("createIscsiInitiator: '" + initiator +
                    "' is no iSCSI initiator name (iqn., eui. or naa. and then letters, digits, "
                    "'-', '.' and ':', at most " +
                    std::to_string(kMaxInitiatorNameLength) + " characters)");
    }
    if (!params.ok()) {
        return paramError(params);
    }
    if (model.knownInitiators.count(initiator) != 0) {
        return errorReply(errors::alreadyExists("Initiator " + initiator));
    }
    model.knownInitiators.insert(initiator);
    return statusReply(0);
}

}  // namespace

void addInitiatorMethods(MethodTable& table) {
    table.add("listISCSIInitiatorGroups", listISCSIInitiatorGroups, Effect::Reads,
              HttpAccess::GetOrPost);
    table.add("listFCInitiatorGroups", listFCInitiatorGroups, Effect::Reads, HttpAccess::GetOrPost);
    table.add("listInitiatorsInInitiatorGroup", listInitiatorsInInitiatorGroup, Effect::Reads);
    table.add("getInitiatorGroup", getInitiatorGroup, Effect::Reads);
    table.add("initiatorGroupExists", initiatorGroupExists, Effect::Reads);
    table.add("createInitiatorGroup", createInitiatorGroup, Effect::Changes);
    table.add("addInitiatorToInitiatorGroup", addInitiatorToInitiatorGroup, Effect::Changes);
    table.add("createIscsiInitiator", createIscsiInitiator, Effect::Changes);
}

}  // namespace arraysim
