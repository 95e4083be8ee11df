// SPDX-License-Identifier: Apache-2.0
// The libcurl share behind a CallScope: connections, TLS sessions and DNS answers
// shared by the easy handles of one thread. Cleaned up when the last handle using it is gone.
#pragma once

#include <curl/curl.h>

#include <memory>

namespace kyplatform {

class CurlShare {
public:
    // Null when libcurl cannot make one (the clients then keep their own connections).
    static std::shared_ptr<CurlShare> create();
    ~CurlShare() { curl_share_cleanup(handle_); }
    CurlShare(const CurlShare&) = delete;
    CurlShare& operator=(const CurlShare&) = delete;

    CURLSH* handle() const { return handle_; }

private:
    explicit CurlShare(CURLSH* handle) : handle_(handle) {}
    CURLSH* handle_;
};

// The share of the calling thread's open scope, or null outside any scope.
std::shared_ptr<CurlShare> currentCurlShare();

}  // namespace kyplatform
