// SPDX-License-Identifier: Apache-2.0
// Replication: the configurations that replicate a dataset to another array.
//
// getReplicationConfigList takes one parameter, the path of a dataset (pool/mode/project/name,
// a volume or a share) or of a project (pool/mode/project), and answers a JSON array with one
// object per configuration of it: "name", "sourceDataset", "remoteHost", "remotePool",
// "remoteProject" and "lastReplicatedSnapshot", the name of the last snapshot sent (as
// listSnapshots lists it; null before the first send), which the next incremental send starts
// from. A dataset or project without replication answers an empty array; an unknown path is a
// 404 "... does not exist". Only datasets carry configurations here (seed "replication", or
// the control route /control/replication); a project answers an empty array.
#include "MethodTable.h"
#include "ModelJson.h"

namespace arraysim {

namespace {

Reply getReplicationConfigList(Model& model, Params& params) {
    params.expectCount(1, 1);
    const std::string path = params.text(0, "dataset path");
    if (!params.ok()) {
        return paramError(params);
    }
    jsonxx::Array configs;
    if (const Dataset* dataset = model.findDataset(path); dataset != nullptr) {
        for (const ReplicationConfig& config : dataset->replications) {
            configs.append(replicationJson(*dataset, config));
        }
        return jsonReply(configs);
    }
    // pool/mode/project
    const size_t first = path.find('/');
    const size_t second = first == std::string::npos ? first : path.find('/', first + 1);
    if (second != std::string::npos && path.find('/', second + 1) == std::string::npos &&
        model.hasProject(path.substr(0, first), path.substr(second + 1))) {
        return jsonReply(configs);
    }
    return errorReply(errors::noSuchDataset(path));
}

}  // namespace

void addReplicationMethods(MethodTable& table) {
    table.add("getReplicationConfigList", getReplicationConfigList, Effect::Reads);
}

}  // namespace arraysim
