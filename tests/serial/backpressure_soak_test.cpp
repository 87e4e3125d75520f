// Many megabytes through the port on both backends: a peer that outruns the reader is held
// back again and again and not one byte is lost or reordered.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "serial/QueuedDevice.h"
#include "serial/VaComm.h"
#include "tests/common/ErrorRecorder.h"
#include "tests/serial/SerialFixtures.h"

using namespace trelmo::serial;
using trelmo::test::pumpUntil;

namespace {

constexpr int kSize = 16 * 1024 * 1024;

template <typename Backend>
class PortUnderLoad : public trelmo::test::BackendPort<Backend> {
  protected:
    using trelmo::test::BackendPort<Backend>::backend;
    using trelmo::test::BackendPort<Backend>::port;
    void SetUp() override {
        trelmo::test::BackendPort<Backend>::SetUp();
        if (this->HasFatalFailure())
            return;
        port->SetBaudrate(br115200);
        port->OnError = [this](TVaComm*, int flags) { errors.push_back(flags); };
        port->OnDataLost = [this](TVaComm*, qint64 count) { lost.push_back(count); };
    }
    // The handler takes at most perEvent bytes per event while reading is on.
    void ReadUpTo(int perEvent) {
        port->OnRxChar = [this, perEvent](TVaComm* sender, int count) {
            if (!reading)
                return;
            QByteArray block(std::min(count, perEvent), '\0');
            got.append(block.constData(),
                       sender->ReadBuf(reinterpret_cast<uint8_t*>(block.data()), block.size()));
        };
    }
    // Runs the peer on a thread of its own; Finish waits for it.
    void StartPeer(const QByteArray& data) {
        peer = std::thread([this, data] {
            sentAll = backend.SendHeldBack(data);
            sent = true;
        });
    }
    void Finish(const QByteArray& data) {
        EXPECT_TRUE(pumpUntil([&] { return got.size() >= data.size(); }, 600000));
        if (!sent)
            port->Close();  // a failed run must not leave the peer waiting for ever
        peer.join();
        EXPECT_TRUE(sentAll);
        EXPECT_EQ(got.size(), data.size());
        EXPECT_EQ(trelmo::test::FirstDifference(got, data), -1);
        EXPECT_TRUE(errors.empty());
        EXPECT_TRUE(lost.empty());
    }

    trelmo::test::ErrorRecorder shown;
    bool reading = false;
    QByteArray got;
    std::vector<int> errors;
    std::vector<qint64> lost;
    std::thread peer;
    std::atomic<bool> sent{false};
    bool sentAll = false;
};

using Backends = ::testing::Types<trelmo::test::SimBackend, trelmo::test::PtyBackend>;
class BackendNames {
  public:
    template <typename T>
    static std::string GetName(int) {
        return std::is_same_v<T, trelmo::test::SimBackend> ? "sim" : "posix";
    }
};
TYPED_TEST_SUITE(PortUnderLoad, Backends, BackendNames);

TYPED_TEST(PortUnderLoad, SixteenMegabytesWaitForAPausedReader) {
    this->ReadUpTo(10000);
    this->port->Open();
    const QByteArray data = trelmo::test::pattern(kSize, 21);
    this->StartPeer(data);
    const int ring = static_cast<int>(QueuedDevice::kMinRing);
    EXPECT_TRUE(pumpUntil(
        [&] {
            return this->sent ||
                   (this->port->InQueCount() == ring && this->backend.SenderStalled());
        },
        60000));
    EXPECT_FALSE(this->sent);
    this->reading = true;
    QByteArray first(10000, '\0');
    this->got.append(first.constData(),
                     this->port->ReadBuf(reinterpret_cast<uint8_t*>(first.data()), first.size()));
    this->Finish(data);
}

// A reader that takes a little per event while the peer writes all the time: the ring fills,
// holds the peer, drains to the resume level and fills again, many times over.
TYPED_TEST(PortUnderLoad, SixteenMegabytesThroughASlowSteadyReader) {
    this->ReadUpTo(4093);
    this->reading = true;
    this->port->Open();
    const QByteArray data = trelmo::test::pattern(kSize, 22);
    this->StartPeer(data);
    this->Finish(data);
}

}  // namespace
