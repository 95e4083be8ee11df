// SPDX-License-Identifier: Apache-2.0
#include "ConnectionTracker.h"

#include <sys/socket.h>

namespace arraysim {

int ConnectionTracker::exDataIndex() {
    static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, freeCallback);
    return index;
}

void ConnectionTracker::install(SSL_CTX* context) {
    exDataIndex();
    SSL_CTX_set_app_data(context, this);
    SSL_CTX_set_info_callback(context, infoCallback);
}

void ConnectionTracker::infoCallback(const SSL* ssl, int where, int /*ret*/) {
    auto* tracker = static_cast<ConnectionTracker*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl)));
    if (tracker == nullptr) {
        return;
    }
    if ((where & SSL_CB_HANDSHAKE_START) != 0 && SSL_get_ex_data(ssl, exDataIndex()) == nullptr) {
        SSL_set_ex_data(const_cast<SSL*>(ssl), exDataIndex(), tracker);
        std::lock_guard<std::mutex> lock(tracker->mutex_);
        tracker->live_[ssl] = SSL_get_fd(ssl);
        if (tracker->stopping_ && SSL_get_fd(ssl) >= 0) {
            ::shutdown(SSL_get_fd(ssl), SHUT_RDWR);
        }
    }
    if ((where & SSL_CB_HANDSHAKE_DONE) != 0) {
        tracker->counters_.handshake(SSL_session_reused(const_cast<SSL*>(ssl)) == 0);
    }
}

void ConnectionTracker::freeCallback(void* parent, void* pointer, CRYPTO_EX_DATA*, int, long,
                                     void*) {
    if (pointer != nullptr) {
        static_cast<ConnectionTracker*>(pointer)->forget(static_cast<const SSL*>(parent));
    }
}

void ConnectionTracker::forget(const SSL* ssl) {
    std::lock_guard<std::mutex> lock(mutex_);
    live_.erase(ssl);
}

void ConnectionTracker::shutdownAll() {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    for (const auto& entry : live_) {
        if (entry.second >= 0) {
            ::shutdown(entry.second, SHUT_RDWR);
        }
    }
}

void dropConnection(const SSL* ssl) {
    int fd = ssl != nullptr ? SSL_get_fd(ssl) : -1;
    if (fd >= 0) {
        ::shutdown(fd, SHUT_RDWR);
    }
}

}  // namespace arraysim
