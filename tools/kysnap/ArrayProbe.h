// ArrayProbe: the questions `kysnap check` asks one array, each on its own so that a failure
// says which step failed: can a TCP connection be made, does the certificate verify the way
// the plug-in verifies it (KYSNAP_TLS_CA_FILE or the system store, host name included), and
// what does one REST call answer (through libkyplatform's HTTP client, as the plug-in calls).
#pragma once

#include <cstdint>
#include <string>

#include "ArrayDirectory.h"

namespace kysnap {

struct ApiAnswer {
    bool ok = false;      // a 2xx answer arrived
    uint32_t status = 0;  // HTTP status, 0 when no answer arrived
    std::string body;
    std::string failure;  // why not, as the HTTP client says it (time-out, size, redirect)
};

class ArrayProbe {
public:
    // `array` is borrowed; `timeoutSeconds` bounds connecting and the TLS handshake.
    ArrayProbe(const ArrayAccess& array, int timeoutSeconds);

    // False with `why` set when no TCP connection can be made.
    bool reach(std::string& why) const;
    // False with `why` set when the TLS handshake fails or the certificate does not verify.
    // `insecure` is set when KYSNAP_TLS_INSECURE=1 turned verification off (then true).
    bool verifyCertificate(bool& insecure, std::string& why) const;
    // POSTs `body` to the REST method `method` with the array's credentials.
    ApiAnswer call(const std::string& method, const std::string& body) const;

private:
    int connectSocket(std::string& why) const;

    const ArrayAccess& array_;
    int timeoutSeconds_;
};

}  // namespace kysnap
