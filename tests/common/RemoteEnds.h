#pragma once
// Remote ends for the fault and soak tests: peers that run on threads of their own over plain
// sockets (so they keep writing, resetting or connecting while the GUI thread is busy or
// gone), fed with the position-dependent stream of Bytes.h.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QByteArray>
#include <QtGlobal>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <functional>
#include <thread>

#include "tests/common/Bytes.h"
#include "tests/common/Process.h"
#include "tests/common/TcpPeer.h"

namespace trelmo::test {

// The size of the large streams, in megabytes: TRELMO_FAULT_STREAM_MB, 100 when unset.
inline qint64 streamMegabytes() {
    bool ok = false;
    const int mb = qEnvironmentVariableIntValue("TRELMO_FAULT_STREAM_MB", &ok);
    return ok && mb > 0 ? mb : 100;
}

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

// Closes a plain socket with a reset (RST).
inline void resetRaw(int fd) {
    armReset(fd);
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
