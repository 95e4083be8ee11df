#include "HttpSessionScope.h"

#include "CurlShare.h"

namespace kyplatform {
namespace {
// The calling thread's open scopes and the share they hand out (made on first use).
thread_local int t_depth = 0;
thread_local std::shared_ptr<CurlShare>* t_share = nullptr;
}  // namespace

HttpSessionScope::HttpSessionScope() {
    if (t_depth++ == 0) {
        t_share = new std::shared_ptr<CurlShare>();
    }
}

HttpSessionScope::~HttpSessionScope() {
    if (--t_depth == 0) {
        // Clients still alive keep the share until they go.
        delete t_share;
        t_share = nullptr;
    }
}

std::shared_ptr<CurlShare> currentCurlShare() {
    if (t_share == nullptr) {
        return nullptr;
    }
    if (!*t_share) {
        *t_share = CurlShare::create();
    }
    return *t_share;
}

}  // namespace kyplatform
