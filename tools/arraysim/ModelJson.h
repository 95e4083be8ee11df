// SPDX-License-Identifier: Apache-2.0
// ModelJson: the JSON shapes in which the array describes its objects. Volume objects carry
// "name", "poolName", "projectName", "datasetPath", "luId", "volSize" (bytes), "blockSize",
// "thinProvision", "protocol" and "local"; share objects "name", "poolName", "projectName",
// "datasetPath", "mountpoint", "availableSize", "totalSize" (bytes) and "local". Clones add
// "originSnapshot". stateJson() dumps the whole model for the control endpoint.
#pragma once

#include "Model.h"
#include "jsonxx.h"

namespace arraysim {

jsonxx::Object volumeJson(const Dataset& volume);
jsonxx::Object shareJson(const Dataset& share);
jsonxx::Object datasetJson(const Dataset& dataset);  // by kind
jsonxx::Object mappingJson(const Mapping& mapping);
// One replication configuration of `dataset`, as getReplicationConfigList answers it.
jsonxx::Object replicationJson(const Dataset& dataset, const ReplicationConfig& config);
jsonxx::Object stateJson(const Model& model);

}  // namespace arraysim
