// SPDX-License-Identifier: Apache-2.0
#include "InquiryCommand.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "CannotRun.h"
#include "DeviceInquiry.h"
#include "HostConfig.h"
#include "JsonOutput.h"
#include "LunIdentity.h"
#include "ScsiInquiry.h"
#include "Session.h"
#include "VisibleText.h"

namespace kysnap {

namespace {

// The host backend through which inquiry reaches the device. It needs no configuration: with
// none (none given and none at the default place) or with the linux backend, the device is
// asked directly (SG_IO); only the sim backend's devices need the session and its arrays.
bool openInquirySession(const Options& options, const Session::Needs& needs,
                        std::unique_ptr<Session>& session, std::string& error) {
    HostConfig config;
    if (!Session::loadConfig(options, needs.config == Session::Needs::Config::Optional, config,
                             error)) {
        return false;
    }
    if (config.backend == BackendKind::Linux) {
        return true;
    }
    session = Session::open(options, needs, error);
    return session != nullptr;
}

// Lower-case hex of every byte of `text`.
std::string hexText(const std::string& text) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : text) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

// True when `text` would be changed to be printed: then its bytes are shown as hex as well.
bool needsHex(const std::string& text) {
    return visibleText(text) != text;
}

}  // namespace

int runInquiry(const Options& options, const Session::Needs& needs) {
    std::string error;
    std::unique_ptr<Session> session;
    if (!openInquirySession(options, needs, session, error)) {
        return cannotRun(options, error);
    }
    const std::string& device = options.arguments.front();
    std::vector<unsigned char> standard;
    std::string why;
    if (!inquire(device, false, scsi::kPageStandard, standard, why)) {
        if (session) {
            for (const std::string& problem : session->backend->problems()) {
                std::fprintf(stderr, "kysnap: host: %s\n", visibleText(problem).c_str());
            }
        }
        const std::string message = "INQUIRY of " + device + " failed: " + why;
        printErrorDocument(options, 1, message);
        std::fprintf(stderr, "kysnap: %s\n", visibleText(message).c_str());
        return 1;
    }
    const std::string vendor = scsi::vendorId(standard.data(), standard.size());
    const std::string product = scsi::productId(standard.data(), standard.size());
    std::string pageProblem;
    std::string lun;
    std::string target;
    const bool identified = identifyDevice(device, lun, target, pageProblem);
    const LunIdentity identity = lunIdentity(vendor, product);
    // What the device answers comes from the array (or whatever answers in its place): every
    // field is printed as visible text, and the ids also as hex, the bytes as they came.
    if (options.json) {
        JsonDocument answer = jsonDocument(options.command);
        answer["device"] = visibleText(device);
        answer["vendor"] = visibleText(vendor);
        answer["product"] = visibleText(product);
        answer["lunId"] = visibleText(lun);
        answer["lunIdHex"] = hexText(lun);
        answer["targetId"] = visibleText(target);
        answer["targetIdHex"] = hexText(target);
        answer["supported"] = identity.supported();
        answer["identity"] = identity.text;
        if (!identified) {
            answer["page83Error"] = visibleText(pageProblem);
        }
        printJsonDocument(answer);
    } else {
        std::printf("device:    %s\nvendor:    %s\nproduct:   %s\n", visibleText(device).c_str(),
                    visibleText(vendor).c_str(), visibleText(product).c_str());
        if (identified) {
            std::printf("LUN id:    %s%s\ntarget id: %s%s\n", visibleText(lun).c_str(),
                        needsHex(lun) ? (" (hex " + hexText(lun) + ")").c_str() : "",
                        visibleText(target).c_str(),
                        needsHex(target) ? (" (hex " + hexText(target) + ")").c_str() : "");
        } else {
            std::printf("page 0x83: not answered (%s)\n", visibleText(pageProblem).c_str());
        }
        std::printf("supported: %s (%s)\n", identity.supported() ? "yes" : "no",
                    identity.text.c_str());
    }
    return 0;
}

}  // namespace kysnap
