// SPDX-License-Identifier: Apache-2.0
// The default HttpTransport: one libcurl easy handle per transport, reused for every request so
// that libcurl keeps the connection (and its TLS session) open between them.
#pragma once

#include <string>

#include "HttpTransport.h"

namespace kyplatform {

// Initialises libcurl for the process, once and thread-safely (with memory that is wiped when
// freed). False with `error` set when it cannot be.
bool initialiseCurl(std::string& error);

// The process-wide libcurl factory; its first use initialises libcurl (once, thread-safely).
HttpTransportFactory& curlHttpTransportFactory();

}  // namespace kyplatform
