// SPDX-License-Identifier: Apache-2.0
#include "ConnectionLoop.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "RequestFraming.h"

namespace arraysim {

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kReadChunk = 16384;
constexpr int kMaxEvents = 256;
// Out of descriptors, accepting pauses this long rather than spin on the listening socket.
constexpr auto kAcceptPause = std::chrono::milliseconds(100);
// The loop looks at deadlines at least this often, and at most this often.
constexpr auto kLongestSleep = std::chrono::milliseconds(1000);
constexpr auto kShortestSweep = std::chrono::milliseconds(5);
// A chunked body may take this many bytes of framing per byte of data at most; a client that
// sends more is cut off from its request rather than buffered without end.
constexpr size_t kChunkOverhead = 4;

const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";

enum class Phase { Handshake, Idle, Receiving };

struct Connection {
    int fd = -1;
    SSL* ssl = nullptr;
    Phase phase = Phase::Handshake;
    Clock::time_point deadline;
    uint32_t events = EPOLLIN;  // what the loop waits for on the socket
    // Plain bytes not served yet: the request being received and whatever came after it.
    std::string received;
    // Framing of the request being received (see RequestFraming.h).
    size_t scanFrom = 0;
    size_t headLength = 0;
    size_t bodyEnd = 0;
    std::unique_ptr<ChunkedBodyScan> chunks;
    bool continued = false;  // "100 Continue" was sent
    // Set when the request goes to a worker: its length, and whether it is the last one the
    // connection serves.
    size_t extent = 0;
    bool lastRequest = false;
    size_t served = 0;

    void nextRequest() {
        received.erase(0, extent);
        if (received.empty() && received.capacity() > kReadChunk * 4) {
            received.shrink_to_fit();
        }
        scanFrom = headLength = bodyEnd = extent = 0;
        chunks.reset();
        continued = false;
    }
};

// `graceful`: the TLS connection is sound, so it is ended with a close_notify, which also
// keeps its session resumable.
void closeConnection(Connection& c, bool graceful) {
    if (c.ssl != nullptr) {
        if (graceful) {
            ERR_clear_error();
            SSL_shutdown(c.ssl);
        }
        // Before the socket is closed: the tracker forgets the socket as the SSL goes.
        SSL_free(c.ssl);
        c.ssl = nullptr;
    }
    if (c.fd >= 0) {
        ::shutdown(c.fd, SHUT_RDWR);
        ::close(c.fd);
        c.fd = -1;
    }
}

void addressOf(int fd, bool peer, std::string& ip, int& port) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    auto* raw = reinterpret_cast<sockaddr*>(&address);
    if ((peer ? getpeername(fd, raw, &length) : getsockname(fd, raw, &length)) != 0) {
        return;
    }
    char host[NI_MAXHOST];
    char service[NI_MAXSERV];
    if (getnameinfo(raw, length, host, sizeof host, service, sizeof service,
                    NI_NUMERICHOST | NI_NUMERICSERV) == 0) {
        ip = host;
        port = std::atoi(service);
    }
}

// The request a worker serves, read from the bytes the loop received (never from the socket,
// so a worker cannot wait on a slow client); answers go to the TLS connection, each write
// waiting at most the write time-out for the client to take it.
class RequestStream : public httplib::Stream {
public:
    RequestStream(Connection& c, std::chrono::milliseconds writeTimeout)
        : c_(c), writeTimeout_(writeTimeout) {}

    bool is_readable() const override { return offset_ < c_.extent; }
    bool is_writable() const override { return !broken_; }

    ssize_t read(char* ptr, size_t size) override {
        const size_t n = std::min(size, c_.extent - offset_);
        if (n == 0) {
            overran_ = true;
            return 0;
        }
        std::memcpy(ptr, c_.received.data() + offset_, n);
        offset_ += n;
        return static_cast<ssize_t>(n);
    }

    ssize_t write(const char* ptr, size_t size) override {
        if (size == 0) {
            return 0;
        }
        const auto deadline = Clock::now() + writeTimeout_;
        const int length = static_cast<int>(std::min<size_t>(size, INT_MAX));
        for (;;) {
            ERR_clear_error();
            const int n = SSL_write(c_.ssl, ptr, length);
            if (n > 0) {
                return n;
            }
            const int error = SSL_get_error(c_.ssl, n);
            const short wanted = error == SSL_ERROR_WANT_WRITE  ? POLLOUT
                                 : error == SSL_ERROR_WANT_READ ? POLLIN
                                                                : 0;
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            pollfd wait{c_.fd, wanted, 0};
            if (wanted == 0 || left.count() <= 0 ||
                ::poll(&wait, 1, static_cast<int>(left.count())) <= 0) {
                broken_ = true;
                return -1;
            }
        }
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        addressOf(c_.fd, true, ip, port);
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        addressOf(c_.fd, false, ip, port);
    }
    socket_t socket() const override { return c_.fd; }

    // The server wanted more than the request's bytes: it read them differently.
    bool overran() const { return overran_; }
    // A write failed; the connection is unusable.
    bool broken() const { return broken_; }

private:
    Connection& c_;
    std::chrono::milliseconds writeTimeout_;
    size_t offset_ = 0;
    bool overran_ = false;
    bool broken_ = false;
};

// Whether a body follows the head by its headers (a Content-Length other than 0 or a
// Transfer-Encoding); the server decides what such a body may be.
bool bodyFollows(const httplib::Request& request) {
    const std::string length = request.get_header_value("Content-Length");
    return request.has_header("Transfer-Encoding") ||
           length.find_first_not_of('0') != std::string::npos;
}

}  // namespace

struct ConnectionLoop::Impl {
    Impl(SSL_CTX* c, Counters& n, Settings s, RefusedBeforeBody r, Serve v)
        : context(c),
          counters(n),
          settings(s),
          refusedBeforeBody(std::move(r)),
          serve(std::move(v)) {}

    // Loop thread.
    void run();
    void acceptAll();
    void takeReturned();
    void sweep();
    void hold(std::unique_ptr<Connection> c);
    // Moves the connection on as far as the bytes that arrived allow; it may be closed or
    // handed to a worker on the way (and then no longer held).
    void advance(int fd);
    bool handshake(Connection& c);
    bool receive(Connection& c);  // false: closed or handed over
    enum class Arrival { Partly, Whole, Failed };
    Arrival requestArrival(Connection& c);
    void wantEvents(Connection& c, uint32_t events);
    void drop(int fd, bool graceful);
    void handOver(int fd);
    void setDeadline(Connection& c, Clock::duration after);

    // Workers.
    void work();
    void serveOne(std::unique_ptr<Connection> c);
    void giveBack(std::unique_ptr<Connection> c);
    void wake();

    SSL_CTX* context;
    Counters& counters;
    const Settings settings;
    const RefusedBeforeBody refusedBeforeBody;
    const Serve serve;

    int listenFd = -1;
    int epollFd = -1;
    int wakeFd = -1;
    std::thread loop;

    // Owned by the loop thread.
    std::unordered_map<int, std::unique_ptr<Connection>> held;
    Clock::time_point nextSweep = Clock::now();
    bool acceptPaused = false;
    Clock::time_point acceptResumes;

    // Shared with the workers, under `mutex`.
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<std::unique_ptr<Connection>> requests;  // whole requests for the workers
    std::deque<std::unique_ptr<Connection>> returned;  // kept alive, back to the loop
    std::vector<std::thread> workers;
    size_t idleWorkers = 0;
    bool loopEnded = false;
    std::atomic<bool> stopping{false};
};

void ConnectionLoop::Impl::wake() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeFd, &one, sizeof one);
}

void ConnectionLoop::Impl::setDeadline(Connection& c, Clock::duration after) {
    c.deadline = Clock::now() + after;
    nextSweep = std::min(nextSweep, c.deadline);
}

void ConnectionLoop::Impl::run() {
    std::vector<epoll_event> events(kMaxEvents);
    while (!stopping) {
        const auto sleep =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::clamp<Clock::duration>(
                nextSweep - Clock::now(), Clock::duration::zero(), kLongestSleep));
        const int n =
            epoll_wait(epollFd, events.data(), kMaxEvents, static_cast<int>(sleep.count()) + 1);
        for (int i = 0; i < n && !stopping; ++i) {
            const int fd = events[static_cast<size_t>(i)].data.fd;
            if (fd == listenFd) {
                acceptAll();
            } else if (fd == wakeFd) {
                uint64_t count = 0;
                [[maybe_unused]] const ssize_t r = ::read(wakeFd, &count, sizeof count);
                takeReturned();
            } else {
                advance(fd);
            }
        }
        if (!stopping && Clock::now() >= nextSweep) {
            sweep();
        }
    }
    ::close(listenFd);
    listenFd = -1;
    for (auto& entry : held) {
        closeConnection(*entry.second, false);
    }
    held.clear();
    std::deque<std::unique_ptr<Connection>> back;
    {
        std::lock_guard<std::mutex> lock(mutex);
        loopEnded = true;
        back.swap(returned);
    }
    for (auto& c : back) {
        closeConnection(*c, false);
    }
}

void ConnectionLoop::Impl::acceptAll() {
    for (;;) {
        const int fd = accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) {
                continue;
            }
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                epoll_event none{};
                none.data.fd = listenFd;
                epoll_ctl(epollFd, EPOLL_CTL_MOD, listenFd, &none);
                acceptPaused = true;
                acceptResumes = Clock::now() + kAcceptPause;
                nextSweep = std::min(nextSweep, acceptResumes);
            }
            return;
        }
        counters.connection();
        // Answers go out at once, as from an array; without this each call waits out Nagle's
        // algorithm against the client's delayed acknowledgement.
        const int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        auto c = std::make_unique<Connection>();
        c->fd = fd;
        c->ssl = SSL_new(context);
        if (c->ssl == nullptr || SSL_set_fd(c->ssl, fd) != 1) {
            closeConnection(*c, false);
            continue;
        }
        SSL_set_accept_state(c->ssl);
        c->phase = Phase::Handshake;
        setDeadline(*c, settings.requestDeadline);
        hold(std::move(c));
    }
}

void ConnectionLoop::Impl::hold(std::unique_ptr<Connection> c) {
    epoll_event event{};
    event.events = c->events;
    event.data.fd = c->fd;
    if (epoll_ctl(epollFd, EPOLL_CTL_ADD, c->fd, &event) != 0) {
        closeConnection(*c, false);
        return;
    }
    const int fd = c->fd;
    held[fd] = std::move(c);
}

void ConnectionLoop::Impl::wantEvents(Connection& c, uint32_t events) {
    if (c.events != events) {
        c.events = events;
        epoll_event event{};
        event.events = events;
        event.data.fd = c.fd;
        epoll_ctl(epollFd, EPOLL_CTL_MOD, c.fd, &event);
    }
}

void ConnectionLoop::Impl::drop(int fd, bool graceful) {
    auto it = held.find(fd);
    if (it != held.end()) {
        closeConnection(*it->second, graceful);  // closing the socket leaves the epoll set
        held.erase(it);
    }
}

void ConnectionLoop::Impl::advance(int fd) {
    auto it = held.find(fd);
    if (it == held.end()) {
        return;
    }
    Connection& c = *it->second;
    if (c.phase == Phase::Handshake && !handshake(c)) {
        return;
    }
    receive(c);
}

bool ConnectionLoop::Impl::handshake(Connection& c) {
    ERR_clear_error();
    const int result = SSL_accept(c.ssl);
    if (result == 1) {
        c.phase = Phase::Receiving;
        setDeadline(c, settings.requestDeadline);
        return true;
    }
    const int error = SSL_get_error(c.ssl, result);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
        wantEvents(c, error == SSL_ERROR_WANT_READ ? EPOLLIN : EPOLLOUT);
    } else {
        drop(c.fd, false);
    }
    return false;
}

bool ConnectionLoop::Impl::receive(Connection& c) {
    // Checks what has arrived before reading more, so that no more than one request (and one
    // read) is buffered beyond what a worker will take.
    char buffer[kReadChunk];
    for (;;) {
        const Arrival arrival = requestArrival(c);
        if (arrival != Arrival::Partly) {
            arrival == Arrival::Whole ? handOver(c.fd) : drop(c.fd, false);
            return false;
        }
        ERR_clear_error();
        const int n = SSL_read(c.ssl, buffer, sizeof buffer);
        if (n > 0) {
            if (c.phase == Phase::Idle) {
                c.phase = Phase::Receiving;
                setDeadline(c, settings.requestDeadline);
            }
            c.received.append(buffer, static_cast<size_t>(n));
            continue;
        }
        const int error = SSL_get_error(c.ssl, n);
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
            wantEvents(c, error == SSL_ERROR_WANT_READ ? EPOLLIN : EPOLLOUT);
            return true;
        }
        drop(c.fd, error == SSL_ERROR_ZERO_RETURN);
        return false;
    }
}

ConnectionLoop::Impl::Arrival ConnectionLoop::Impl::requestArrival(Connection& c) {
    if (c.received.empty()) {
        return Arrival::Partly;
    }
    if (c.headLength == 0) {
        c.headLength = findHeadEnd(c.received, c.scanFrom);
        if (c.headLength == 0) {
            if (c.received.size() <= kMaxRequestHeadBytes) {
                return Arrival::Partly;
            }
            // The server refuses a head this long; nothing after it can be trusted.
            c.extent = c.received.size();
            c.lastRequest = true;
            return Arrival::Whole;
        }
        httplib::Request request;
        if (!parseHead(c.received, c.headLength, request) || !bodyFollows(request) ||
            !framingProblem(request.headers).empty() || refusedBeforeBody(request)) {
            c.extent = c.headLength;  // answered from the head alone
            return Arrival::Whole;
        }
        // Beyond this point the server accepts the framing: chunked, or a decimal length
        // within the bound.
        if (request.has_header("Transfer-Encoding")) {
            c.chunks = std::make_unique<ChunkedBodyScan>(c.headLength, settings.maxBodyBytes);
        } else {
            c.bodyEnd = c.headLength +
                        static_cast<size_t>(std::strtoull(
                            request.get_header_value("Content-Length").c_str(), nullptr, 10));
        }
        if (request.get_header_value("Expect") == "100-continue") {
            ERR_clear_error();
            const int length = static_cast<int>(sizeof kContinue - 1);
            if (SSL_write(c.ssl, kContinue, length) != length) {
                return Arrival::Failed;  // a client that cannot take 25 bytes is gone
            }
            c.continued = true;
        }
    }
    if (c.chunks == nullptr) {
        if (c.received.size() < c.bodyEnd) {
            return Arrival::Partly;
        }
        c.extent = c.bodyEnd;
        return Arrival::Whole;
    }
    switch (c.chunks->advance(c.received)) {
        case ChunkedBodyScan::State::Complete:
            c.extent = c.chunks->end();
            return Arrival::Whole;
        case ChunkedBodyScan::State::More:
            if (c.received.size() - c.headLength <= settings.maxBodyBytes * kChunkOverhead) {
                return Arrival::Partly;
            }
            break;
        default:
            break;
    }
    // Malformed or too large: the server says so from what has arrived, and the connection
    // ends, as the rest of the body cannot be told from a next request.
    c.extent = c.received.size();
    c.lastRequest = true;
    return Arrival::Whole;
}

void ConnectionLoop::Impl::handOver(int fd) {
    auto it = held.find(fd);
    std::unique_ptr<Connection> c = std::move(it->second);
    held.erase(it);
    epoll_ctl(epollFd, EPOLL_CTL_DEL, fd, nullptr);
    std::lock_guard<std::mutex> lock(mutex);
    requests.push_back(std::move(c));
    if (requests.size() > idleWorkers && workers.size() < settings.workers) {
        workers.emplace_back([this] { work(); });
    }
    ready.notify_one();
}

void ConnectionLoop::Impl::takeReturned() {
    std::deque<std::unique_ptr<Connection>> back;
    {
        std::lock_guard<std::mutex> lock(mutex);
        back.swap(returned);
    }
    for (auto& c : back) {
        const int fd = c->fd;
        // Bytes of a next request may have come with the last one.
        c->phase = c->received.empty() ? Phase::Idle : Phase::Receiving;
        setDeadline(*c, c->received.empty() ? settings.keepAlive : settings.requestDeadline);
        c->events = EPOLLIN;
        hold(std::move(c));
        // What TLS already decrypted does not make the socket readable: look now.
        advance(fd);
    }
}

void ConnectionLoop::Impl::sweep() {
    const auto now = Clock::now();
    auto next = now + kLongestSleep;
    for (auto it = held.begin(); it != held.end();) {
        Connection& c = *it->second;
        if (c.deadline <= now) {
            closeConnection(c, c.phase == Phase::Idle);
            it = held.erase(it);
            continue;
        }
        next = std::min(next, c.deadline);
        ++it;
    }
    if (acceptPaused) {
        if (now >= acceptResumes) {
            epoll_event event{};
            event.events = EPOLLIN;
            event.data.fd = listenFd;
            epoll_ctl(epollFd, EPOLL_CTL_MOD, listenFd, &event);
            acceptPaused = false;
        } else {
            next = std::min(next, acceptResumes);
        }
    }
    nextSweep = std::max(next, now + kShortestSweep);
}

void ConnectionLoop::Impl::work() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        ++idleWorkers;
        ready.wait(lock, [this] { return stopping || !requests.empty(); });
        --idleWorkers;
        if (requests.empty()) {
            return;
        }
        std::unique_ptr<Connection> c = std::move(requests.front());
        requests.pop_front();
        lock.unlock();
        serveOne(std::move(c));
        lock.lock();
    }
}

void ConnectionLoop::Impl::serveOne(std::unique_ptr<Connection> c) {
    if (stopping) {
        closeConnection(*c, false);
        return;
    }
    RequestStream stream(*c, settings.writeTimeout);
    const bool last = c->lastRequest || c->served + 1 >= settings.maxRequestsPerConnection;
    bool closed = false;
    SSL* ssl = c->ssl;
    const bool continued = c->continued;
    const bool ok = serve(stream, last, closed, [ssl, continued](httplib::Request& request) {
        request.ssl = ssl;
        if (continued) {
            request.headers.erase("Expect");  // answered already
        }
    });
    ++c->served;
    c->nextRequest();
    if (!ok || closed || last || stream.overran() || stream.broken() || stopping) {
        closeConnection(*c, !stream.broken());
        return;
    }
    giveBack(std::move(c));
}

void ConnectionLoop::Impl::giveBack(std::unique_ptr<Connection> c) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!loopEnded) {
            returned.push_back(std::move(c));
            wake();
            return;
        }
    }
    closeConnection(*c, false);
}

ConnectionLoop::ConnectionLoop(SSL_CTX* context, Counters& counters, Settings settings,
                               RefusedBeforeBody refusedBeforeBody, Serve serve)
    : impl_(std::make_unique<Impl>(context, counters, settings, std::move(refusedBeforeBody),
                                   std::move(serve))) {}

ConnectionLoop::~ConnectionLoop() {
    stop();
}

int ConnectionLoop::listen(const std::string& address, int port, int backlog, std::string& error) {
    Impl& d = *impl_;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) {
        error = "cannot resolve " + address;
        return 0;
    }
    for (addrinfo* a = found; a != nullptr && d.listenFd < 0; a = a->ai_next) {
        const int fd =
            ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            continue;
        }
        // SO_REUSEADDR only: with SO_REUSEPORT a second simulator could bind the same port and
        // silently take half of the connections.
        const int yes = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        if (::bind(fd, a->ai_addr, a->ai_addrlen) == 0 && ::listen(fd, backlog) == 0) {
            d.listenFd = fd;
        } else {
            ::close(fd);
        }
    }
    freeaddrinfo(found);
    if (d.listenFd < 0) {
        error = "cannot listen on " + address + ":" + std::to_string(port);
        return 0;
    }
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    getsockname(d.listenFd, reinterpret_cast<sockaddr*>(&bound), &length);
    const int boundPort = bound.ss_family == AF_INET6
                              ? ntohs(reinterpret_cast<const sockaddr_in6*>(&bound)->sin6_port)
                              : ntohs(reinterpret_cast<const sockaddr_in*>(&bound)->sin_port);

    d.epollFd = epoll_create1(EPOLL_CLOEXEC);
    d.wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    for (int fd : {d.listenFd, d.wakeFd}) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = fd;
        if (d.epollFd < 0 || fd < 0 || epoll_ctl(d.epollFd, EPOLL_CTL_ADD, fd, &event) != 0) {
            error = std::string("cannot watch connections: ") + std::strerror(errno);
            return 0;
        }
    }
    return boundPort;
}

void ConnectionLoop::start() {
    Impl& d = *impl_;
    d.loop = std::thread([&d] { d.run(); });
}

void ConnectionLoop::stop() {
    Impl& d = *impl_;
    {
        std::lock_guard<std::mutex> lock(d.mutex);
        d.stopping = true;
    }
    d.ready.notify_all();
    if (d.loop.joinable()) {
        d.wake();
        d.loop.join();
    }
    for (std::thread& worker : d.workers) {  // no worker starts once the loop has ended
        if (worker.joinable()) {
            worker.join();
        }
    }
    for (int* fd : {&d.listenFd, &d.epollFd, &d.wakeFd}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
}

}  // namespace arraysim
