// SPDX-License-Identifier: Apache-2.0
#include "ConnectionTracker.h"

#include <httplib.h>
#include <sys/socket.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <thread>
#include <vector>

namespace arraysim {

namespace {

// Starts a worker for a connection when none is idle, up to the maximum; beyond it
// connections wait for a free worker. On shutdown the workers finish the queued connections
// (the server has stopped, so each one is closed at once) and are joined.
class WorkerPool : public httplib::TaskQueue {
public:
    WorkerPool(size_t maxWorkers, Counters& counters)
        : maxWorkers_(std::max<size_t>(1, maxWorkers)), counters_(counters) {}
    ~WorkerPool() override { shutdown(); }

    void enqueue(std::function<void()> job) override {
        counters_.connection();
        std::lock_guard<std::mutex> lock(mutex_);
        jobs_.push_back(std::move(job));
        if (jobs_.size() > idle_ && workers_.size() < maxWorkers_) {
            workers_.emplace_back([this] { run(); });
        }
        ready_.notify_one();
    }

    void shutdown() override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        ready_.notify_all();
        // No job is queued any more once the server has stopped listening.
        for (std::thread& worker : workers_) {
            if (worker.joinable()) {
                worker.join();
            }
        }
    }

private:
    void run() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            ++idle_;
            ready_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            --idle_;
            if (jobs_.empty()) {
                return;
            }
            std::function<void()> job = std::move(jobs_.front());
            jobs_.pop_front();
            lock.unlock();
            job();
            lock.lock();
        }
    }

    const size_t maxWorkers_;
    Counters& counters_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> jobs_;
    std::vector<std::thread> workers_;
    size_t idle_ = 0;
    bool stopping_ = false;
};

}  // namespace

int ConnectionTracker::exDataIndex() {
    static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, freeCallback);
    return index;
}

void ConnectionTracker::install(SSL_CTX* context) {
    exDataIndex();
    SSL_CTX_set_app_data(context, this);
    SSL_CTX_set_info_callback(context, infoCallback);
}

httplib::TaskQueue* ConnectionTracker::newTaskQueue(size_t maxWorkers) {
    return new WorkerPool(maxWorkers, counters_);
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
