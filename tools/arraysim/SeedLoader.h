// SPDX-License-Identifier: Apache-2.0
// SeedLoader: builds the array's starting state from a JSON seed (format in
// docs/arraysim.md). The seed is read strictly (StrictJson.h: no key twice, nothing after the
// object) and checked as a whole: names are unique, LUN ids are 32 hex
// digits (stored in upper case; missing ones are generated), clones name an existing snapshot,
// mappings name existing volumes and groups. Faults listed in the seed are handed back for the
// server to install.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "Model.h"

namespace arraysim {

// Fills `model` and `faults` from the seed text. Returns false with `error` naming the place
// in the seed (e.g. "pools[0].projects[1].volumes[2].luId: ...") when the seed is not valid;
// `model` is then unspecified.
// `faults` is the seed's list of fault descriptions (empty when it has none), for
// FaultSet::addJson.
bool loadSeed(const std::string& text, Model& model, nlohmann::json& faults, std::string& error);

// Reads a whole file; false with `error` set when it cannot be read.
bool readTextFile(const std::string& path, std::string& text, std::string& error);

}  // namespace arraysim
