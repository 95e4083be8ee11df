// SPDX-License-Identifier: Apache-2.0
#include "EvDebug.h"
#include "EvDebugSink.h"

#include <sys/time.h>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

namespace {

std::atomic<kyplatform::EvDebugSink*> g_sink{nullptr};
std::mutex g_stderrMutex;

std::string formatV(const char* format, va_list args) {
    if (format == nullptr) {
        return {};
    }
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (needed <= 0) {
        return {};
    }
    std::vector<char> buffer(static_cast<size_t>(needed) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    return std::string(buffer.data(), static_cast<size_t>(needed));
}

const char* levelName(int level) {
    switch (level) {
        case EvDebug::LEVEL_ERROR:
            return "ERROR";
        case 0:
            return "NOTICE";
        case EvDebug::LEVEL_INFO:
            return "INFO";
        default:
            return level < 0 ? "ERROR" : "DEBUG";
    }
}

void emit(int level, const char* header, const char* format, va_list args) {
    const std::string message = formatV(format, args);
    const std::string head = header != nullptr ? header : "";
    if (kyplatform::EvDebugSink* sink = g_sink.load()) {
        sink->write(level, head, message);
        return;
    }
    const std::string line = kyplatform::formatEvDebugLine(level, head, message);
    std::lock_guard<std::mutex> lock(g_stderrMutex);
    std::fprintf(stderr, "%s\n", line.c_str());
}

}  // namespace

EvDebug::EvDebug(EvDebugFileInstance* /*file*/) {}

void EvDebug::debugLvl(int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    emit(level, nullptr, format, args);
    va_end(args);
}

void EvDebug::DebugLvl(const char* function, int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    emit(level, function, format, args);
    va_end(args);
}

namespace kyplatform {

EvDebugSink* setEvDebugSink(EvDebugSink* sink) {
    return g_sink.exchange(sink);
}

std::string formatEvDebugLine(int level, const std::string& header, const std::string& message) {
    timeval now{};
    gettimeofday(&now, nullptr);
    std::tm utc{};
    gmtime_r(&now.tv_sec, &utc);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02d.%03ldZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<long>(now.tv_usec / 1000));
    std::string line = std::string(stamp) + " " + levelName(level) + " ";
    if (!header.empty()) {
        line += header + " ";
    }
    line += message;
    // Host formats often end in "\n"; the line break is ours to add.
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.pop_back();
    }
    return line;
}

}  // namespace kyplatform
