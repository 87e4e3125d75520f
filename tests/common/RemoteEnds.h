#pragma once
// Remote ends for the fault and soak tests: peers that run on threads of their own over plain
// sockets (so they keep writing, resetting or connecting while the GUI thread is busy or
// gone), a position-dependent byte stream with frequent line breaks and its running hash,
// and the process's resident memory.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QByteArray>
#include <QFile>
#include <QString>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <functional>
#include <thread>

namespace trelmo::test {

// Resident memory of this process in bytes (VmRSS), 0 when unknown.
inline qint64 residentBytes() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return 0;
}

// The size of the large streams, in megabytes: TRELMO_FAULT_STREAM_MB, 100 when unset.
inline qint64 streamMegabytes() {
    bool ok = false;
    const int mb = qEnvironmentVariableIntValue("TRELMO_FAULT_STREAM_MB", &ok);
    return ok && mb > 0 ? mb : 100;
}

// Byte `i` of a stream whose value depends on its position: printable letters, a line break
// after every 63 of them, and a shift every 4093 bytes so a lost, doubled or swapped block
// changes what follows.
inline uint8_t streamByte(qint64 i) {
    if (i % 64 == 63)
        return '\n';
    return static_cast<uint8_t>('A' + (i * 7 + i / 4093) % 26);
}

// FNV-1a, fed a byte at a time.
class RunningHash {
  public:
    void add(uint8_t b) { h_ = (h_ ^ b) * 1099511628211ULL; }
    void add(const char* data, size_t n) {
        for (size_t i = 0; i < n; ++i)
            add(static_cast<uint8_t>(data[i]));
    }
    uint64_t value() const { return h_; }

  private:
    uint64_t h_ = 1469598103934665603ULL;
};

// Sends all bytes; false when the connection failed (reset, closed) or stalled for 20 s.
inline bool sendAllRaw(int fd, const char* data, size_t n) {
    size_t done = 0;
    while (done < n) {
        const ssize_t w = ::send(fd, data + done, n - done, MSG_NOSIGNAL);
        if (w > 0) {
            done += size_t(w);
            continue;
        }
        if (w < 0 && errno == EINTR)
            continue;
        if (w < 0 && errno == EAGAIN) {
            pollfd p{fd, POLLOUT, 0};
            if (::poll(&p, 1, 20000) <= 0)
                return false;
            continue;
        }
        return false;
    }
    return true;
}

// Makes the next close of a plain socket a reset (RST).
inline void resetRaw(int fd) {
    linger l{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    ::close(fd);
}

// A remote server on its own thread: listens on 127.0.0.1 (a port the kernel picks), accepts
// one client and hands the connected descriptor to `body`, which owns it from then on.
class ThreadedServer {
  public:
    ThreadedServer() {
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(listen_, 4) != 0)
            return;
        socklen_t len = sizeof a;
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    ~ThreadedServer() {
        join();
        if (listen_ >= 0)
            ::close(listen_);
    }
    ThreadedServer(const ThreadedServer&) = delete;
    ThreadedServer& operator=(const ThreadedServer&) = delete;

    int port() const { return port_; }

    // Starts the thread; a client that does not come within 30 s ends it without calling body.
    void serve(std::function<void(int fd)> body) {
        thread_ = std::thread([this, body = std::move(body)] {
            pollfd p{listen_, POLLIN, 0};
            if (::poll(&p, 1, 30000) <= 0)
                return;
            const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                return;
            accepted = true;
            body(fd);
        });
    }
    void join() {
        if (thread_.joinable())
            thread_.join();
    }

    std::atomic<bool> accepted{false};

  private:
    int listen_ = -1;
    int port_ = 0;
    std::thread thread_;
};

// A remote client on its own thread: connects to 127.0.0.1:port and hands the connected
// descriptor to `body`, which owns it from then on.
class ThreadedClient {
  public:
    explicit ThreadedClient(int port, std::function<void(int fd)> body) {
        thread_ = std::thread([this, port, body = std::move(body)] {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            a.sin_port = htons(uint16_t(port));
            if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
                ::close(fd);
                return;
            }
            connected = true;
            body(fd);
        });
    }
    ~ThreadedClient() { join(); }
    ThreadedClient(const ThreadedClient&) = delete;
    ThreadedClient& operator=(const ThreadedClient&) = delete;
    void join() {
        if (thread_.joinable())
            thread_.join();
    }

    std::atomic<bool> connected{false};

  private:
    std::thread thread_;
};

// Writes the stream (streamByte) from position 0 until `stop` is set or the connection
// fails; `sent` counts the bytes the kernel took. Never blocks for long, so setting `stop`
// ends it soon even when nobody reads.
inline void streamUntilStopped(int fd, const std::atomic<bool>& stop, std::atomic<qint64>& sent) {
    char chunk[8192];
    qint64 at = 0;
    while (!stop) {
        for (size_t i = 0; i < sizeof chunk; ++i)
            chunk[i] = char(streamByte(at + qint64(i)));
        const ssize_t w = ::send(fd, chunk, sizeof chunk, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (w > 0) {
            at += w;  // the next chunk goes on exactly where the kernel stopped taking this one
            sent = at;
            continue;
        }
        if (w < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 50);
            continue;
        }
        return;
    }
}

}  // namespace trelmo::test
