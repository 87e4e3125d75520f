#pragma once
// The serial tests' own fixtures: the two backends (the simulated device and a pseudo-terminal)
// as a test plays them, and a port on either. The pseudo-terminal, the test data and the waits
// come from tests/common.

#include <gtest/gtest.h>

#include <QByteArray>
#include <QString>
#include <atomic>
#include <memory>

#include "serial/SimDevice.h"
#include "serial/VaComm.h"
#include "tests/common/Bytes.h"
#include "tests/common/Pty.h"
#include "tests/common/Pump.h"
#include "tests/common/SerialPorts.h"

namespace trelmo::test {

// The two devices the port runs against, played from the test's side.
struct SimBackend {
    std::shared_ptr<serial::sim::SimPeer> peer =
        serial::sim::SimPeer::Create(uniqueSimName(QStringLiteral("iface")));
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
