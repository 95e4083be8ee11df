// SPDX-License-Identifier: Apache-2.0
#include "CallScope.h"

#include <openssl/evp.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>

#include "CallMemory.h"
#include "CallRecorder.h"
#include "CurlShare.h"
#include "EvDebug.h"

namespace kyplatform {
namespace {
// The calling thread's open scopes, the share they hand out (made on first use), what they
// count and what they remember.
struct ThreadCall {
    std::shared_ptr<CurlShare> share;
    CallStatistics statistics;
    // Answers remembered by array, then by request; `memoryBytes` counts their texts.
    bool memoryOn = true;
    std::map<std::string, std::map<std::string, std::string>> answers;
    size_t memoryBytes = 0;
};
thread_local int t_depth = 0;
thread_local ThreadCall* t_call = nullptr;

// "off" or "0" switches the memory off; "on", "1", empty or unset leave it on (the words in
// any case). Anything else leaves it on too, as by default, with a warning naming the value.
bool memorySwitchedOff() {
    const char* value = std::getenv("KYSNAP_CALL_MEMORY");
    if (value == nullptr || *value == '\0') {
        return false;
    }
    std::string word(value);
    for (char& c : word) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (word == "off" || word == "0") {
        return true;
    }
    if (word != "on" && word != "1") {
        EvDebug(nullptr).DebugLvl("kyplatform::CallScope", EvDebug::LEVEL_ERROR,
                                  "warning: KYSNAP_CALL_MEMORY=\"%s\" is neither on nor off; the "
                                  "call's memory of array answers stays on",
                                  value);
    }
    return false;
}

void forgetAll() {
    if (t_call != nullptr) {
        t_call->answers.clear();
        t_call->memoryBytes = 0;
    }
}
}  // namespace

CallScope::CallScope() {
    if (t_depth++ == 0) {
        t_call = new ThreadCall();
        t_call->memoryOn = !memorySwitchedOff();
    }
}

CallScope::~CallScope() {
    if (--t_depth == 0) {
        // Clients still alive keep the share until they go.
        delete t_call;
        t_call = nullptr;
    }
}

CallStatistics CallScope::statistics() const {
    return t_call != nullptr ? t_call->statistics : CallStatistics();
}

std::shared_ptr<CurlShare> currentCurlShare() {
    if (t_call == nullptr) {
        return nullptr;
    }
    if (!t_call->share) {
        t_call->share = CurlShare::create();
    }
    return t_call->share;
}

namespace callmemory {

bool recall(const std::string& array, const std::string& request, std::string& answer) {
    if (t_call == nullptr || !t_call->memoryOn) {
        return false;
    }
    const auto byArray = t_call->answers.find(array);
    if (byArray == t_call->answers.end()) {
        return false;
    }
    const auto found = byArray->second.find(request);
    if (found == byArray->second.end()) {
        return false;
    }
    answer = found->second;
    return true;
}

void remember(const std::string& array, const std::string& request, const std::string& answer) {
    if (t_call == nullptr || !t_call->memoryOn) {
        return;
    }
    std::map<std::string, std::string>& answers = t_call->answers[array];
    const auto found = answers.find(request);
    const size_t replaced = found == answers.end() ? 0 : found->second.size();
    const size_t bytes = t_call->memoryBytes - replaced + answer.size();
    if (bytes > kCallMemoryBytes) {
        // Nothing older may stand in for the answer that could not be kept.
        if (found != answers.end()) {
            answers.erase(found);
            t_call->memoryBytes -= replaced;
        }
        return;
    }
    answers[request] = answer;
    t_call->memoryBytes = bytes;
}

void forget(const std::string& array) {
    if (t_call == nullptr) {
        return;
    }
    const auto byArray = t_call->answers.find(array);
    if (byArray == t_call->answers.end()) {
        return;
    }
    for (const auto& entry : byArray->second) {
        t_call->memoryBytes -= entry.second.size();
    }
    t_call->answers.erase(byArray);
}

std::string credentialsDigest(const std::string& user, const std::string& password) {
    // The user's length goes first, so that no other split of the same bytes digests alike.
    const uint64_t userLength = user.size();
    unsigned char length[8];
    for (size_t i = 0; i < sizeof length; ++i) {
        length[i] = static_cast<unsigned char>(userLength >> (8 * i));
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                          &EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1 ||
        EVP_DigestUpdate(context.get(), length, sizeof length) != 1 ||
        EVP_DigestUpdate(context.get(), user.data(), user.size()) != 1 ||
        EVP_DigestUpdate(context.get(), password.data(), password.size()) != 1 ||
        EVP_DigestFinal_ex(context.get(), digest, &size) != 1) {
        return std::string();
    }
    std::string hex;
    for (unsigned int i = 0; i < size; ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", digest[i]);
        hex += pair;
    }
    return hex;
}

}  // namespace callmemory

namespace record {

void request(const std::string& method, bool failed) {
    if (t_call != nullptr) {
        CallStatistics::Method& entry = t_call->statistics.methods[method];
        ++entry.requests;
        entry.failures += failed ? 1 : 0;
    }
}

void connections(uint64_t opened) {
    if (t_call != nullptr) {
        t_call->statistics.connections += opened;
    }
}

void fullHandshake() {
    if (t_call != nullptr) {
        ++t_call->statistics.fullHandshakes;
    }
}

void sleep(unsigned int milliseconds) {
    // A call waits because it expects an array to change: nothing remembered holds after.
    forgetAll();
    if (t_call != nullptr) {
        ++t_call->statistics.sleeps;
        t_call->statistics.sleptMs += milliseconds;
    }
}

}  // namespace record
}  // namespace kyplatform
