// SPDX-License-Identifier: Apache-2.0
// RecordFields: what the plug-in stores with a prepared device or a snapshot, told in words.
// Its metadata is '|'-separated values by position (volumes) or a JSON object of property
// names (shares), and the mounted copy of a share is a VMware description: people and
// scripts get named fields and server:/path instead. The stored texts stay as they are.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace kysnap {

using NamedFields = std::vector<std::pair<std::string, std::string>>;

enum class MetadataKind { Metadata, TransMetadata };

// The fields of `text` in their stored order, named ("volume", "pool", "clone", ...). A text
// of neither form is one field "text"; an empty text has none.
NamedFields metadataFields(const std::string& text, MetadataKind kind);

// The fields as "name value, name value" (empty values left out).
std::string fieldsText(const NamedFields& fields);

// The mounted copy as a person reads it: a block device as its path, an NFS clone (the
// plug-in's " { idatype:vmware,...,lunuuid:PATH,targethostname:SERVER}") as SERVER:PATH.
std::string mountedCopyText(const std::string& mountedDevice);

}  // namespace kysnap
