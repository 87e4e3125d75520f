#pragma once
// A pseudo-terminal pair whose slave end a port opens while the test plays the master, and a
// far end that floods it from a thread of its own.

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>
#include <atomic>
#include <thread>

namespace trelmo::test {

// A pseudo-terminal: the port opens the slave path, the test plays the master.
class PtyPair {
  public:
    PtyPair() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0)
            return;
        if (grantpt(master_) != 0 || unlockpt(master_) != 0)
            return;
        char name[128] = {};
        if (ptsname_r(master_, name, sizeof name) != 0)
            return;
        slave_ = QString::fromLocal8Bit(name);
        fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    }
    ~PtyPair() { CloseMaster(); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool Ok() const { return master_ >= 0 && !slave_.isEmpty(); }
    QString SlavePath() const { return slave_; }

    // Writes all bytes to the master (towards the port); false when the other side takes
    // nothing for two seconds (nobody has the slave open).
    bool Write(const QByteArray& bytes) {
        qsizetype done = 0;
        QDeadlineTimer stalled(2000);
        while (done < bytes.size()) {
            if (stalled.hasExpired())
                return false;
            ssize_t n = ::write(master_, bytes.constData() + done,
                                static_cast<size_t>(bytes.size() - done));
            if (n > 0) {
                done += n;
                stalled.setRemainingTime(2000);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                return false;
            pollfd p{master_, POLLOUT, 0};
            poll(&p, 1, 50);
        }
        return true;
    }

    // Writes all bytes to the master, however long the other side holds them off (a port
    // that does not read leaves the master's writes refused). stalled is set once a write was
    // refused and the master then got no room for a while: the port is holding the bytes
    // back. False on a write error, when no byte was taken for giveUpMs, or once stop is set.
    bool WriteHeldBack(const QByteArray& bytes, std::atomic<bool>& stalled,
                       const std::atomic<bool>* stop = nullptr, int giveUpMs = 120000) {
        qsizetype done = 0;
        QDeadlineTimer progress(giveUpMs);
        while (done < bytes.size()) {
            if (progress.hasExpired() || (stop && *stop))
                return false;
            ssize_t n = ::write(master_, bytes.constData() + done,
                                static_cast<size_t>(bytes.size() - done));
            if (n > 0) {
                done += n;
                progress.setRemainingTime(giveUpMs);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                return false;
            pollfd p{master_, POLLOUT, 0};
            if (poll(&p, 1, 100) == 0)
                stalled = true;
        }
        return true;
    }

    // Reads what the port wrote so far (without waiting).
    QByteArray ReadAvailable() {
        QByteArray out;
        char buffer[4096];
        for (;;) {
            ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n <= 0)
                break;
            out.append(buffer, n);
        }
        return out;
    }

    void CloseMaster() {
        if (master_ >= 0)
            ::close(master_);
        master_ = -1;
    }

  private:
    int master_ = -1;
    QString slave_;
};

// A far end that writes a chunk into the pty over and over until stopped, with a second reader
// of the slave end that drains what the port leaves unread once it has gone (else the writer
// would block in the full pty for good).
class PtyFlood {
  public:
    explicit PtyFlood(PtyPair& pty)
        : pty_(pty),
          drain_(::open(pty.SlavePath().toLocal8Bit().constData(),
                        O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {}
    ~PtyFlood() {
        Stop();
        if (drain_ >= 0)
            ::close(drain_);
    }
    PtyFlood(const PtyFlood&) = delete;
    PtyFlood& operator=(const PtyFlood&) = delete;

    bool Ok() const { return drain_ >= 0; }
    void Start(const QByteArray& chunk) {
        writer_ = std::thread([this, chunk] {
            while (!stop_)
                pty_.Write(chunk);
            done_ = true;
        });
    }
    // Stops the writer, draining the slave end until it has stopped.
    void Stop() {
        if (!writer_.joinable())
            return;
        stop_ = true;
        char sink[4096];
        while (!done_) {
            while (::read(drain_, sink, sizeof sink) > 0) {
            }
            std::this_thread::yield();
        }
        writer_.join();
    }

  private:
    PtyPair& pty_;
    const int drain_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> done_{false};
    std::thread writer_;
};

}  // namespace trelmo::test
