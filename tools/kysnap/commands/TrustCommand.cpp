// SPDX-License-Identifier: Apache-2.0
#include "TrustCommand.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <iostream>
#include <optional>
#include <string>

#include "ArrayProbe.h"
#include "AuditTrail.h"
#include "CannotRun.h"
#include "CertificateReport.h"
#include "HostBackend.h"
#include "HostConfig.h"
#include "JsonOutput.h"
#include "Pins.h"
#include "VisibleText.h"

namespace kysnap {

namespace {

// Each connection waits at most this long.
constexpr int kProbeSeconds = 5;

// Where trust speaks. For a person, on standard output. With --json the same words go to
// standard error (a prompt among them), and standard output gets one document of what was
// found and done, printed at the end.
struct TrustOutput {
    explicit TrustOutput(const Options& options)
        : options(options),
          text(options.json ? stderr : stdout),
          document(jsonDocument(options.command)) {}

    // Ends the run with `status`: the document, unless an error document was printed instead.
    int finish(int status) {
        if (options.json) {
            document["exitStatus"] = status;
            printJsonDocument(document);
        }
        return status;
    }
    // Ends the run with an error document (with --json) and the reason on standard error.
    int failed(int status, const std::string& message) {
        printErrorDocument(options, status, message);
        std::fprintf(stderr, "kysnap: %s\n", visibleText(message).c_str());
        return status;
    }

    const Options& options;
    FILE* text;
    JsonDocument document;
};

// Drops the pins of `address`; whether it had any.
bool dropPins(std::vector<kyplatform::PinnedArray>& pins, const std::string& address) {
    const std::string key = kyplatform::addressKey(address);
    const auto kept = std::remove_if(
        pins.begin(), pins.end(), [&](const kyplatform::PinnedArray& p) { return p.key == key; });
    const bool had = kept != pins.end();
    pins.erase(kept, pins.end());
    return had;
}

bool holds(const kyplatform::PinnedArray& pinned, const std::string& pin) {
    return std::find(pinned.pins.begin(), pinned.pins.end(), pin) != pinned.pins.end();
}

// "sha256//..." or "sha256//... and sha256//...".
std::string joinedPins(const kyplatform::PinnedArray& pinned) {
    std::string text;
    for (const std::string& pin : pinned.pins) {
        text += (text.empty() ? "" : " and ") + pin;
    }
    return text;
}

int refuseReplacing(TrustOutput& out, const HostConfig& config, const ArrayAccess& array,
                    const kyplatform::PinnedArray& pinned, const std::string& presented) {
    return out.failed(1, "array " + array.name + " (" + array.address + ") is pinned to " +
                             joinedPins(pinned) + " in " + config.pinsFile +
                             ", but it now presents " + presented +
                             "; nothing was changed: give --replace to pin the new key in place "
                             "of the old one, once you know the array's certificate was "
                             "replaced on purpose");
}

// Said when another run holds the pins lock.
std::function<void()> waitingNotice(const HostConfig& config) {
    return [lock = config.pinsFile + ".lock"] {
        std::fprintf(stderr, "kysnap: waiting for another kysnap run to release %s\n",
                     visibleText(lock).c_str());
    };
}

int listPins(TrustOutput& out, const HostConfig& config) {
    out.document["pinsFile"] = visibleText(config.pinsFile);
    out.document["pins"] = JsonDocument::array();
    if (config.pins.empty()) {
        std::fprintf(out.text, "no array is pinned in %s\n", visibleText(config.pinsFile).c_str());
        return out.finish(0);
    }
    std::fprintf(out.text, "pins in %s:\n", visibleText(config.pinsFile).c_str());
    for (const kyplatform::PinnedArray& entry : config.pins) {
        JsonDocument listed = {{"address", visibleText(entry.address)},
                               {"pins", entry.pins},
                               {"arrays", JsonDocument::array()}};
        std::string arrays;
        for (const ArrayConfig& array : config.arrays) {
            if (kyplatform::addressKey(array.address) == entry.key) {
                arrays += (arrays.empty() ? " (array " : ", ") + array.name;
                listed["arrays"].push_back(visibleText(array.name));
            }
        }
        std::string pins;
        for (const std::string& pin : entry.pins) {
            pins += " " + pin;
        }
        std::fprintf(out.text, "  %s%s%s\n", entry.address.c_str(), pins.c_str(),
                     visibleText(arrays.empty() ? " (no configured array)" : arrays + ")").c_str());
        out.document["pins"].push_back(std::move(listed));
    }
    return out.finish(0);
}

int removePins(TrustOutput& out, const HostConfig& config, const ArrayConfig& array) {
    bool found = false;
    std::string error;
    const bool written = changePinsFile(
        config.pinsFile,
        [&](std::vector<kyplatform::PinnedArray>& pins) {
            found = dropPins(pins, array.address);
            return found;
        },
        waitingNotice(config), error);
    if (!written) {
        return cannotRun(out.options, error);
    }
    out.document["array"] = visibleText(array.name);
    out.document["address"] = visibleText(array.address);
    out.document["pinsFile"] = visibleText(config.pinsFile);
    out.document["removed"] = found;
    if (!found) {
        std::fprintf(out.text, "array %s (%s) has no pin in %s\n", array.name.c_str(),
                     array.address.c_str(), visibleText(config.pinsFile).c_str());
        return out.finish(1);
    }
    std::fprintf(out.text,
                 "removed the pin of array %s (%s) from %s; its certificate is verified by chain "
                 "and name again\n",
                 array.name.c_str(), array.address.c_str(), visibleText(config.pinsFile).c_str());
    return out.finish(0);
}

// A line "y" or "yes" on standard input.
bool confirmed(FILE* text, const std::string& question) {
    std::fprintf(text, "%s [y/N] ", question.c_str());
    std::fflush(text);
    std::string answer;
    const bool read = static_cast<bool>(std::getline(std::cin, answer));
    if (!isatty(STDIN_FILENO)) {
        // A typed answer ends its own line; one from a pipe is shown, so the output reads
        // the same.
        std::fprintf(text, "%s\n", visibleText(answer).c_str());
    }
    if (!read) {
        return false;
    }
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "YES";
}

// What a script needs of the certificate to compare it with the array's console.
JsonDocument certificateJson(const kyplatform::CertificateFacts& facts) {
    JsonDocument names = JsonDocument::array();
    for (const std::string& name : facts.names) {
        names.push_back(visibleText(name));
    }
    return {{"subject", visibleText(facts.subject)},
            {"issuer", visibleText(facts.issuer)},
            {"names", names},
            {"notBefore", facts.notBefore},
            {"notAfter", facts.notAfter},
            {"expired", facts.expired},
            {"notYetValid", facts.notYetValid},
            {"pin", facts.pin}};
}

int pinArray(TrustOutput& out, const HostConfig& config, const ArrayConfig& configured, bool yes,
             bool replace) {
    const ArrayAccess array{configured.name, configured.address, configured.user, "",
                            configured.caFile};
    ArrayProbe probe(array, kProbeSeconds);
    PresentedCertificate presented;
    std::string why;
    kyplatform::CertificateFacts facts;
    if (!probe.presentedCertificate(presented, why) ||
        !kyplatform::certificateFacts(reinterpret_cast<const unsigned char*>(presented.der.data()),
                                      presented.der.size(), facts)) {
        return out.failed(1, "array " + array.name + " at " + array.address + ": " +
                                 (why.empty() ? "its certificate cannot be read" : why));
    }
    out.document["array"] = visibleText(array.name);
    out.document["address"] = visibleText(array.address);
    out.document["pinsFile"] = visibleText(config.pinsFile);
    out.document["certificate"] = certificateJson(facts);
    out.document["verifiesByChainAndName"] = presented.verifies;
    std::fprintf(out.text, "array %s at %s presents this certificate:\n", array.name.c_str(),
                 array.address.c_str());
    for (const std::string& detail : certificateDetails(facts)) {
        std::fprintf(out.text, "  %s\n", visibleText(detail).c_str());
    }
    if (presented.verifies) {
        std::fprintf(out.text,
                     "It also verifies by chain and name; with a pin, its key alone decides.\n");
    }
    const kyplatform::PinnedArray* pinned = kyplatform::findPinned(config.pins, array.address);
    if (pinned != nullptr && holds(*pinned, facts.pin)) {
        std::fprintf(out.text, "This key is already pinned for %s in %s.\n", array.address.c_str(),
                     visibleText(config.pinsFile).c_str());
        out.document["pinned"] = true;
        return out.finish(0);
    }
    // A key that differs from the pinned one is what an impostor presents; only a person who
    // knows the certificate was replaced may say so.
    if (pinned != nullptr && !replace) {
        return refuseReplacing(out, config, array, *pinned, facts.pin);
    }
    if (pinned != nullptr) {
        std::fprintf(
            out.text,
            "replacing the %s %s of %s in %s with %s: do so only if the array's certificate "
            "was replaced on purpose.\n",
            pinned->pins.size() == 1 ? "pin" : "pins", joinedPins(*pinned).c_str(),
            array.address.c_str(), visibleText(config.pinsFile).c_str(), facts.pin.c_str());
    }
    std::fprintf(
        out.text,
        "Compare the key pin with the one the array's own console shows (or that openssl "
        "prints on a connection you trust; see docs/tls.md). Whoever holds this key is taken "
        "for the array.\n");
    if (!yes && !confirmed(out.text, "Pin this key for array " + array.name + "?")) {
        std::fprintf(out.text, "not pinned\n");
        out.document["pinned"] = false;
        return out.finish(1);
    }
    std::string error;
    // Another run may have pinned a key since the file was read: it is held to the same rule.
    std::optional<kyplatform::PinnedArray> pinnedMeanwhile;
    const bool written = changePinsFile(
        config.pinsFile,
        [&](std::vector<kyplatform::PinnedArray>& pins) {
            const kyplatform::PinnedArray* onDisk = kyplatform::findPinned(pins, array.address);
            if (onDisk != nullptr && !replace && !holds(*onDisk, facts.pin)) {
                pinnedMeanwhile = *onDisk;
                return false;
            }
            dropPins(pins, array.address);
            pins.push_back(kyplatform::PinnedArray{
                array.address, kyplatform::addressKey(array.address), {facts.pin}, 0});
            return true;
        },
        waitingNotice(config), error);
    if (!written) {
        return cannotRun(out.options, error);
    }
    if (pinnedMeanwhile) {
        return refuseReplacing(out, config, array, *pinnedMeanwhile, facts.pin);
    }
    std::fprintf(out.text, "pinned %s for array %s (%s) in %s\n", facts.pin.c_str(),
                 array.name.c_str(), array.address.c_str(), visibleText(config.pinsFile).c_str());
    out.document["pinned"] = true;
    return out.finish(0);
}

}  // namespace

int runTrust(const Options& options) {
    const bool list = options.list;
    const bool remove = options.remove;
    const bool replace = options.replace;
    if ((list && (remove || !options.arguments.empty())) ||
        (!list && options.arguments.size() != 1) || (replace && (list || remove))) {
        return usageError(
            options, "usage: kysnap trust ARRAY [--yes] [--replace] | --list | --remove ARRAY");
    }
    HostConfig config;
    std::string error;
    const std::string path = options.config.empty() ? defaultConfigPath() : options.config;
    if (!loadHostConfig(path, config, error)) {
        return cannotRun(options, error);
    }
    TrustOutput out(options);
    if (list) {
        return listPins(out, config);
    }
    const ArrayConfig* array = config.findArray(options.arguments.front());
    if (array == nullptr) {
        std::string names;
        for (const ArrayConfig& known : config.arrays) {
            names += (names.empty() ? "" : ", ") + known.name;
        }
        return cannotRun(options, "no array " + options.arguments.front() + " in " + path +
                                      " (configured: " + (names.empty() ? "none" : names) + ")");
    }
    const auto started = std::chrono::steady_clock::now();
    const int status = remove ? removePins(out, config, *array)
                              : pinArray(out, config, *array, options.yes, replace);
    // Pinning decides which key is taken for the array: who did it, and when, is audited.
    const AuditTrail trail(config, catalogPathOf(options),
                           config.hostName.empty() ? systemHostName() : config.hostName, started);
    AuditEntry entry = trail.entry("trust");
    entry.array = array->name;
    entry.result = status != kExitSuccess ? "failed"
                   : remove               ? "succeeded: pin removed"
                                          : "succeeded: key pinned";
    entry.exitStatus = status;
    trail.write({entry});
    return status;
}

}  // namespace kysnap
