// HttpSessionScope: while one lives on a thread, every KYLibCurl initialised on that thread
// shares one pool of connections and one TLS session cache with the others. A plug-in call
// opens one for its whole length, so that all the clients it makes for one array (the storage
// server's, those of array discovery and initiator choice) use one connection and make at most
// one full TLS handshake. Nothing is kept when the scope ends: its connections are closed once
// the last client made under it is gone.
//
// Scopes nest; an inner scope joins the outer one. A client made outside any scope keeps its
// own connection, as before.
#pragma once

#include "KyPlatformExport.h"

namespace kyplatform {

class KYPLATFORM_API HttpSessionScope {
public:
    HttpSessionScope();
    ~HttpSessionScope();
    HttpSessionScope(const HttpSessionScope&) = delete;
    HttpSessionScope& operator=(const HttpSessionScope&) = delete;
};

}  // namespace kyplatform
