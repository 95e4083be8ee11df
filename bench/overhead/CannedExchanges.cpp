// SPDX-License-Identifier: Apache-2.0
#include "CannedExchanges.h"

namespace bench {

namespace {

std::string base64(const std::string& text) {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < text.size(); i += 3) {
        const unsigned n = (static_cast<unsigned char>(text[i]) << 16) |
                           (static_cast<unsigned char>(text[i + 1]) << 8) |
                           static_cast<unsigned char>(text[i + 2]);
        out += kAlphabet[n >> 18];
        out += kAlphabet[(n >> 12) & 63];
        out += kAlphabet[(n >> 6) & 63];
        out += kAlphabet[n & 63];
    }
    if (i < text.size()) {
        unsigned n = static_cast<unsigned char>(text[i]) << 16;
        if (i + 1 < text.size()) {
            n |= static_cast<unsigned char>(text[i + 1]) << 8;
        }
        out += kAlphabet[n >> 18];
        out += kAlphabet[(n >> 12) & 63];
        out += i + 1 < text.size() ? kAlphabet[(n >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

class CannedTransport : public kyplatform::HttpTransport {
public:
    explicit CannedTransport(CannedExchanges& exchanges) : exchanges_(exchanges) {}

    bool addHeader(const std::string&) override { return true; }
    bool setCredentials(const std::string& user, const std::string& password) override {
        authorization_ = "Basic " + base64(user + ":" + password);
        return true;
    }
    bool perform(const kyplatform::HttpRequest& request,
                 kyplatform::HttpResponse& response) override {
        exchanges_.perform(request, authorization_, response);
        return true;
    }

private:
    CannedExchanges& exchanges_;
    std::string authorization_;
};

}  // namespace

std::unique_ptr<kyplatform::HttpTransport> CannedExchanges::create(
    const kyplatform::HttpTransportSettings&, std::string&) {
    return std::make_unique<CannedTransport>(*this);
}

void CannedExchanges::perform(const kyplatform::HttpRequest& request,
                              const std::string& authorization,
                              kyplatform::HttpResponse& response) {
    ++exchanges_;
    const std::string body(request.body != nullptr ? request.body : "", request.bodyLength);
    if (replaying_) {
        if (next_ < kept_.size() && kept_[next_].url == request.url && kept_[next_].body == body) {
            response.status = kept_[next_].status;
            response.body = kept_[next_].answer;
            answerBytes_ += response.body.size();
            ++next_;
            return;
        }
        ++mismatches_;
        response.status = 500;
        response.body.clear();
        return;
    }
    // https://<host>/zebi/api/v2/<method>
    const std::string prefix = "/zebi/api/v2/";
    const size_t hostStart = request.url.find("://");
    const size_t path =
        request.url.find(prefix, hostStart == std::string::npos ? 0 : hostStart + 3);
    int status = 404;
    std::string answer;
    if (hostStart != std::string::npos && path != std::string::npos) {
        const std::string host = request.url.substr(hostStart + 3, path - hostStart - 3);
        const std::string method = request.url.substr(path + prefix.size());
        if (!arrays_.answer(host, method, body, authorization, status, answer)) {
            status = 404;
        }
    }
    response.status = static_cast<uint32_t>(status);
    response.body = answer;
    answerBytes_ += answer.size();
    kept_.push_back(Exchange{request.url, body, response.status, answer});
}

}  // namespace bench
