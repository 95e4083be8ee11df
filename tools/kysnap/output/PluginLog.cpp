// SPDX-License-Identifier: Apache-2.0
#include "EvDebugSink.h"
#include "PluginLog.h"

#include <cstdio>

#include "SecretMemory.h"
#include "VisibleText.h"

namespace kysnap {

PluginLog::PluginLog(bool verbose, std::vector<std::string> secrets)
    : verbose_(verbose), secrets_(std::move(secrets)) {
    previous_ = kyplatform::setEvDebugSink(this);
}

PluginLog::~PluginLog() {
    kyplatform::setEvDebugSink(previous_);
    for (std::string& secret : secrets_) {
        kyplatform::wipeSecret(secret);
    }
}

std::string PluginLog::mask(std::string text) const {
    for (const std::string& secret : secrets_) {
        if (secret.empty()) {
            continue;
        }
        for (size_t at = text.find(secret); at != std::string::npos;
             at = text.find(secret, at + 6)) {
            text.replace(at, secret.size(), "******");
        }
    }
    return text;
}

void PluginLog::request(const hostkit::LogLine& line) {
    const std::string text = mask(line.text);
    if (verbose_) {
        // Lines quote the array's answers: printed only as terminal-safe text.
        std::fprintf(stderr, "plug-in [%d] %s %s\n", line.level,
                     visibleText(mask(line.header)).c_str(), visibleText(text).c_str());
    }
    if (onRequestLine) {
        onRequestLine(text);
    }
}

void PluginLog::write(int level, const std::string& header, const std::string& message) {
    const std::string text = mask(message);
    if (level == EvDebug::LEVEL_ERROR) {
        debugErrors_.push_back(text);
    }
    if (verbose_) {
        std::fprintf(
            stderr, "%s\n",
            visibleText(kyplatform::formatEvDebugLine(level, mask(header), text)).c_str());
    }
}

}  // namespace kysnap
