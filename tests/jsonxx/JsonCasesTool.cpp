// SPDX-License-Identifier: Apache-2.0
// json_cases: writes what this build of jsonxx makes of many texts, one record per text, so two
// builds can be compared with cmp. Records: "in <text>", then "obj", "arr" and "val" lines
// with the written form or "!" (see JsonCases.h).
//
//   json_cases golden            the texts of compat/cases.txt, regenerated
//   json_cases random SEED N     N generated texts
//   json_cases files FILE...     each file's whole content as one text
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "JsonCases.h"

namespace {

// Answers and documents the plug-in and the simulator exchange, small enough to keep.
const char* const kRealistic[] = {
    R"([{"name":"ora-data","poolName":"pool-a","projectName":"oracle","datasetPath":"pool-a/Local/oracle/ora-data","local":true,"luId":"600144F0C8A7B3D1E45F4A2B00010001","volSize":536870912000,"blockSize":"8KB","thinProvision":true,"protocol":"FC"},{"name":"ora-logs","poolName":"pool-a","projectName":"oracle","datasetPath":"pool-a/Local/oracle/ora-logs","local":true,"luId":"600144F0C8A7B3D1E45F4A2B00010002","volSize":68719476736,"blockSize":"4KB","thinProvision":false,"protocol":"FC"}])",
    "[\n\t{\n\t\t\"blockSize\": \"8KB\",\n\t\t\"datasetPath\": "
    "\"pool-a\\/Local\\/oracle\\/ora-data\",\n"
    "\t\t\"local\": true,\n\t\t\"volSize\": 536870912000 \n\t} \n]",
    R"(["pool-a/Local/oracle/ora-data@Auto-daily-20240301","pool-a/Local/oracle/ora-data@Manual-V-KY-20261209T024100Z-1"])",
    R"({"code": "EZEBI_SNAPSHOT_NOT_FOUND", "message": "Snapshot pool-a/Local/oracle/ora-data@x does not exist", "details": null, "extendedData": null})",
    R"({"snapshotProgressStatus": 1})",
    R"([{"commandStatus": 0}, {"commandStatus": 3, "commandException": "Dataset \"x\" is busy"}])",
    R"({"/export/files/home": [{"name": "home", "mountpoint": "/export/files/home", "totalSize": 1099511627776, "availableSize": 751619276800}], "/export/none": []})",
    R"(["IntelliFlash T4700", "3.7.2.1", "2.1", "1", "5A3C9E21"])",
    R"(["pool-a/Local/oracle/ora-data", "Manual-V-KY-1", true, "FC"])",
    R"({"version": "2.0", "shareName": "home", "mountPoint": "/export/files/home", "sizes": [0.5, 1e-7, 123.456, -0.001, 1e300, 2.5e-300]})",
    "\"default-fc-target-group\"",
    "true",
    "0",
    "",
    "   ",
};

void print(const std::string& text) {
    const jsonxx_cases::Outcome outcome = jsonxx_cases::outcomeOf(text);
    std::cout << "in " << jsonxx_cases::escapeLine(text) << "\nobj " << outcome.object << "\narr "
              << outcome.array << "\nval " << outcome.value << "\n";
}

int usage() {
    std::cerr << "usage: json_cases golden | random SEED COUNT | files FILE...\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && args[0] == "golden") {
        for (const char* text : kRealistic) {
            print(text);
        }
        for (const std::string& text : jsonxx_cases::generatedTexts(1, 400)) {
            print(text);
        }
        return 0;
    }
    if (args.size() == 3 && args[0] == "random") {
        const uint64_t seed = std::strtoull(args[1].c_str(), nullptr, 10);
        const size_t count = std::strtoull(args[2].c_str(), nullptr, 10);
        for (const std::string& text : jsonxx_cases::generatedTexts(seed, count)) {
            print(text);
        }
        return 0;
    }
    if (args.size() >= 2 && args[0] == "files") {
        for (size_t i = 1; i < args.size(); ++i) {
            std::ifstream file(args[i], std::ios::binary);
            if (!file) {
                std::cerr << "json_cases: cannot read " << args[i] << "\n";
                return 1;
            }
            std::stringstream text;
            text << file.rdbuf();
            print(text.str());
        }
        return 0;
    }
    return usage();
}
