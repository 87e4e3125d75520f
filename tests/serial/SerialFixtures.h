#pragma once
// Fixtures for the serial tests: a pseudo-terminal pair, waiting for the port's worker
// threads to end, and handler recorders.

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>
#include <QStringList>

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

// Waits until every worker thread of every port has ended (the hand-overs they may be
// blocked in are run by the pump).
inline bool WorkersGone(int timeoutMs = 15000) {
    return pumpUntil([] { return TVaCustomComm::LiveWorkerThreads() == 0; }, timeoutMs);
}

inline QByteArray Pattern(int size, int seed = 0) {
    QByteArray b(size, '\0');
    for (int i = 0; i < size; ++i)
        b[i] = static_cast<char>((i * 7 + seed + i / 251) & 0xFF);
    return b;
}

}  // namespace trelmo::test
