#pragma once
// The simulated bus of meters (MbusMeterBus) behind a pseudo-terminal: a thread reads what the
// program writes to the slave end and writes back what the bus answers, so the real M-Bus
// window on the main window's serial port, and the real program's --mbus-scan and --mbus-read,
// talk to the meters as over a line.

#include <QByteArray>
#include <QString>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "tests/common/MbusMeterBus.h"
#include "tests/serial/SerialFixtures.h"

namespace trelmo::test {

class MbusPtyBus {
  public:
    explicit MbusPtyBus(MbusMeterBus bus) : bus_(std::move(bus)) {
        if (pty_.Ok())
            thread_ = std::thread([this] { serve(); });
    }
    ~MbusPtyBus() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    MbusPtyBus(const MbusPtyBus&) = delete;
    MbusPtyBus& operator=(const MbusPtyBus&) = delete;

    bool Ok() const { return pty_.Ok(); }
    QString SlavePath() const { return pty_.SlavePath(); }

    // The requests the meters have seen, whole, in order.
    int requests() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return bus_.requests();
    }
    std::vector<QByteArray> requestLog() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return bus_.requestLog();
    }

  private:
    void serve() {
        while (!stop_) {
            const QByteArray written = pty_.ReadAvailable();
            if (written.isEmpty()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            QByteArray answer;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                answer = bus_.write(written);
            }
            if (!answer.isEmpty())
                pty_.Write(answer);
        }
    }

    PtyPair pty_;
    MbusMeterBus bus_;
    mutable std::mutex mutex_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace trelmo::test
