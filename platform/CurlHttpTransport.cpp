// SPDX-License-Identifier: Apache-2.0
#include "CurlHttpTransport.h"
#include "CallRecorder.h"
#include "CurlMemory.h"
#include "CurlShare.h"
#include "CurlTls.h"
#include "SecretMemory.h"

#include <curl/curl.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kyplatform {
namespace {

struct EasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct SlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using SlistPtr = std::unique_ptr<curl_slist, SlistDeleter>;

bool startsWithNoCase(const std::string& text, const char* prefix) {
    const size_t length = std::strlen(prefix);
    return text.size() >= length && strncasecmp(text.c_str(), prefix, length) == 0;
}

// Far above any array answer (a listing of ten thousand volumes is a few megabytes), and low
// enough that a peer that never stops sending cannot exhaust the host's memory.
constexpr size_t kMaxAnswerBytes = 64 * 1024 * 1024;

struct BodySink {
    std::string* body;
    bool tooLarge = false;
};

size_t appendBody(char* data, size_t size, size_t count, void* target) {
    auto* sink = static_cast<BodySink*>(target);
    const size_t length = size * count;
    if (length > kMaxAnswerBytes - std::min(sink->body->size(), kMaxAnswerBytes)) {
        sink->tooLarge = true;
        return 0;  // libcurl ends the transfer with a write error
    }
    sink->body->append(data, length);
    return length;
}

// Whether the header block of the (last) answer ended with its empty line. libcurl reports
// success for an answer cut inside its headers, which must not pass for an answer.
size_t watchHeaderBlock(char* data, size_t size, size_t count, void* target) {
    const size_t length = size * count;
    bool& complete = *static_cast<bool*>(target);
    if (length >= 5 && std::strncmp(data, "HTTP/", 5) == 0) {
        complete = false;  // a new answer starts (after an interim 1xx one, say)
    } else if ((length == 2 && data[0] == '\r' && data[1] == '\n') ||
               (length == 1 && data[0] == '\n')) {
        complete = true;
    }
    return length;
}

bool isHttpsUrl(const std::string& url) {
    return startsWithNoCase(url, "https://");
}

// The last segment of the URL's path: the array's REST method name.
std::string methodOf(const std::string& url) {
    const size_t end = url.find_first_of("?#");
    const std::string path = url.substr(0, end);
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Counts each connection's handshake once, as full unless it resumed a session.
void countHandshake(const SSL* ssl, int where, int /*ret*/) {
    static const int counted = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    if ((where & SSL_CB_HANDSHAKE_DONE) == 0 || counted < 0 ||
        SSL_get_ex_data(ssl, counted) != nullptr) {
        return;
    }
    SSL* mutableSsl = const_cast<SSL*>(ssl);
    SSL_set_ex_data(mutableSsl, counted, mutableSsl);
    if (SSL_session_reused(mutableSsl) == 0) {
        record::fullHandshake();
    }
}

CURLcode watchHandshakes(CURL* /*curl*/, void* context, void* /*user*/) {
    SSL_CTX_set_info_callback(static_cast<SSL_CTX*>(context), countHandshake);
    return CURLE_OK;
}

class CurlHttpTransport : public HttpTransport {
public:
    CurlHttpTransport(CURL* handle, const HttpTransportSettings& settings,
                      std::shared_ptr<CurlShare> share)
        : share_(std::move(share)), handle_(handle), settings_(settings) {}

    ~CurlHttpTransport() override {
        // The password lives only as long as the transport.
        wipeSecret(password_);
    }

    bool addHeader(const std::string& line) override {
        headers_.push_back(line);
        if (startsWithNoCase(line, "Content-Type:")) {
            hasContentType_ = true;
        }
        return true;
    }

    bool setCredentials(const std::string& user, const std::string& password) override {
        hasCredentials_ = true;
        user_ = user;
        wipeSecret(password_);
        password_ = password;
        return true;
    }

    bool perform(const HttpRequest& request, HttpResponse& response) override {
        response = HttpResponse();
        if (!isHttpsUrl(request.url)) {
            response.error =
                "only https:// URLs are sent, so that credentials never travel in "
                "clear";
            return false;
        }
        const TlsTarget target = tlsTargetFor(settings_, authorityOf(request.url));
        if (!target.refusal.empty()) {
            response.error = target.refusal + "; nothing was sent";
            return false;
        }
        CURL* curl = handle_.get();
        // A reset clears every option of the previous request but keeps the open connection.
        curl_easy_reset(curl);
        char errorText[CURL_ERROR_SIZE] = {0};

        SlistPtr headers;
        if (!buildHeaders(headers)) {
            response.error = "out of memory building the request headers";
            return false;
        }
        bool ok = setCommonOptions(curl, request, headers.get(), errorText) &&
                  setTlsOptions(curl, settings_, target) && setMethodAndBody(curl, request);
        bool headerBlockComplete = false;
        BodySink sink{&response.body};
        ok = ok && curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendBody) == CURLE_OK &&
             curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink) == CURLE_OK &&
             curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, watchHeaderBlock) == CURLE_OK &&
             curl_easy_setopt(curl, CURLOPT_HEADERDATA, &headerBlockComplete) == CURLE_OK &&
             curl_easy_setopt(curl, CURLOPT_FRESH_CONNECT, request.freshConnection ? 1L : 0L) ==
                 CURLE_OK;
        if (!ok) {
            response.error = "the request options were refused";
            return false;
        }

        // Counting handshakes needs OpenSSL under libcurl; without it they go uncounted.
        curl_easy_setopt(curl, CURLOPT_SSL_CTX_FUNCTION, watchHandshakes);
        const CURLcode result = curl_easy_perform(curl);
        long status = 0;
        long connects = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        if (status >= 300 && status < 400) {
            // Where libcurl would have gone, had it followed redirects: the caller says it.
            const char* location = nullptr;
            if (curl_easy_getinfo(curl, CURLINFO_REDIRECT_URL, &location) == CURLE_OK &&
                location != nullptr) {
                response.location = location;
            }
        }
        curl_easy_getinfo(curl, CURLINFO_NUM_CONNECTS, &connects);
        const bool wasConnected = connected(curl);
        std::vector<ChainCertificate> chain;
        const bool handshook = target.pinned != nullptr && presentedChain(curl, chain);
        record::connections(connects > 0 ? static_cast<uint64_t>(connects) : 0);
        // Drop the pointers into this call's stack and response before they dangle.
        curl_easy_reset(curl);
        response.status = status > 0 ? static_cast<uint32_t>(status) : 0;
        const bool complete = result == CURLE_OK && headerBlockComplete;
        record::request(methodOf(request.url),
                        !complete || response.status < 200 || response.status >= 300);
        if (sink.tooLarge) {
            response.body.clear();
            response.error =
                "the answer exceeded " + std::to_string(kMaxAnswerBytes / (1024 * 1024)) + " MiB";
            return false;
        }
        if (result == CURLE_SSL_PINNEDPUBKEYNOTMATCH && target.pinned != nullptr) {
            response.error = pinMismatchText(target, settings_.pinsFile,
                                             handshook ? chain.front().facts.pin : "");
            return false;
        }
        if (handshook && result == CURLE_OK && chain.front().facts.expired) {
            response.warning = expiredPinText(target, chain.front().facts, settings_.pinsFile);
        }
        if (result != CURLE_OK) {
            std::string detail = errorText[0] != '\0' ? errorText : curl_easy_strerror(result);
            while (!detail.empty() && detail.back() == '\n') {
                detail.pop_back();
            }
            response.error = result == CURLE_OPERATION_TIMEDOUT
                                 ? timeOutText(wasConnected) + ": " + detail
                                 : detail;
            return false;
        }
        if (!headerBlockComplete) {
            response.error = "the answer ended inside its header block";
            return false;
        }
        return true;
    }

private:
    // Whether the last transfer got past connecting (TCP and TLS): it sent its request.
    static bool connected(CURL* curl) {
        long requestBytes = 0;
        return curl_easy_getinfo(curl, CURLINFO_REQUEST_SIZE, &requestBytes) == CURLE_OK &&
               requestBytes > 0;
    }

    // A time-out names the limit that ran out and the variable that sets it.
    std::string timeOutText(bool wasConnected) const {
        return wasConnected ? "time-out: no complete answer within " +
                                  std::to_string(settings_.totalTimeoutSeconds) + " seconds (" +
                                  settings_.totalTimeoutSetting + ")"
                            : "time-out: no connection within " +
                                  std::to_string(std::min(settings_.connectTimeoutSeconds,
                                                          settings_.totalTimeoutSeconds)) +
                                  " seconds (" + settings_.connectTimeoutSetting + ")";
    }

    bool buildHeaders(SlistPtr& list) {
        std::vector<std::string> lines;
        if (!hasContentType_) {
            // An empty "Content-Type:" also stops libcurl from adding its form content type.
            lines.push_back("Content-Type: " + settings_.contentType);
        }
        lines.insert(lines.end(), headers_.begin(), headers_.end());
        // Bodies go out at once: no waiting for a "100 Continue" that an array may never send.
        lines.push_back("Expect:");
        for (const std::string& line : lines) {
            curl_slist* grown = curl_slist_append(list.get(), line.c_str());
            if (grown == nullptr) {
                return false;
            }
            list.release();
            list.reset(grown);
        }
        return true;
    }

    bool setCommonOptions(CURL* curl, const HttpRequest& request, curl_slist* headers,
                          char* errorText) {
        bool ok =
            curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str()) == CURLE_OK &&
            curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText) == CURLE_OK &&
            curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
            curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "https") == CURLE_OK &&
            curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L) == CURLE_OK &&
            curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers) == CURLE_OK &&
            curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, settings_.connectTimeoutSeconds) ==
                CURLE_OK &&
            curl_easy_setopt(curl, CURLOPT_TIMEOUT, settings_.totalTimeoutSeconds) == CURLE_OK &&
            curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, settings_.keepAlive ? 0L : 1L) ==
                CURLE_OK &&
            (!share_ || curl_easy_setopt(curl, CURLOPT_SHARE, share_->handle()) == CURLE_OK);
        if (ok && hasCredentials_) {
            // Passed separately, so that a ':' in the password needs no escaping.
            ok = curl_easy_setopt(curl, CURLOPT_HTTPAUTH, CURLAUTH_BASIC) == CURLE_OK &&
                 curl_easy_setopt(curl, CURLOPT_USERNAME, user_.c_str()) == CURLE_OK &&
                 curl_easy_setopt(curl, CURLOPT_PASSWORD, password_.c_str()) == CURLE_OK;
        }
        return ok;
    }

    static bool setMethodAndBody(CURL* curl, const HttpRequest& request) {
        static const char* const kMethodNames[] = {"GET", "POST", "PUT", "DELETE"};
        const bool hasBody = request.bodyLength > 0;
        const bool sendsBody =
            hasBody || request.method == HttpMethod::Post || request.method == HttpMethod::Put;
        if (!sendsBody) {
            // GET or DELETE without a body: no body and no Content-Length.
            return curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L) == CURLE_OK &&
                   (request.method == HttpMethod::Get ||
                    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, "DELETE") == CURLE_OK);
        }
        // Never a null body pointer with POST: libcurl would then read the body from stdin.
        const char* body = hasBody ? request.body : "";
        bool ok = curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE,
                                   static_cast<curl_off_t>(request.bodyLength)) == CURLE_OK &&
                  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body) == CURLE_OK;
        if (ok && request.method != HttpMethod::Post) {
            ok = curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST,
                                  kMethodNames[static_cast<int>(request.method)]) == CURLE_OK;
        }
        return ok;
    }

    // Declared first so that it outlives the handle that uses it.
    std::shared_ptr<CurlShare> share_;
    std::unique_ptr<CURL, EasyDeleter> handle_;
    HttpTransportSettings settings_;
    std::vector<std::string> headers_;
    bool hasContentType_ = false;
    bool hasCredentials_ = false;
    std::string user_;
    std::string password_;
};

class CurlHttpTransportFactory : public HttpTransportFactory {
public:
    std::unique_ptr<HttpTransport> create(const HttpTransportSettings& settings,
                                          std::string& error) override {
        if (!initialiseCurl(error)) {
            return nullptr;
        }
        CURL* handle = curl_easy_init();
        if (handle == nullptr) {
            error = "libcurl handle allocation failed";
            return nullptr;
        }
        return std::make_unique<CurlHttpTransport>(handle, settings, currentCurlShare());
    }
};

}  // namespace

bool initialiseCurl(std::string& error) {
    static std::once_flag once;
    static CURLcode initResult = CURLE_OK;
    std::call_once(once, [] { initResult = initCurlWithWipingMemory(CURL_GLOBAL_DEFAULT); });
    if (initResult != CURLE_OK) {
        error = std::string("libcurl initialisation failed: ") + curl_easy_strerror(initResult);
        return false;
    }
    return true;
}

std::shared_ptr<CurlShare> CurlShare::create() {
    CURLSH* handle = curl_share_init();
    if (handle == nullptr) {
        return nullptr;
    }
    std::shared_ptr<CurlShare> share(new CurlShare(handle));
    // One thread uses a share, so no locking callbacks are needed.
    if (curl_share_setopt(handle, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT) != CURLSHE_OK ||
        curl_share_setopt(handle, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION) != CURLSHE_OK ||
        curl_share_setopt(handle, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS) != CURLSHE_OK) {
        return nullptr;
    }
    return share;
}

HttpTransportFactory& curlHttpTransportFactory() {
    static CurlHttpTransportFactory factory;
    return factory;
}

}  // namespace kyplatform
