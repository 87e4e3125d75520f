#pragma once
// What every test of the serial port needs: simulated devices with names of their own, and
// waiting until every worker thread of every port has ended.

#include <QString>
#include <atomic>

#include "serial/VaComm.h"
#include "tests/common/Pump.h"

namespace trelmo::test {

// A simulated device name no other test of this process uses: "<prefix><n>".
inline QString uniqueSimName(const QString& prefix = QStringLiteral("dev")) {
    static std::atomic<int> n{0};
    return prefix + QString::number(++n);
}

// Waits until every worker thread of every port has ended (the hand-overs they may be
// blocked in are run by the pump).
inline bool WorkersGone(int timeoutMs = 15000) {
    return pumpUntil([] { return serial::TVaCustomComm::LiveWorkerThreads() == 0; }, timeoutMs);
}

}  // namespace trelmo::test
