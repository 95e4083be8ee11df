// SPDX-License-Identifier: Apache-2.0
// MethodTable: REST method name -> handler. A handler runs with the model locked, reads its
// positional parameters and answers with a Reply; it changes the model only when it answers
// success (a refused call leaves the array as it was, except where a method documents a
// partial effect). The handlers are grouped by topic, each group registering its own names.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "Model.h"
#include "Params.h"
#include "Reply.h"

namespace arraysim {

using MethodHandler = Reply (*)(Model& model, Params& params);

// How a method may be called: every method by POST; the methods without parameters (the
// target and initiator group listings) by GET as well.
enum class HttpAccess { PostOnly, GetOrPost };

// What a method may do to the array: the counters tell how many requests could have changed
// it (a dry run, say, must send none).
enum class Effect { Reads, Changes };

class MethodTable {
public:
    void add(const std::string& name, MethodHandler handler, Effect effect,
             HttpAccess access = HttpAccess::PostOnly) {
        handlers_[name] = {handler, effect, access};
    }
    // Null for an unknown name.
    MethodHandler find(const std::string& name) const;
    bool acceptsGet(const std::string& name) const;
    // False for an unknown name.
    bool changes(const std::string& name) const;
    std::vector<std::string> names() const;

private:
    struct Entry {
        MethodHandler handler;
        Effect effect;
        HttpAccess access;
    };
    std::map<std::string, Entry> handlers_;
};

// Every method the array answers.
MethodTable standardMethods();

// The groups.
void addLookupMethods(MethodTable& table);        // system, volumes, shares, target groups
void addSnapshotMethods(MethodTable& table);      // create, status, list, delete, roll back
void addCloneMappingMethods(MethodTable& table);  // clones, deletion, mappings, NFS rules
void addInitiatorMethods(MethodTable& table);     // initiators and initiator groups
void addReplicationMethods(MethodTable& table);   // replication configurations

// Shared by the handlers: the Reply for a parameter error.
inline Reply paramError(const Params& params) {
    return errorReply(params.error());
}

}  // namespace arraysim
