// SPDX-License-Identifier: Apache-2.0
#include "MethodTable.h"

namespace arraysim {

MethodHandler MethodTable::find(const std::string& name) const {
    auto it = handlers_.find(name);
    return it == handlers_.end() ? nullptr : it->second.handler;
}

bool MethodTable::acceptsGet(const std::string& name) const {
    auto it = handlers_.find(name);
    return it != handlers_.end() && it->second.access == HttpAccess::GetOrPost;
}

bool MethodTable::changes(const std::string& name) const {
    auto it = handlers_.find(name);
    return it != handlers_.end() && it->second.effect == Effect::Changes;
}

std::vector<std::string> MethodTable::names() const {
    std::vector<std::string> out;
    for (const auto& entry : handlers_) {
        out.push_back(entry.first);
    }
    return out;
}

MethodTable standardMethods() {
    MethodTable table;
    addLookupMethods(table);
    addSnapshotMethods(table);
    addCloneMappingMethods(table);
    addInitiatorMethods(table);
    addReplicationMethods(table);
    return table;
}

}  // namespace arraysim
