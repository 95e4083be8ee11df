// SPDX-License-Identifier: Apache-2.0
// libcurl's memory, zeroed when freed: libcurl keeps copies of the credentials (the user and
// password options, the "Authorization: Basic" header it builds, the request buffer that
// carries it) in blocks it frees without clearing.
#pragma once

#include <curl/curl.h>

namespace kyplatform {

// curl_global_init with allocation functions that zero every block libcurl frees or moves.
// Takes effect only when this is the process's first global initialisation of libcurl.
CURLcode initCurlWithWipingMemory(long flags);

}  // namespace kyplatform
