// SPDX-License-Identifier: Apache-2.0
#include "JsonOutput.h"

#include <cstdio>

namespace kysnap {

JsonDocument jsonDocument(const std::string& command) {
    JsonDocument document;
    document["version"] = kJsonFormatVersion;
    document["command"] = command.empty() ? JsonDocument() : JsonDocument(command);
    return document;
}

void printJsonDocument(const JsonDocument& document) {
    const std::string text =
        document.dump(1, '\t', false, nlohmann::ordered_json::error_handler_t::replace);
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
}

}  // namespace kysnap
