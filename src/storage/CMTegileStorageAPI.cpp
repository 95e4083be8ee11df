// SPDX-License-Identifier: Apache-2.0
// The API object itself: set-up, the request helper every method goes through, polling, and
// the array's system properties.
#include "CMTegileStorageAPI.h"

#include <arpa/inet.h>

#include <cstdio>
#include <new>

#include "CMParser.h"
#include "CMRESTClient.h"
#include "CMStorageDevice.h"
#include "LMSleep.h"
#include "PluginTexts.h"
#include "PropertyNames.h"
#include "SecretMemory.h"

namespace {

// The host part of the array's URL. A host may name the array by a bare IPv6 address
// ("fd00::10"), which a URL must carry in brackets; anything else ("10.0.0.5", "name:8443",
// "[fd00::10]:8443") is a URL authority already.
std::string urlAuthority(const std::string& hostName) {
    unsigned char address[sizeof(in6_addr)];
    return inet_pton(AF_INET6, hostName.c_str(), address) == 1 ? "[" + hostName + "]" : hostName;
}

}  // namespace

CMTegileStorageAPI::CMTegileStorageAPI(std::string& hostName, std::string& userName,
                                       std::string& password, unsigned int retryCount,
                                       unsigned int retryInterval, bool diagLogging)
    : hostName_(hostName),
      userName_(userName),
      password_(password),
      retryCount_(retryCount),
      retryInterval_(retryInterval),
      diagLogging_(diagLogging) {}

CMTegileStorageAPI::~CMTegileStorageAPI() {
    kyplatform::wipeSecret(password_);
}

void CMTegileStorageAPI::setLogger(KYSO::SnapInfo* logger) {
    logger_ = logger;
}

Copy_Status CMTegileStorageAPI::init() {
    static const char* const kFunction = "init";
    log().info(kFunction, "Tegile storage API initialization started");
    baseUrl_ = "https://" + urlAuthority(hostName_) + "/zebi/api/v2/";
    restClient_.reset(new (std::nothrow) CMRESTClient(retryCount_, retryInterval_, diagLogging_));
    if (!restClient_) {
        log().error(kFunction, "REST client object creation failed");
        return COPY_NO_MEMORY;
    }
    restClient_->setLogger(logger_);
    const int status = restClient_->init(userName_, password_);
    if (status != 0) {
        log().error(kFunction, "REST client initialization failed error [%d]", status);
        return static_cast<Copy_Status>(status);
    }
    return COPY_SUCCESS;
}

std::string CMTegileStorageAPI::QString(const std::string& text) const {
    std::string quoted;
    quoted.reserve(text.size() + 2);
    quoted += '"';
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '"':
                quoted += "\\\"";
                break;
            case '\\':
                quoted += "\\\\";
                break;
            case '\b':
                quoted += "\\b";
                break;
            case '\f':
                quoted += "\\f";
                break;
            case '\n':
                quoted += "\\n";
                break;
            case '\r':
                quoted += "\\r";
                break;
            case '\t':
                quoted += "\\t";
                break;
            default:
                if (byte < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04X", byte);
                    quoted += escaped;
                } else {
                    quoted += c;
                }
        }
    }
    quoted += '"';
    return quoted;
}

Copy_Status CMTegileStorageAPI::send(const ApiCall& call, std::string& response, bool* answered) {
    response.clear();
    if (answered != nullptr) {
        *answered = false;
    }
    if (!restClient_) {
        log().error(call.function, "REST client object creation failed");
        return COPY_FAILED;
    }
    const ArrayMethodRow& row = methodRow(call.method);
    const std::string url = baseUrl_ + row.restName;
    unsigned int httpCode = 0;
    // A call that creates something goes on a fresh connection: were a kept-alive one to die
    // after the array read the call, the HTTP library would send it a second time.
    // A listing may be answered from what this call already read of the array; anything
    // else makes the call forget that, but a mapping leaves the listings of datasets standing.
    const auto forget = row.has(trait::kChangesOnlyMappings)
                            ? CMRESTClient::Forget::AllButDatasetListings
                            : CMRESTClient::Forget::Everything;
    const auto listing = row.has(trait::kListsDatasets) ? CMRESTClient::Listing::Datasets
                                                        : CMRESTClient::Listing::Other;
    // Only a listing's answer that parses as the JSON its method reads is kept for the call.
    const bool inAnObject = row.has(trait::kListsInAnObject);
    const CMRESTClient::Readable readable = [inAnObject](const std::string& answer) {
        jsonxx::ParseError error = jsonxx::ParseError::None;
        return inAnObject ? jsonxx::Object().parse(answer, kAnswerLimits, error)
                          : jsonxx::Array().parse(answer, kAnswerLimits, error);
    };
    const int result =
        row.has(trait::kCreatesObjects)
            ? restClient_->postOnce(url, call.body, response, httpCode, forget)
        : row.has(trait::kOnlyLists)
            ? restClient_->postRead(url, call.body, response, httpCode, listing, readable)
            : restClient_->post(url, call.body, response, httpCode, forget);
    if (result == 0 && row.has(trait::kAnswersNothing) && !doneWithNothing(httpCode, response)) {
        log().error(call.function,
                    "not known to be done: http status [%u] and %zu bytes of answer, where a "
                    "done call answers nothing with 200",
                    httpCode, response.size());
        return COPY_FAILED;
    }
    if (answered != nullptr) {
        *answered = result == 0;
    }
    if (result == 0) {
        return COPY_SUCCESS;
    }
    log().error(call.function, "REST POST failed url [%s]", url.c_str());
    if (!response.empty()) {
        log().error(call.function, plugintext::kHttpErrorResponseFormat, static_cast<int>(httpCode),
                    response.c_str());
    }
    Copy_Status status = static_cast<Copy_Status>(result);
    for (const ErrorText& test : call.errorTexts) {
        bool matches = false;
        for (const std::string& needle : test.needles) {
            matches = matches || response.find(needle) != std::string::npos;
        }
        if (matches) {
            log().error(call.function, test.logFormat, test.logValue.c_str());
            status = test.status;
        }
    }
    return status;
}

bool CMTegileStorageAPI::parsedListing(const char* function, const std::string& response,
                                       const jsonxx::Array*& listing) {
    listing = nullptr;
    if (lastListingText_.empty() || response != lastListingText_) {
        lastListingText_.clear();
        lastListing_.reset();
        if (!parsed(function, response, lastListing_)) {
            return false;
        }
        lastListingText_ = response;
    }
    listing = &lastListing_;
    return true;
}

Copy_Status CMTegileStorageAPI::poll(unsigned int attempts, unsigned int waitMs,
                                     const char* function,
                                     const std::function<Copy_Status()>& attempt,
                                     const std::function<bool(Copy_Status)>& done) {
    Copy_Status status = COPY_SUCCESS;
    for (unsigned int left = attempts; left > 0; --left) {
        if (function != nullptr) {
            log().info(function, plugintext::kRetryFormat, static_cast<int>(left),
                       static_cast<int>(retryInterval_));
        }
        status = attempt();
        if (done(status) || left == 1) {
            break;
        }
        LMSLEEP(waitMs);
    }
    retry_ = false;
    return status;
}

Copy_Status CMTegileStorageAPI::datasetPathById(const char* function, const std::string& lunId,
                                                std::string& datasetPath) {
    std::string response;
    Copy_Status status =
        send({function, ArrayMethod::ListLunsById, "[[" + QString(lunId) + "]]"}, response);
    if (status != COPY_SUCCESS) {
        return status;
    }
    jsonxx::Array volumes;
    if (!parsed(function, response, volumes)) {
        return COPY_FAILED;
    }
    if (volumes.size() != 1) {
        log().error(function, "JSON response: received data not matching with request [%s]",
                    response.c_str());
        return COPY_FAILED;
    }
    if (!volumes.has<jsonxx::Object>(0) ||
        !volumes.get<jsonxx::Object>(0).has<jsonxx::String>("datasetPath")) {
        log().error(function, "JSON response: datasetPath not found");
        return COPY_FAILED;
    }
    datasetPath = volumes.get<jsonxx::Object>(0).get<jsonxx::String>("datasetPath");
    log().error(function, "JSON response: datasetPath [%s]", datasetPath.c_str());
    return COPY_SUCCESS;
}

Copy_Status CMTegileStorageAPI::listGroupMembers(
    const char* function, ArrayMethod groupsMethod, ArrayMethod membersMethod, const char* groupLog,
    const std::function<bool(const std::string&, const std::string&)>& visit) {
    std::string response;
    Copy_Status status = send({function, groupsMethod, ""}, response);
    if (status != COPY_SUCCESS) {
        return status;
    }
    jsonxx::Array groups;
    // Each group costs a request of its own.
    if (!parsed(function, response, groups) ||
        !withinLimit(log(), function, groups, kMaxListedGroups)) {
        return COPY_FAILED;
    }
    std::vector<std::string> names;
    for (size_t i = 0; i < groups.size(); ++i) {
        if (groups.has<jsonxx::String>(i)) {
            names.push_back(groups.get<jsonxx::String>(i));
            log().info(function, groupLog, names.back().c_str());
        }
    }
    for (const std::string& group : names) {
        status = send({function, membersMethod, "[" + QString(group) + "]"}, response);
        if (status != COPY_SUCCESS) {
            return status;
        }
        jsonxx::Array members;
        if (!parsed(function, response, members) ||
            !withinLimit(log(), function, members, kMaxListElements)) {
            return COPY_FAILED;
        }
        for (size_t i = 0; i < members.size(); ++i) {
            if (members.has<jsonxx::String>(i) && !visit(group, members.get<jsonxx::String>(i))) {
                break;
            }
        }
    }
    completed(function);
    return COPY_SUCCESS;
}

void CMTegileStorageAPI::started(const char* function) const {
    log().info(function, "started");
}

void CMTegileStorageAPI::completed(const char* function) const {
    log().info(function, "completed");
}

Copy_Status CMTegileStorageAPI::perform(const ApiCall& call) {
    std::string response;
    bool answered = false;
    const Copy_Status status = send(call, response, &answered);
    if (!answered) {
        return status;
    }
    // A command status other than 0 is the array saying the command failed, even with 200.
    if (methodRow(call.method).has(trait::kAnswersCommandStatus) &&
        !commandStatusSucceeded(response)) {
        log().error(call.function, "command status [%s] reports a failure", response.c_str());
        return COPY_FAILED;
    }
    completed(call.function);
    return status;
}

std::string CMTegileStorageAPI::snapshotName(const Properties& map) const {
    auto protocol = map.find(SNAP_CONFIG_PROTOCOL);
    auto name = map.find(TARGET_DEVICE_NAME);
    const bool share = protocol != map.end() && protocol->second == PROTOCOL_NFS;
    return std::string(share ? "Manual-S-" : "Manual-V-") +
           (name != map.end() ? name->second : std::string());
}

Copy_Status CMTegileStorageAPI::getConfig(Properties& map) {
    static const char* const kFunction = "getConfig";
    started(kFunction);
    std::string response;
    Copy_Status status = send({kFunction,
                               ArrayMethod::ListSystemProperties,
                               "[[\"ZEBI_APPLIANCE_MODEL\",\"ZEBI_APPLIANCE_VERSION\", "
                               "\"ZEBI_API_VERSION\", \"ZEBI_API_MINOR_VERSION\"]]",
                               {accessDenied()}},
                              response);
    if (status != COPY_SUCCESS) {
        return status;
    }
    jsonxx::Array values;
    if (!parsed(kFunction, response, values)) {
        return COPY_FAILED;
    }
    if (values.size() < 4) {
        log().info(kFunction, "JSON response - received less data than requested  [%s]",
                   response.c_str());
        return COPY_FAILED;
    }
    struct Element {
        const char* property;
        const char* foundLog;
        const char* missingLog;
    };
    static const Element kElements[] = {
        {STORAGE_SERVER_MODEL, "storage server model [%s]",
         "JSON response: ZEBI_APPLIANCE_MODEL not found"},
        {STORAGE_SERVER_VERSION, "storage server version [%s]",
         "JSON response: ZEBI_APPLIANCE_VERSION not found"},
        {STORAGE_SERVER_API_VERSION, "storage server api version [%s]",
         "JSON response: ZEBI_API_VERSION not found"},
        {STORAGE_SERVER_API_MINOR_VERSION, "storage server api minor version [%s]",
         "JSON response: ZEBI_API_MINOR_VERSION not found"},
    };
    for (size_t i = 0; i < 4; ++i) {
        if (!values.has<jsonxx::String>(i)) {
            log().error(kFunction, kElements[i].missingLog);
            return COPY_FAILED;
        }
        const std::string& value = values.get<jsonxx::String>(i);
        map[kElements[i].property] = value;
        log().info(kFunction, kElements[i].foundLog, value.c_str());
    }
    return COPY_SUCCESS;
}
