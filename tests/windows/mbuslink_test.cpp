// The M-Bus window on the main window's serial port: Send writes the telegram to the device,
// the reply is captured into "Received: " and decoded.

#include <QLabel>
#include <QPushButton>

#include "mbus/MbusWindow.h"
#include "tests/common/WindowFixture.h"

using namespace trelmo;

using namespace trelmo::test;
using trelmo::serial::sim::SimPeer;

TEST_F(SerialTerm, MbusSendCaptureAndDecode) {
    trelmo::TForm5* mbus = windows->form5();
    // Without an open port the M-Bus window refuses.
    mbus->BitBtn1->click();
    EXPECT_EQ(dialogs.texts(), QStringList{"You are not connected to COM port."});
    EXPECT_FALSE(form->serialLink()->mbusCapture());

    auto peer = SimPeer::Create("meter");
    connectSerial(peer->DeviceName());
    ASSERT_TRUE(form->serialLink()->portOpen());
    EXPECT_TRUE(form->serialLink()->portOpen());
    dialogs.clear();
    mbus->BitBtn1->click();
    EXPECT_TRUE(dialogs.messages.empty()) << dialogs.texts().join("|").toStdString();
    const QByteArray telegram = mbus->telegram().Telegram_bytes;
    ASSERT_FALSE(telegram.isEmpty());
    EXPECT_EQ(peer->Written().toHex(), telegram.toHex());
    EXPECT_TRUE(form->serialLink()->mbusCapture());

    const QByteArray reply = QByteArray::fromHex(
        "68404068 08FD72 78563412 2ED901 07 2A000000 04131027 0000 8110AABB 050FAABB 039CFF55 16");
    ASSERT_TRUE(peer->Inject(reply));
    ASSERT_TRUE(pumpUntil([&] { return tableRows() == reply.size(); }));
    // The caption reaches its label a moment after the bytes.
    ASSERT_TRUE(pumpUntil([&] { return mbus->Label_receive->text() == mbus->receivedCaption(); }));
    EXPECT_EQ(mbus->Label_receive->text(),
              "Received: " + QString::fromLatin1(reply.toHex().toUpper()));
    mbus->BitBtn3->click();
    auto label = [&](const char* name) { return mbus->findChild<QLabel*>(name)->text(); };
    EXPECT_EQ(label("Label_mbcs_address"), "Slave address: 253");
    EXPECT_EQ(label("Label_mbcs_Id"), "Slave ID: 12345678");
    EXPECT_EQ(label("Label_access"), "Access No.: 42");
    // The bytes are shown in the main window too.
    EXPECT_EQ(ui(form).Label_rec->text(), "Total received: " + QString::number(reply.size()));

    // Closing the M-Bus window ends the capture.
    mbus->close();
    EXPECT_FALSE(form->serialLink()->mbusCapture());
    ASSERT_TRUE(peer->Inject("\x68"));
    ASSERT_TRUE(pumpUntil([&] { return tableRows() == reply.size() + 1; }));
    mbus->flushReceivedLabels();
    EXPECT_EQ(mbus->receivedCaption(), "Received: " + QString::fromLatin1(reply.toHex().toUpper()));
    EXPECT_EQ(mbus->Label_receive->text(),
              "Received: " + QString::fromLatin1(reply.toHex().toUpper()));
}

TEST_F(SerialTerm, MbusWindowGoneBeforeTheMainWindow) {
    auto peer = SimPeer::Create("gone");
    connectSerial(peer->DeviceName());
    ASSERT_TRUE(form->serialLink()->portOpen());
    form->serialLink()->setMbusCapture(true);
    auto* spare = new trelmo::TForm5;
    QObject::connect(form->serialLink(), &SerialLinkController::captured, spare,
                     [spare](const QByteArray& bytes) { spare->captureBytes(bytes); });
    delete spare;
    ASSERT_TRUE(peer->Inject("\x10\x16"));
    ASSERT_TRUE(pumpUntil([&] { return tableRows() == 2; }));
    EXPECT_EQ(pane(), "\x10\x16");
}
