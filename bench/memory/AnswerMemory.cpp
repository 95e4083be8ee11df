// SPDX-License-Identifier: Apache-2.0
// answer_memory: one array API call against an answer of a given size, for measuring what a
// large or hostile answer costs the plug-in (peak memory under /usr/bin/time -v, wall time).
// The answering server runs in a process of its own, so that the caller's peak resident set
// is the plug-in's alone.
//
//   answer_memory serve ITEMS [SHAPE]
//                               serves on loopback until standard input closes; prints
//                               "HOST CAFILE". listVolumes and listISCSITargetGroups answer a
//                               JSON array of ITEMS items, every other call a small valid
//                               answer. SHAPE "strings" (the default): four-byte items ("v",);
//                               "objects": nineteen-byte objects of two members
//                               ({"luId":"v","n":1},).
//   answer_memory call HOST CAFILE lookup|groups
//                               lookup: getdevice (listLunsById, then the large listVolumes);
//                               groups: findTarget (the large list of target groups, then one
//                               call per group). Prints the status, the failure lines and the
//                               seconds taken.
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

#include "CMTegileStorageAPI.h"
#include "PropertyNames.h"
#include "ScriptedHttpsServer.h"
#include "TestSnapInfo.h"

namespace {

// Keeps failure lines only: a host that recorded every detail line would measure itself.
class FailureLog : public testhost::TestSnapInfo {
public:
    void log(int32_t level, const char* header, const char* format, ...) override {
        ++lines;
        if (level < 2) {
            return;
        }
        char text[512];
        va_list args;
        va_start(args, format);
        std::vsnprintf(text, sizeof text, format, args);
        va_end(args);
        std::printf("failure line: %s %.200s\n", header, text);
    }
    unsigned long lines = 0;
};

std::string largeList(size_t items, const std::string& item) {
    std::string body;
    body.reserve(items * (item.size() + 1) + 2);
    body += '[';
    for (size_t i = 0; i < items; ++i) {
        body += item;
        if (i + 1 < items) {
            body += ',';
        }
    }
    body += ']';
    return body;
}

int serve(size_t items, const std::string& shape) {
    test::ScriptedHttpsServer server;
    if (!server.ok()) {
        std::cerr << server.error() << "\n";
        return 1;
    }
    const std::string api = "/zebi/api/v2/";
    const std::string list =
        largeList(items, shape == "objects" ? R"({"luId":"v","n":1})" : R"("v")");
    server.always(api + "listLunsById",
                  test::Reply(200, R"([{"datasetPath":"pool/local/proj/vol0","luId":"L0"}])"));
    server.always(api + "listVolumes", test::Reply(200, list));
    server.always(api + "listISCSITargetGroups", test::Reply(200, list));
    server.always(api + "listTargetsInTargetGroup", test::Reply(200, "[]"));
    std::cout << server.host() << " " << server.caFile() << std::endl;
    std::string ignored;
    while (std::getline(std::cin, ignored)) {
    }
    return 0;
}

int call(std::string host, const std::string& caFile, const std::string& scenario) {
    setenv("KYSNAP_TLS_CA_FILE", caFile.c_str(), 1);
    FailureLog log;
    std::string user = "admin";
    std::string password = "secret";
    CMTegileStorageAPI api(host, user, password, 1, 1, false);
    api.setLogger(&log);
    if (api.init() != COPY_SUCCESS) {
        return 1;
    }
    CMTegileStorageAPI::Properties map;
    const auto start = std::chrono::steady_clock::now();
    Copy_Status status;
    if (scenario == "lookup") {
        map[SOURCE_DEVICE_ID] = "L0";
        status = api.getdevice(map);
    } else {
        map[DEVICE_TARGET_ID] = "iqn.2012-02.com.example:target";
        status = api.findTarget(map);
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::printf("status %d, %lu log lines, %.2f s\n", static_cast<int>(status), log.lines,
                took.count());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "serve" && (argc == 3 || argc == 4)) {
        return serve(std::strtoull(argv[2], nullptr, 10), argc == 4 ? argv[3] : "strings");
    }
    if (mode == "call" && argc == 5) {
        return call(argv[2], argv[3], argv[4]);
    }
    std::cerr
        << "usage: answer_memory serve ITEMS [strings|objects] | call HOST CAFILE lookup|groups\n";
    return 2;
}
