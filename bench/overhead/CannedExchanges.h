// SPDX-License-Identifier: Apache-2.0
// CannedExchanges: an HTTP transport factory for the plug-in that answers instantly. While
// recording, each request is answered by in-process arrays and the exchange is kept; while
// replaying, the kept answers are given back in the same order, so a call costs only what
// the plug-in itself does with them. A replayed request that differs from the kept one is
// answered 500 and counted as a mismatch.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "HttpTransport.h"
#include "InProcessArrays.h"

namespace bench {

class CannedExchanges : public kyplatform::HttpTransportFactory {
public:
    explicit CannedExchanges(InProcessArrays& arrays) : arrays_(arrays) {}

    void record() { replaying_ = false; }
    // Starts giving back the kept exchanges from the first one.
    void replay() {
        replaying_ = true;
        next_ = 0;
    }

    std::unique_ptr<kyplatform::HttpTransport> create(
        const kyplatform::HttpTransportSettings& settings, std::string& error) override;

    // One exchange: `authorization` is the "Basic ..." value of the transport's credentials.
    void perform(const kyplatform::HttpRequest& request, const std::string& authorization,
                 kyplatform::HttpResponse& response);

    size_t exchanges() const { return exchanges_; }
    // Bytes of all answers given so far.
    size_t answerBytes() const { return answerBytes_; }
    size_t mismatches() const { return mismatches_; }

private:
    struct Exchange {
        std::string url;
        std::string body;
        uint32_t status;
        std::string answer;
    };

    InProcessArrays& arrays_;
    bool replaying_ = false;
    std::vector<Exchange> kept_;
    size_t next_ = 0;
    size_t exchanges_ = 0;
    size_t answerBytes_ = 0;
    size_t mismatches_ = 0;
};

}  // namespace bench
