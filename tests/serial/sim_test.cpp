// The port against the simulated device: what a pseudo-terminal cannot show (the control
// block, modem lines, line errors, event order, the writer queue) and every message.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "serial/SimDevice.h"
#include "serial/VaComm.h"
#include "serial/VaCommThreads.h"
#include "tests/common/ErrorRecorder.h"
#include "tests/serial/SerialFixtures.h"

using namespace trelmo::serial;
using trelmo::serial::sim::SimOp;
using trelmo::serial::sim::SimPeer;
using trelmo::test::pumpFor;
using trelmo::test::pumpUntil;
using trelmo::test::uniqueSimName;

namespace {

class SimPort : public ::testing::Test {
  protected:
    void SetUp() override {
        port = std::make_unique<TVaComm>();
        port->SetDeviceName(peer->DeviceName());
    }
    void TearDown() override {
        port.reset();
        EXPECT_TRUE(trelmo::test::WorkersGone());
    }
    QString Message(const std::function<void()>& action) {
        try {
            action();
        } catch (const EVaCommError& e) {
            return e.Message();
        }
        return QStringLiteral("<nothing raised>");
    }
    static QString WithCode(const QString& text, int code) {
        return text.arg(code).arg(CommErrorText(code));
    }

    trelmo::test::ErrorRecorder shown;
    std::shared_ptr<SimPeer> peer = SimPeer::Create(uniqueSimName(QStringLiteral("dev")));
    std::unique_ptr<TVaComm> port;
};

// --- defaults, control block and event mask ---

TEST_F(SimPort, DefaultsAreTheConstructorValues) {
    TVaComm p;
    EXPECT_FALSE(p.AutoOpen());
    EXPECT_EQ(p.Baudrate(), br1200);
    EXPECT_EQ(p.Parity(), paNone);
    EXPECT_EQ(p.Databits(), db8);
    EXPECT_EQ(p.Stopbits(), sb1);
    EXPECT_EQ(p.EventChars().XonChar(), 17);
    EXPECT_EQ(p.EventChars().XoffChar(), 19);
    EXPECT_TRUE(p.Options().Empty());
    EXPECT_EQ(p.PortNum(), 0);
    EXPECT_EQ(p.DeviceName(), QStringLiteral("COM%d"));
    EXPECT_EQ(p.MonitorEvents(), (TVaCommEvents{ceError, ceRxChar, ceTxEmpty}));
    EXPECT_EQ(p.Buffers().ReadSize(), 4096);
    EXPECT_EQ(p.Buffers().WriteSize(), 2048);
    EXPECT_EQ(p.Buffers().ReadTimeout(), 1000);
    EXPECT_EQ(p.Buffers().WriteTimeout(), 1000);
    EXPECT_EQ(p.Buffers().XonLimit(), 1024);
    EXPECT_EQ(p.Buffers().XoffLimit(), 1024);
    EXPECT_EQ(p.EventPriority(), tpNormal);
    EXPECT_EQ(p.WritePriority(), tpHighest);
    EXPECT_FALSE(p.DirectWrite());
    EXPECT_TRUE(p.UpdateDCB());
    EXPECT_EQ(p.UserBaudrate(), 0);
    EXPECT_FALSE(p.Active());
}

TEST_F(SimPort, ControlBlockFollowsTheProperties) {
    port->Open();
    ASSERT_TRUE(peer->HasDcb());
    TVaDcb dcb = peer->LastDcb();
    EXPECT_EQ(dcb.BaudRate, 1200u);
    EXPECT_EQ(dcb.Flags, fBinary);  // all flow control off
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, 0);
    EXPECT_EQ(dcb.StopBits, 0);
    EXPECT_EQ(dcb.XonLim, 1024);
    EXPECT_EQ(dcb.XoffLim, 1024);
    EXPECT_EQ(dcb.XonChar, 17);
    EXPECT_EQ(dcb.XoffChar, 19);
    EXPECT_FALSE(peer->Rts());
    EXPECT_FALSE(peer->Dtr());

    // Line settings reach the open device at once.
    port->SetUserBaudrate(28800);
    EXPECT_EQ(port->Baudrate(), brUser);
    EXPECT_EQ(peer->LastDcb().BaudRate, 28800u);
    port->SetBaudrate(br9600);
    EXPECT_EQ(port->UserBaudrate(), 0);
    EXPECT_EQ(peer->LastDcb().BaudRate, 9600u);
    port->SetParity(paSpace);
    port->SetDatabits(db5);
    port->SetStopbits(sb2);
    port->SetOptions({coParityCheck, coErrorChar, coNullStrip});
    dcb = peer->LastDcb();
    EXPECT_EQ(dcb.Parity, 4);
    EXPECT_EQ(dcb.ByteSize, 5);
    EXPECT_EQ(dcb.StopBits, 2);
    EXPECT_EQ(dcb.Flags, fBinary | fParity | fErrorChar | fNull);
    const int applied = peer->DcbCount();
    port->SetParity(paSpace);  // same value: nothing
    EXPECT_EQ(peer->DcbCount(), applied);

    // Flow control and event characters notify through their groups.
    port->FlowControl().SetOutCtsFlow(true);
    port->FlowControl().SetOutDsrFlow(true);
    port->FlowControl().SetControlDtr(dtrHandshake);
    port->FlowControl().SetDsrSensitivity(true);
    port->FlowControl().SetTxContinueOnXoff(true);
    port->FlowControl().SetXonXoffOut(true);
    port->FlowControl().SetXonXoffIn(true);
    port->FlowControl().SetControlRts(rtsToggle);
    port->EventChars().SetXonChar(1);
    port->EventChars().SetXoffChar(2);
    port->EventChars().SetErrorChar(3);
    port->EventChars().SetEventChar(4);
    port->EventChars().SetEofChar(5);
    dcb = peer->LastDcb();
    EXPECT_EQ(dcb.Flags, 0x0001u | 0x0002 | 0x0004 | 0x0008 | 0x0020 | 0x0040 | 0x0080 | 0x0100 |
                             0x0200 | 0x0400 | 0x0800 | 0x3000);
    EXPECT_EQ(dcb.XonChar, 1);
    EXPECT_EQ(dcb.XoffChar, 2);
    EXPECT_EQ(dcb.ErrorChar, 3);
    EXPECT_EQ(dcb.EvtChar, 4);
    EXPECT_EQ(dcb.EofChar, 5);
    port->FlowControl().SetControlDtr(dtrEnabled);
    port->FlowControl().SetControlRts(rtsEnabled);
    EXPECT_EQ(peer->LastDcb().Flags & 0x3030, 0x1010u);
    port->FlowControl().SetControlRts(rtsHandshake);
    EXPECT_EQ(peer->LastDcb().Flags & 0x3000, 0x2000u);
}

TEST_F(SimPort, RatesOfEveryEnumerator) {
    const std::pair<TVaBaudrate, uint32_t> rates[] = {
        {br110, 110},       {br300, 300},       {br600, 600},      {br1200, 1200},
        {br2400, 2400},     {br4800, 4800},     {br9600, 9600},    {br14400, 14400},
        {br19200, 19200},   {br38400, 38400},   {br56000, 56000},  {br57600, 57600},
        {br115200, 115200}, {br128000, 128000}, {br256000, 256000}};
    for (auto [rate, value] : rates) {
        port->SetBaudrate(rate);
        EXPECT_EQ(port->BuildDcb().BaudRate, value) << rate;
    }
    port->SetDatabits(db4);
    EXPECT_EQ(port->BuildDcb().ByteSize, 4);
    port->SetParity(paOdd);
    EXPECT_EQ(port->BuildDcb().Parity, 1);
    port->SetParity(paEven);
    EXPECT_EQ(port->BuildDcb().Parity, 2);
    port->SetParity(paMark);
    EXPECT_EQ(port->BuildDcb().Parity, 3);
    port->SetStopbits(sb15);
    EXPECT_EQ(port->BuildDcb().StopBits, 1);
    port->Buffers().SetXonLimit(0x12345);
    port->Buffers().SetXoffLimit(70000);
    EXPECT_EQ(port->BuildDcb().XonLim, 0x2345);
    EXPECT_EQ(port->BuildDcb().XoffLim, 70000 & 0xFFFF);
}

TEST_F(SimPort, DtrAndRtsEnabledByTheControlBlockAreHighAfterOpen) {
    port->FlowControl().SetControlDtr(dtrEnabled);
    port->FlowControl().SetControlRts(rtsEnabled);
    port->Open();
    EXPECT_TRUE(peer->Dtr());
    EXPECT_TRUE(peer->Rts());
}

TEST_F(SimPort, UpdateDcbFalseNeverHandsAControlBlock) {
    port->SetUpdateDCB(false);
    port->Open();
    port->SetBaudrate(br9600);
    port->FlowControl().SetXonXoffIn(true);
    EXPECT_FALSE(peer->HasDcb());
    EXPECT_EQ(peer->DcbCount(), 0);
}

TEST_F(SimPort, QueueSizesTimeoutsAndEventMaskReachTheDevice) {
    port->Buffers().SetReadSize(2048);
    port->Buffers().SetWriteSize(777);
    port->SetMonitorEvents({ceError, ceRing, ceRxChar, ceTxEmpty, cePErr, ceEvent1});
    port->SetDirectWrite(true);
    port->Open();
    EXPECT_EQ(peer->InQueueSize(), 2048u);
    EXPECT_EQ(peer->OutQueueSize(), 777u);
    EXPECT_EQ(peer->Timeouts().ReadIntervalTimeout, 0xFFFFFFFFu);
    EXPECT_EQ(peer->Timeouts().ReadTotalTimeoutConstant, 0u);
    EXPECT_EQ(peer->Timeouts().WriteTotalTimeoutConstant, 0u);
    EXPECT_EQ(peer->Mask(), 0x0080u | 0x0100 | 0x0001 | 0x0004 | 0x0200 | 0x0800);
    EXPECT_EQ(port->OsEventMask(), peer->Mask());
}

TEST_F(SimPort, EveryEventMapsToItsBit) {
    const std::pair<TVaCommEvent, uint32_t> bits[] = {
        {ceBreak, 0x0040},  {ceCts, 0x0008},  {ceDsr, 0x0010},      {ceError, 0x0080},
        {ceRing, 0x0100},   {ceRlsd, 0x0020}, {ceRxChar, 0x0001},   {ceTxEmpty, 0x0004},
        {ceRxFlag, 0x0002}, {cePErr, 0x0200}, {ceRx80Full, 0x0400}, {ceEvent1, 0x0800},
        {ceEvent2, 0x1000}};
    port->SetDirectWrite(true);
    for (auto [event, bit] : bits) {
        port->SetMonitorEvents({event});
        EXPECT_EQ(port->BuildEventMask(), bit) << event;
    }
}

TEST_F(SimPort, WriterThreadTakesTransmitEmptyOutOfTheMask) {
    port->SetMonitorEvents({ceTxEmpty, ceRxChar});
    port->SetDirectWrite(false);
    EXPECT_EQ(port->BuildEventMask(), 0x0001u);
    port->Open();
    EXPECT_EQ(peer->Mask(), 0x0001u);
    EXPECT_NE(port->WriteThread(), nullptr);
}

// --- open port rules ---

TEST_F(SimPort, SettersThatNeedAClosedPortRefuseWhileOpen) {
    port->Open();
    const QString refused = QStringLiteral("Can't perform this operation while port is open");
    EXPECT_EQ(Message([&] { port->SetDeviceName("COM%d"); }), refused);
    EXPECT_EQ(Message([&] { port->SetPortNum(4); }), refused);
    EXPECT_EQ(Message([&] { port->SetMonitorEvents({ceRing}); }), refused);
    EXPECT_EQ(Message([&] { port->SetDirectWrite(true); }), refused);
    EXPECT_EQ(Message([&] { port->SetUpdateDCB(false); }), refused);
    TVaBuffers other;
    other.SetReadSize(99);
    EXPECT_EQ(Message([&] { port->SetBuffers(other); }), refused);
    EXPECT_EQ(Message([&] { port->Open(); }), refused);
    EXPECT_EQ(port->DeviceName(), peer->DeviceName());
    EXPECT_EQ(port->PortNum(), 0);
    EXPECT_EQ(port->MonitorEvents(), (TVaCommEvents{ceError, ceRxChar, ceTxEmpty}));
    EXPECT_FALSE(port->DirectWrite());
    EXPECT_TRUE(port->UpdateDCB());
    EXPECT_EQ(port->Buffers().ReadSize(), 4096);
    // A change inside Buffers is stored, then refused.
    EXPECT_EQ(Message([&] { port->Buffers().SetReadSize(8192); }), refused);
    EXPECT_EQ(port->Buffers().ReadSize(), 8192);
    EXPECT_EQ(Message([&] { port->Buffers().SetXoffLimit(10); }), refused);
    // Time-outs are plain values.
    port->Buffers().SetReadTimeout(5);
    port->Buffers().SetWriteTimeout(6);
    EXPECT_EQ(port->Buffers().ReadTimeout(), 5);
    // Priorities apply to the running thread at once.
    port->SetEventPriority(tpLower);
    EXPECT_EQ(port->EventThread()->Priority(), tpLower);
    port->SetWritePriority(tpLowest);
    EXPECT_EQ(port->WriteThread()->Priority(), tpLowest);
    EXPECT_TRUE(port->Active());
    port->Close();
    port->SetPortNum(4);
    port->SetBuffers(other);
    EXPECT_EQ(port->Buffers().ReadSize(), 99);
    EXPECT_EQ(port->PortNum(), 4);
}

TEST_F(SimPort, DeviceNameIsATemplateFormattedWithPortNum) {
    TVaComm p;
    p.SetPortNum(3);
    EXPECT_EQ(p.FormattedDeviceName(), QStringLiteral("COM3"));
    p.SetDeviceName(QStringLiteral("\\\\.\\COM12"));
    EXPECT_EQ(p.FormattedDeviceName(), QStringLiteral("\\\\.\\COM12"));
    p.SetDeviceName(QStringLiteral("sim:%d"));
    auto numbered = SimPeer::Create(QStringLiteral("3"));
    p.Open();
    EXPECT_TRUE(numbered->IsOpen());
    p.Close();
    EXPECT_EQ(MapDeviceName(QStringLiteral("COM3")), QStringLiteral("/dev/ttyS2"));
    EXPECT_EQ(MapDeviceName(QStringLiteral("\\\\.\\COM12")), QStringLiteral("/dev/ttyS11"));
    EXPECT_EQ(MapDeviceName(QStringLiteral("\\\\.\\sim:x")), QStringLiteral("sim:x"));
    EXPECT_EQ(MapDeviceName(QStringLiteral("/dev/ttyUSB0")), QStringLiteral("/dev/ttyUSB0"));
    EXPECT_EQ(MapDeviceName(QStringLiteral("COM0")), QStringLiteral("COM0"));
    // The probe the main window makes: busy, missing and empty names are all "no".
    EXPECT_TRUE(TVaComm::ProbeDevice(QStringLiteral("\\\\.\\") + peer->DeviceName()));
    EXPECT_FALSE(TVaComm::ProbeDevice(QStringLiteral("\\\\.\\")));
    EXPECT_FALSE(TVaComm::ProbeDevice(QStringLiteral("/dev/trelmo-no-such-device")));
    EXPECT_FALSE(TVaComm::ProbeDevice(QStringLiteral("sim:no-such-device")));
    port->Open();
    EXPECT_FALSE(TVaComm::ProbeDevice(peer->DeviceName()));
}

TEST_F(SimPort, AutoOpenOpensWhenLoadedOutsideDesignMode) {
    port->Loaded();
    EXPECT_FALSE(port->Active());
    port->SetAutoOpen(true);
    port->SetDesigning(true);
    port->Loaded();
    EXPECT_FALSE(port->Active());
    port->SetDesigning(false);
    port->Loaded();
    EXPECT_TRUE(port->Active());
}

TEST_F(SimPort, ClosedPortReadsAndWritesNothing) {
    uint8_t buffer[4] = {1, 2, 3, 4};
    EXPECT_EQ(port->WriteBuf(buffer, 4), 0);
    EXPECT_EQ(port->ReadBuf(buffer, 4), 0);
    EXPECT_FALSE(port->WriteText("abc"));
    EXPECT_TRUE(port->WriteText(""));
    EXPECT_FALSE(port->WriteChar('a'));
    EXPECT_EQ(port->InQueCount(), 0);
    TVaComStat stat{5, 5};
    EXPECT_EQ(port->ReadComStat(stat), 0u);
    EXPECT_EQ(stat.cbInQue, 0u);
}

TEST_F(SimPort, RtsAndDtrOnClosedAndOpenPorts) {
    port->SetRts(true);  // closed: nothing, no error
    port->SetDtr(true);
    port->Open();
    EXPECT_FALSE(peer->Rts());
    port->SetRts(true);
    EXPECT_TRUE(peer->Rts());
    EXPECT_FALSE(peer->Dtr());
    port->SetDtr(true);
    EXPECT_TRUE(peer->Dtr());
    port->SetRts(false);
    port->SetDtr(false);
    EXPECT_FALSE(peer->Rts());
    EXPECT_FALSE(peer->Dtr());
    port->Close();

    const QString dtrRefused =
        QStringLiteral("DTR line updates not allowed when flowcontrol is set to Handshake.");
    const QString rtsRefused = QStringLiteral(
        "RTS line updates not allowed when flowcontrol is set to Handshake or Toggle.");
    port->FlowControl().SetControlDtr(dtrHandshake);
    EXPECT_EQ(Message([&] { port->SetDtr(true); }), dtrRefused);  // also while closed
    port->FlowControl().SetControlRts(rtsHandshake);
    EXPECT_EQ(Message([&] { port->SetRts(true); }), rtsRefused);
    port->FlowControl().SetControlRts(rtsToggle);
    EXPECT_EQ(Message([&] { port->SetRts(false); }), rtsRefused);
    port->FlowControl().SetControlRts(rtsEnabled);
    port->SetRts(true);
}

// --- messages ---

TEST_F(SimPort, OpenFailuresLeaveThePortClosed) {
    port->SetDeviceName(QStringLiteral("sim:absent"));
    EXPECT_EQ(Message([&] { port->Open(); }),
              QStringLiteral("Specified device not found (sim:absent)."));
    EXPECT_FALSE(port->Active());
    EXPECT_EQ(TVaCustomComm::LiveWorkerThreads(), 0);

    port->SetDeviceName(peer->DeviceName());
    peer->FailNext(SimOp::Open, EACCES);
    EXPECT_EQ(Message([&] { port->Open(); }),
              QStringLiteral("Can't open specified device %1 (Error 13, %2)")
                  .arg(peer->DeviceName(), CommErrorText(EACCES)));

    bool opened = false;
    port->OnOpen = [&](TVaComm*) { opened = true; };
    const std::pair<SimOp, QString> steps[] = {
        {SimOp::SetState, QStringLiteral("Error writing dcb (%1), %2")},
        {SimOp::Setup, QStringLiteral("Error initializing buffers (%1), %2")},
        {SimOp::SetTimeouts, QStringLiteral("Error setting timeouts (%1), %2")},
        {SimOp::SetMask, QStringLiteral(" Error setting EventMask (%1), %2")}};
    int closes = peer->CloseCount();
    for (const auto& [op, text] : steps) {
        peer->FailNext(op, EIO);
        EXPECT_EQ(Message([&] { port->Open(); }), WithCode(text, EIO));
        EXPECT_FALSE(port->Active());
        EXPECT_FALSE(peer->IsOpen());
        EXPECT_EQ(peer->CloseCount(), ++closes);  // the device was released again
    }
    EXPECT_FALSE(opened);
    EXPECT_TRUE(trelmo::test::WorkersGone());
}

TEST_F(SimPort, RuntimeFailuresCarryCodeAndText) {
    port->SetDirectWrite(true);
    port->Open();
    peer->FailNext(SimOp::Write, EIO);
    EXPECT_EQ(Message([&] { port->WriteChar('a'); }),
              WithCode(QStringLiteral("Write error (%1), %2"), EIO));
    peer->FailNext(SimOp::Read, EPROTO);
    uint8_t b[4];
    EXPECT_EQ(Message([&] { port->ReadBuf(b, 4); }),
              WithCode(QStringLiteral("Read error (%1), %2"), EPROTO));
    peer->FailNext(SimOp::ClearError, EIO);
    EXPECT_EQ(Message([&] { port->InQueCount(); }),
              WithCode(QStringLiteral("Error retrieving statistics (%1), %2"), EIO));
    peer->FailNext(SimOp::Escape, ENOTTY);
    EXPECT_EQ(Message([&] { port->SetRts(true); }),
              WithCode(QStringLiteral("Error calling comm function (%1), %2"), ENOTTY));
    peer->FailNext(SimOp::SetState, EINVAL);
    EXPECT_EQ(Message([&] { port->SetParity(paEven); }),
              WithCode(QStringLiteral("Error writing dcb (%1), %2"), EINVAL));
    EXPECT_EQ(port->Parity(), paEven);  // stored before it was applied
    EXPECT_TRUE(port->Active());
}

TEST_F(SimPort, OnOpenExceptionIsShownAndThePortStaysOpen) {
    port->OnOpen = [](TVaComm*) { throw EVaCommError(QStringLiteral("handler broke")); };
    port->Open();
    EXPECT_TRUE(port->Active());
    EXPECT_EQ(shown.messages, QStringList{QStringLiteral("handler broke")});
}

// --- events and their order ---

TEST_F(SimPort, ReceivedAndTransmitEmptyInOneBatchRunRxCharFirst) {
    QStringList log;
    port->SetDirectWrite(true);
    port->OnRxChar = [&](TVaComm* s, int count) {
        log << QStringLiteral("rx %1").arg(count);
        QByteArray b(count, '\0');
        s->ReadBuf(reinterpret_cast<uint8_t*>(b.data()), count);
    };
    port->OnTxEmpty = [&](TVaComm*) { log << "txempty"; };
    port->Open();
    peer->Deliver("hello", EV_TXEMPTY, 0);
    EXPECT_TRUE(pumpUntil([&] { return log.size() >= 2; }));
    pumpFor(50);
    EXPECT_EQ(log, (QStringList{"rx 5", "txempty"}));
}

TEST_F(SimPort, NotifyEventsRunInTheirOrderAfterTheErrorsAreFetched) {
    QStringList log;
    port->SetDirectWrite(true);
    port->SetMonitorEvents({ceBreak, ceCts, ceDsr, ceError, ceRing, ceRlsd, ceTxEmpty, ceRxFlag,
                            cePErr, ceRx80Full, ceEvent1, ceEvent2});
    auto note = [&](const char* name) {
        return [&log, name](TVaComm* s) {
            TVaComStat stat;
            // The error flags were fetched and cleared before any notify handler.
            log << QStringLiteral("%1:%2").arg(name).arg(s->ReadComStat(stat));
        };
    };
    port->OnRxFlag = note("rxflag");
    port->OnCts = note("cts");
    port->OnDsr = note("dsr");
    port->OnRing = note("ring");
    port->OnRlsd = note("rlsd");
    port->OnTxEmpty = note("txempty");
    port->OnBreak = note("break");
    port->OnPErr = note("perr");
    port->OnRx80Full = note("rx80full");
    port->OnEvent1 = note("event1");
    port->OnEvent2 = note("event2");
    port->Open();
    peer->Deliver({}, 0x1FFE & ~EV_ERR, CE_FRAME);  // every bit but received characters
    EXPECT_TRUE(pumpUntil([&] { return log.size() >= 11; }));
    EXPECT_EQ(log, (QStringList{"rxflag:0", "cts:0", "dsr:0", "ring:0", "rlsd:0", "txempty:0",
                                "break:0", "perr:0", "rx80full:0", "event1:0", "event2:0"}));
}

TEST_F(SimPort, LineErrorsReachOnErrorWithTheirFlags) {
    std::vector<int> errors;
    int perr = 0;
    port->SetMonitorEvents({ceError, cePErr, ceRxChar});
    port->OnError = [&](TVaComm*, int flags) { errors.push_back(flags); };
    port->OnPErr = [&](TVaComm*) { ++perr; };
    port->Open();
    peer->RaiseErrors(CE_RXPARITY | CE_FRAME);
    EXPECT_TRUE(pumpUntil([&] { return !errors.empty() && perr == 1; }));
    EXPECT_EQ(errors, std::vector<int>{CE_RXPARITY | CE_FRAME});
    // An OnError exception is shown and the port carries on.
    port->OnError = [](TVaComm*, int) { throw EVaCommError(QStringLiteral("bad line")); };
    peer->RaiseErrors(CE_OVERRUN);
    EXPECT_TRUE(pumpUntil([&] { return shown.messages.size() == 1; }));
    EXPECT_EQ(shown.lastText(), QStringLiteral("bad line"));
    EXPECT_EQ(perr, 1);
}

TEST_F(SimPort, ReceivedCharactersFetchTheErrorsOfTheirBatch) {
    std::vector<int> errors;
    int rx = 0;
    port->SetMonitorEvents({ceError, ceRxChar});
    port->OnError = [&](TVaComm*, int flags) { errors.push_back(flags); };
    port->OnRxChar = [&](TVaComm* s, int count) {
        ++rx;
        QByteArray b(count, '\0');
        s->ReadBuf(reinterpret_cast<uint8_t*>(b.data()), count);
    };
    port->Open();
    peer->Deliver("x", 0, CE_FRAME);
    EXPECT_TRUE(pumpUntil([&] { return rx == 1; }));
    pumpFor(100);
    EXPECT_TRUE(errors.empty());  // DoRxChar's status query already cleared them
    // Without received characters in the batch, OnError gets them.
    peer->RaiseErrors(CE_FRAME);
    EXPECT_TRUE(pumpUntil([&] { return errors.size() == 1; }));
}

TEST_F(SimPort, BytesArrivingWhileBusyAreReportedAsOneTotal) {
    std::vector<int> counts;
    port->OnRxChar = [&](TVaComm* s, int count) {
        counts.push_back(count);
        QByteArray b(count, '\0');
        s->ReadBuf(reinterpret_cast<uint8_t*>(b.data()), count);
    };
    port->Open();
    // The GUI thread is busy (not pumping) while three blocks arrive.
    peer->Inject("abc");
    peer->Inject("defg");
    peer->Inject("hi");
    EXPECT_TRUE(pumpUntil([&] { return !counts.empty(); }));
    pumpFor(100);
    EXPECT_EQ(counts, std::vector<int>{9});
}

TEST_F(SimPort, UnreadBytesWaitForTheNextByte) {
    std::vector<int> counts;
    port->OnRxChar = [&](TVaComm*, int count) { counts.push_back(count); };  // reads nothing
    port->Open();
    peer->Inject("abc");
    EXPECT_TRUE(pumpUntil([&] { return counts.size() == 1; }));
    pumpFor(100);
    EXPECT_EQ(counts.size(), 1u);  // no endless events for bytes nobody reads
    peer->Inject("d");
    EXPECT_TRUE(pumpUntil([&] { return counts.size() == 2; }));
    EXPECT_EQ(counts.back(), 4);
}

TEST_F(SimPort, ModemLinesAndRingRaiseTheirEvents) {
    QStringList log;
    port->SetMonitorEvents({ceCts, ceDsr, ceRlsd, ceRing});
    port->OnCts = [&](TVaComm*) { log << "cts"; };
    port->OnDsr = [&](TVaComm*) { log << "dsr"; };
    port->OnRlsd = [&](TVaComm*) { log << "rlsd"; };
    port->OnRing = [&](TVaComm*) { log << "ring"; };
    port->Open();
    peer->SetCts(true);
    EXPECT_TRUE(pumpUntil([&] { return log.size() == 1; }));
    peer->SetDsr(true);
    EXPECT_TRUE(pumpUntil([&] { return log.size() == 2; }));
    peer->SetDcd(true);
    EXPECT_TRUE(pumpUntil([&] { return log.size() == 3; }));
    peer->Ring();
    EXPECT_TRUE(pumpUntil([&] { return log.size() == 4; }));
    peer->SetCts(true);  // no change, no event
    pumpFor(50);
    EXPECT_EQ(log, (QStringList{"cts", "dsr", "rlsd", "ring"}));
}

TEST_F(SimPort, HandlerExceptionIsShownAndLaterHandlersOfTheBatchAreSkipped) {
    QStringList log;
    port->SetMonitorEvents({ceRing, ceTxEmpty, ceRxChar});
    port->SetDirectWrite(true);
    port->OnRing = [&](TVaComm*) {
        log << "ring";
        throw EVaCommError(QStringLiteral("ring failed"));
    };
    port->OnTxEmpty = [&](TVaComm*) { log << "txempty"; };
    port->Open();
    peer->RaiseEvents(EV_RING | EV_TXEMPTY);
    EXPECT_TRUE(pumpUntil([&] { return shown.messages.size() == 1; }));
    pumpFor(50);
    EXPECT_EQ(log, QStringList{"ring"});
    EXPECT_EQ(shown.lastText(), QStringLiteral("ring failed"));
    // The event thread carries on.
    peer->RaiseEvents(EV_TXEMPTY);
    EXPECT_TRUE(pumpUntil([&] { return log.size() == 2; }));
}

TEST_F(SimPort, NoEventThreadWithoutMonitoredEvents) {
    int calls = 0;
    port->SetMonitorEvents({});
    port->SetDirectWrite(true);
    port->OnRxChar = [&](TVaComm*, int) { ++calls; };
    port->OnTxEmpty = [&](TVaComm*) { ++calls; };
    port->Open();
    EXPECT_EQ(port->EventThread(), nullptr);
    EXPECT_EQ(port->WriteThread(), nullptr);
    peer->Inject("abc");
    port->WriteText("x");
    pumpFor(100);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(port->InQueCount(), 3);
}

TEST_F(SimPort, WriterThreadReportsTransmitEmptyWithoutMonitoredEvents) {
    int txEmpty = 0;
    port->SetMonitorEvents({});
    port->OnTxEmpty = [&](TVaComm*) { ++txEmpty; };
    port->Open();
    EXPECT_EQ(port->EventThread(), nullptr);
    EXPECT_TRUE(port->WriteText("abc"));
    EXPECT_TRUE(pumpUntil([&] { return txEmpty == 1; }));
    EXPECT_EQ(peer->Written(), QByteArray("abc"));
}

// --- writes ---

TEST_F(SimPort, DirectWriteThatDoesNotCompleteInTimeReturnsZero) {
    port->SetDirectWrite(true);
    port->Buffers().SetReadTimeout(50);
    port->Open();
    peer->SetTxStall(true);
    EXPECT_EQ(port->WriteText("abc"), false);
    uint8_t b[2] = {1, 2};
    EXPECT_EQ(port->WriteBuf(b, 2), 0);
    peer->SetTxStall(false);
    EXPECT_TRUE(port->WriteText("ok"));
    EXPECT_EQ(peer->Written(), QByteArray("ok"));
}

TEST_F(SimPort, QueuedWritesReturnAtOnceAndTxEmptyFollowsTheDrain) {
    int txEmpty = 0;
    port->OnTxEmpty = [&](TVaComm*) { ++txEmpty; };
    port->Buffers().SetWriteTimeout(200);
    port->Open();
    peer->SetTxStall(true);
    const QByteArray ten = trelmo::test::pattern(10);
    EXPECT_EQ(port->WriteBuf(reinterpret_cast<const uint8_t*>(ten.constData()), 10), 10);
    const QByteArray more = trelmo::test::pattern(2000, 1);
    EXPECT_EQ(port->WriteBuf(reinterpret_cast<const uint8_t*>(more.constData()), 2000), 2000);
    pumpFor(50);
    EXPECT_EQ(txEmpty, 0);
    // No room for another 100 bytes before the write time-out.
    const QString full = QStringLiteral("Output buffer is full. Please check comm status.");
    const QByteArray extra(100, 'x');
    EXPECT_EQ(Message([&] { port->WriteText(extra); }), full);
    // A single write longer than the queue always fails.
    EXPECT_EQ(Message([&] { port->WriteText(QByteArray(3000, 'y')); }), full);
    peer->SetTxStall(false);
    EXPECT_TRUE(pumpUntil([&] { return peer->Written().size() == 2010 && txEmpty >= 1; }));
    EXPECT_EQ(peer->Written(), ten + more);
    pumpFor(50);
    EXPECT_LE(txEmpty, 2);
}

TEST_F(SimPort, CloseDiscardsQueuedBytesAndEndsTheWriter) {
    port->Open();
    peer->SetTxStall(true);
    EXPECT_TRUE(port->WriteText("pending"));
    EXPECT_TRUE(port->WriteText("more"));
    pumpFor(20);
    port->Close();
    EXPECT_TRUE(trelmo::test::WorkersGone());
    peer->SetTxStall(false);
    EXPECT_TRUE(peer->Written().isEmpty());
}

TEST_F(SimPort, WriteErrorsOfTheWriterReachOnError) {
    std::vector<int> errors;
    port->OnError = [&](TVaComm*, int flags) { errors.push_back(flags); };
    port->SetMonitorEvents({});  // only the writer thread can report
    port->Open();
    peer->Deliver({}, 0, CE_OVERRUN);
    peer->FailNext(SimOp::Write, EIO);
    EXPECT_TRUE(port->WriteText("retry"));
    // The failed write makes the writer fetch the line errors; then it writes again.
    EXPECT_TRUE(pumpUntil([&] { return errors.size() == 1; }));
    EXPECT_EQ(errors.front(), CE_OVERRUN);
    EXPECT_TRUE(pumpUntil([&] { return peer->Written() == QByteArray("retry"); }));
}

TEST_F(SimPort, WriterEndsWhenItsTransmitEmptyHandlerThrows) {
    port->OnTxEmpty = [](TVaComm*) { throw EVaCommError(QStringLiteral("tx handler")); };
    port->Buffers().SetWriteTimeout(50);
    port->SetMonitorEvents({});
    port->Open();
    EXPECT_TRUE(port->WriteText("a"));
    EXPECT_TRUE(trelmo::test::WorkersGone());  // the writer thread ended
    EXPECT_EQ(peer->Written(), QByteArray("a"));
    // Later writes fill the queue that nobody drains.
    EXPECT_TRUE(port->WriteText(QByteArray(2000, 'b')));
    EXPECT_EQ(Message([&] { port->WriteText(QByteArray(100, 'c')); }),
              QStringLiteral("Output buffer is full. Please check comm status."));
}

// --- lifetime ---

TEST_F(SimPort, HandOverQueuedBeforeCloseStillRunsItsNotifyEvents) {
    int rings = 0, rx = 0;
    port->SetMonitorEvents({ceRing, ceRxChar});
    port->OnRing = [&](TVaComm*) { ++rings; };
    port->OnRxChar = [&](TVaComm*, int) { ++rx; };
    port->Open();
    peer->Deliver("abc", EV_RING, 0);
    QThread::msleep(50);  // let the event thread queue its hand-over
    port->Close();
    EXPECT_TRUE(trelmo::test::WorkersGone());
    EXPECT_EQ(rings, 1);
    EXPECT_EQ(rx, 0);  // a closed port has no bytes to report
}

TEST_F(SimPort, PulledDeviceIsReportedOnceAndCannotBeReopened) {
    QStringList lost;
    port->OnDeviceLost = [&](TVaComm*, const QString& m) { lost << m; };
    port->SetDirectWrite(true);
    port->Open();
    peer->Pull();
    EXPECT_TRUE(pumpUntil([&] { return lost.size() == 1; }));
    EXPECT_EQ(lost.first(),
              QStringLiteral("Serial device lost (%1), %2").arg(ENODEV).arg(CommErrorText(ENODEV)));
    EXPECT_TRUE(trelmo::test::WorkersGone());
    EXPECT_EQ(Message([&] { port->WriteChar('a'); }),
              WithCode(QStringLiteral("Write error (%1), %2"), ENODEV));
    port->Close();
    EXPECT_EQ(Message([&] { port->Open(); }),
              QStringLiteral("Specified device not found (%1).").arg(peer->DeviceName()));
    peer->Plug();
    port->Open();
    EXPECT_TRUE(port->Active());
}

TEST_F(SimPort, BytesReceivedBeforeThePullAreStillDelivered) {
    QStringList log;
    port->OnRxChar = [&](TVaComm* s, int count) {
        QByteArray b(count, '\0');
        b.resize(s->ReadBuf(reinterpret_cast<uint8_t*>(b.data()), count));
        log << QString::fromLatin1(b);
    };
    port->OnDeviceLost = [&](TVaComm*, const QString&) { log << "lost"; };
    // Bytes the peer never sent because it went away are no loss of data.
    port->OnDataLost = [&](TVaComm*, qint64) { log << "data lost"; };
    port->Open();
    peer->Inject("last words");
    peer->Pull();
    EXPECT_TRUE(pumpUntil([&] { return log.contains("lost"); }));
    pumpFor(50);
    EXPECT_EQ(log, (QStringList{"last words", "lost"}));
}

TEST_F(SimPort, PulledDeviceWithOnlyTheWriterIsReportedToo) {
    QStringList lost;
    port->OnDeviceLost = [&](TVaComm*, const QString& m) { lost << m; };
    port->SetMonitorEvents({});
    port->Open();
    peer->SetTxStall(true);
    EXPECT_TRUE(port->WriteText("abc"));
    peer->Pull();
    EXPECT_TRUE(pumpUntil([&] { return lost.size() == 1; }));
    EXPECT_TRUE(trelmo::test::WorkersGone());
}

// --- a full receive ring ---

TEST_F(SimPort, FullReceiveRingTakesNoMoreAndReportsNoError) {
    std::vector<int> errors;
    port->SetMonitorEvents({ceError});
    port->OnError = [&](TVaComm*, int flags) { errors.push_back(flags); };
    port->Open();
    const int ring = 1024 * 1024;
    const QByteArray fill = trelmo::test::pattern(ring, 2);
    EXPECT_EQ(peer->TryInject(fill), static_cast<size_t>(ring));
    EXPECT_EQ(peer->TryInject("overflow"), 0u);  // refused, not dropped
    pumpFor(100);
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(port->InQueCount(), ring);
    // Room for five bytes takes five.
    QByteArray head(5, '\0');
    EXPECT_EQ(port->ReadBuf(reinterpret_cast<uint8_t*>(head.data()), 5), 5);
    EXPECT_EQ(peer->TryInject("overflow"), 5u);
    QByteArray all(ring, '\0');
    EXPECT_EQ(port->ReadBuf(reinterpret_cast<uint8_t*>(all.data()), ring), ring);
    EXPECT_EQ(head + all, fill + "overf");
    EXPECT_TRUE(errors.empty());
}

TEST_F(SimPort, WaitingInjectEndsWhenThePortCloses) {
    port->SetMonitorEvents({});
    port->Open();
    std::atomic<bool> done{false};
    bool delivered = true;
    std::thread feeder([&] {
        delivered = peer->Inject(trelmo::test::pattern(3 * 1024 * 1024));
        done = true;
    });
    EXPECT_TRUE(pumpUntil([&] { return port->InQueCount() == 1024 * 1024; }));
    EXPECT_FALSE(done);
    port->Close();
    feeder.join();
    EXPECT_FALSE(delivered);
    EXPECT_EQ(peer->TryInject("x"), 0u);  // not open
    EXPECT_FALSE(peer->Inject("x"));
}

TEST_F(SimPort, WaitingInjectEndsWhenTheDeviceIsPulled) {
    QByteArray got;
    port->SetMonitorEvents({ceRxChar});
    port->Open();
    std::atomic<bool> done{false};
    bool delivered = true;
    const QByteArray data = trelmo::test::pattern(2 * 1024 * 1024, 4);
    std::thread feeder([&] {
        delivered = peer->Inject(data);
        done = true;
    });
    EXPECT_TRUE(pumpUntil([&] { return port->InQueCount() == 1024 * 1024; }));
    EXPECT_FALSE(done);
    peer->Pull();
    feeder.join();
    EXPECT_FALSE(delivered);
    // What was queued before the pull is a leading part of the data, still readable.
    got.resize(1024 * 1024);
    EXPECT_EQ(port->ReadBuf(reinterpret_cast<uint8_t*>(got.data()), got.size()), 1024 * 1024);
    EXPECT_EQ(got, data.left(1024 * 1024));
    EXPECT_EQ(peer->TryInject("x"), 0u);  // a pulled device takes nothing
}

// --- bytes lost below the program ---

TEST_F(SimPort, OverrunArrivingWithBytesIsReportedOnceWithItsCount) {
    QStringList log;
    port->SetMonitorEvents({ceError, ceRxChar});
    port->OnRxChar = [&](TVaComm* s, int count) {
        QByteArray b(count, '\0');
        b.resize(s->ReadBuf(reinterpret_cast<uint8_t*>(b.data()), count));
        log << QStringLiteral("rx %1").arg(QString::fromLatin1(b));
    };
    port->OnError = [&](TVaComm*, int flags) { log << QStringLiteral("error %1").arg(flags); };
    port->OnDataLost = [&](TVaComm* sender, qint64 count) {
        EXPECT_EQ(sender, port.get());
        log << QStringLiteral("lost %1").arg(count);
    };
    port->Open();
    // One batch: the status query of DoRxChar clears the device's flags and count first, so
    // OnError hears nothing of this batch; the lost count is kept and reported.
    peer->Deliver("abc", 0, CE_OVERRUN, 17);
    EXPECT_TRUE(pumpUntil([&] { return log.size() >= 2; }));
    pumpFor(100);
    EXPECT_EQ(log, (QStringList{"rx abc", "lost 17"}));
    // A batch without loss reports none.
    peer->Inject("def");
    EXPECT_TRUE(pumpUntil([&] { return log.size() >= 3; }));
    pumpFor(100);
    EXPECT_EQ(log.mid(2), QStringList{"rx def"});
    // Losses that arrive apart are reported apart, after the flags of their own batch.
    peer->RaiseOverrun(2);
    EXPECT_TRUE(pumpUntil([&] { return log.size() >= 5; }));
    pumpFor(50);
    EXPECT_EQ(log.mid(3), (QStringList{QStringLiteral("error %1").arg(CE_OVERRUN), "lost 2"}));
}

TEST_F(SimPort, LossIsReportedWhenErrorsAreNotMonitored) {
    std::vector<qint64> lost;
    int errors = 0;
    QByteArray got;
    port->SetMonitorEvents({ceRxChar});
    port->OnRxChar = [&](TVaComm* s, int count) {
        QByteArray b(count, '\0');
        got.append(b.constData(), s->ReadBuf(reinterpret_cast<uint8_t*>(b.data()), count));
    };
    port->OnError = [&](TVaComm*, int) { ++errors; };
    port->OnDataLost = [&](TVaComm*, qint64 count) { lost.push_back(count); };
    port->Open();
    peer->RaiseOverrun(5);  // no event of its own
    peer->RaiseOverrun(6);
    pumpFor(50);
    EXPECT_TRUE(lost.empty());
    peer->Inject("x");  // the next batch fetches the count
    EXPECT_TRUE(pumpUntil([&] { return !lost.empty(); }));
    pumpFor(100);
    EXPECT_EQ(lost, std::vector<qint64>{11});
    EXPECT_EQ(got, QByteArray("x"));
    EXPECT_EQ(errors, 0);
}

TEST_F(SimPort, LossFetchedByAStatusQueryIsStillReportedOnce) {
    std::vector<qint64> lost;
    std::vector<int> errors;
    port->OnError = [&](TVaComm*, int flags) { errors.push_back(flags); };
    port->OnDataLost = [&](TVaComm*, qint64 count) { lost.push_back(count); };
    port->Open();
    // The GUI thread queries before the event batch of the overrun has run.
    peer->RaiseOverrun(4);
    TVaComStat stat;
    EXPECT_EQ(port->ReadComStat(stat), static_cast<uint32_t>(CE_OVERRUN));
    EXPECT_EQ(stat.cbLost, 4u);
    EXPECT_EQ(port->ReadComStat(stat), 0u);  // cleared in the device
    EXPECT_EQ(stat.cbLost, 0u);
    EXPECT_TRUE(pumpUntil([&] { return !lost.empty(); }));
    pumpFor(100);
    EXPECT_EQ(lost, std::vector<qint64>{4});
    EXPECT_TRUE(errors.empty());  // the caller fetched the flags; the count is still told
}

TEST_F(SimPort, UnreportedLossIsForgottenWhenThePortCloses) {
    std::vector<qint64> lost;
    int rings = 0, rx = 0;
    port->SetMonitorEvents({ceRing, ceRxChar});
    port->OnRing = [&](TVaComm*) { ++rings; };
    port->OnRxChar = [&](TVaComm* s, int count) {
        ++rx;
        QByteArray b(count, '\0');
        s->ReadBuf(reinterpret_cast<uint8_t*>(b.data()), count);
    };
    port->OnDataLost = [&](TVaComm*, qint64 count) { lost.push_back(count); };
    port->Open();
    peer->RaiseOverrun(9);
    TVaComStat stat;
    port->ReadComStat(stat);  // fetched, not reported yet
    EXPECT_EQ(stat.cbLost, 9u);
    port->Close();
    port->Open();
    peer->Ring();
    EXPECT_TRUE(pumpUntil([&] { return rings == 1; }));
    pumpFor(100);
    EXPECT_TRUE(lost.empty());
    // Loss of the new session is reported with the next batch that fetches it.
    peer->RaiseOverrun(3);
    peer->Inject("z");
    EXPECT_TRUE(pumpUntil([&] { return rx == 1 && !lost.empty(); }));
    pumpFor(50);
    EXPECT_EQ(lost, std::vector<qint64>{3});
}

TEST_F(SimPort, OnDataLostExceptionIsShownAndThePortCarriesOn) {
    int rx = 0;
    port->OnRxChar = [&](TVaComm* s, int count) {
        ++rx;
        QByteArray b(count, '\0');
        s->ReadBuf(reinterpret_cast<uint8_t*>(b.data()), count);
    };
    port->OnDataLost = [](TVaComm*, qint64) { throw EVaCommError(QStringLiteral("lost it")); };
    port->Open();
    peer->Deliver("a", 0, CE_OVERRUN, 1);
    EXPECT_TRUE(pumpUntil([&] { return shown.messages.size() == 1; }));
    EXPECT_EQ(shown.lastText(), QStringLiteral("lost it"));
    peer->Inject("b");
    EXPECT_TRUE(pumpUntil([&] { return rx == 2; }));
    pumpFor(50);
    EXPECT_EQ(shown.messages.size(), 1);
}

}  // namespace
