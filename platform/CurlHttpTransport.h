// SPDX-License-Identifier: Apache-2.0
// The default HttpTransport: one libcurl easy handle per transport, reused for every request so
// that libcurl keeps the connection (and its TLS session) open between them.
#pragma once

#include "HttpTransport.h"

namespace kyplatform {

// The process-wide libcurl factory; its first use initialises libcurl (once, thread-safely).
HttpTransportFactory& curlHttpTransportFactory();

}  // namespace kyplatform
