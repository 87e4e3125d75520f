#pragma once
// Fixtures for the serial tests: a pseudo-terminal pair, the two backends as a test plays
// them, waiting for the port's worker threads to end, test data.

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "serial/SimDevice.h"
#include "serial/VaComm.h"
#include "tests/common/Pump.h"

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

// Waits until every worker thread of every port has ended (the hand-overs they may be
// blocked in are run by the pump).
inline bool WorkersGone(int timeoutMs = 15000) {
    return pumpUntil([] { return serial::TVaCustomComm::LiveWorkerThreads() == 0; }, timeoutMs);
}

// Waits until cond() holds without running the event loop, so hand-overs to the GUI thread
// stay pending; the deadline only bounds a failing wait.
inline bool WaitWithoutEvents(const std::function<bool()>& cond, int timeoutMs = 15000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!cond()) {
        if (deadline.hasExpired())
            return cond();
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

inline QByteArray Pattern(int size, int seed = 0) {
    QByteArray b(size, '\0');
    for (int i = 0; i < size; ++i)
        b[i] = static_cast<char>((i * 7 + seed + i / 251) & 0xFF);
    return b;
}

// Where two byte strings first differ (the shorter one's length when one is a prefix of the
// other; -1 when they are equal): a readable check for megabytes of data.
inline qsizetype FirstDifference(const QByteArray& a, const QByteArray& b) {
    const qsizetype n = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        if (a[i] != b[i])
            return i;
    }
    return a.size() == b.size() ? -1 : n;
}

// The two devices the port runs against, played from the test's side.
struct SimBackend {
    static QString UniqueName() {
        static std::atomic<int> n{0};
        return QStringLiteral("iface%1").arg(++n);
    }
    std::shared_ptr<serial::sim::SimPeer> peer = serial::sim::SimPeer::Create(UniqueName());
    bool Ok() const { return true; }
    QString Device() const { return peer->DeviceName(); }
    bool Send(const QByteArray& b) { return peer->Inject(b); }
    // Sends everything, waiting while the port holds the bytes back (another thread).
    bool SendHeldBack(const QByteArray& b) { return peer->Inject(b); }
    // A waiting Inject gives no sign of its own: the filled ring and the unfinished call are
    // the signs.
    bool SenderStalled() const { return true; }
    QByteArray Received() { return peer->TakeWritten(); }
    void Vanish() { peer->Pull(); }
    // The DTR and RTS levels the port left on the device.
    static constexpr bool kHasModemLines = true;
    bool Dtr() const { return peer->Dtr(); }
    bool Rts() const { return peer->Rts(); }
};

struct PtyBackend {
    PtyPair pty;
    std::atomic<bool> stalled{false};
    bool Ok() const { return pty.Ok(); }
    QString Device() const { return pty.SlavePath(); }
    bool Send(const QByteArray& b) { return pty.Write(b); }
    bool SendHeldBack(const QByteArray& b) { return pty.WriteHeldBack(b, stalled); }
    bool SenderStalled() const { return stalled.load(); }
    QByteArray Received() { return pty.ReadAvailable(); }
    void Vanish() { pty.CloseMaster(); }
    // A pseudo-terminal has no modem lines: there are no levels to read.
    static constexpr bool kHasModemLines = false;
    bool Dtr() const { return false; }
    bool Rts() const { return false; }
};

// A port on one of the backends, writing directly; every worker thread is gone after it.
template <typename Backend>
class BackendPort : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(backend.Ok()) << "no pseudo-terminal available";
        port = std::make_unique<serial::TVaComm>();
        port->SetDeviceName(backend.Device());
        port->SetDirectWrite(true);
        port->SetBaudrate(serial::br9600);
    }
    void TearDown() override {
        port.reset();
        EXPECT_TRUE(WorkersGone());
    }
    Backend backend;
    std::unique_ptr<serial::TVaComm> port;
};

}  // namespace trelmo::test
