// Bytes arriving on the serial port, shown in the pane, the counters, the sum, the last-byte
// parity and the byte table, through the real window and a pseudo-terminal.

#include <QCheckBox>

#include "tests/common/WindowFixture.h"

using namespace trelmo::serial;

using namespace trelmo;

using namespace trelmo::test;
using trelmo::serial::sim::SimPeer;

namespace {

class SerialReceive : public PtyWindow {
  protected:
    // Writes at the far end and waits until the table holds `total` bytes.
    void feed(const QByteArray& bytes, int total) {
        ASSERT_TRUE(pty.Write(bytes));
        ASSERT_TRUE(pumpUntil([&] { return tableRows() >= total; })) << tableRows();
    }
};

}  // namespace

TEST_F(SerialReceive, TextModeNamesAndLineBreak) {
    feed(QByteArray("A\r\nB", 4), 4);
    EXPECT_EQ(pane(), "A<CR>\nB");
    EXPECT_EQ(column(1), QStringList({"A", "<CR>", "<LF>", "B"}));
    EXPECT_EQ(column(0), QStringList({"1", "2", "3", "4"}));
    EXPECT_EQ(column(2), QStringList({"0x41", "0x0D", "0x0A", "0x42"}));
    EXPECT_EQ(column(4), QStringList(4, ""));
    EXPECT_EQ(ui(form).Label_rec->text(), "Total received: 4");
    EXPECT_EQ(ui(form).StatusBar1Panel2->text(), "Total send:   Total received: 4");
    EXPECT_EQ(ui(form).StatusBar1Panel1->text(), "Last byte parity: None");
    EXPECT_EQ(ui(form).Lab_Parity->text(), "Last byte parity: None");
    EXPECT_EQ(form->receivePath()->state().ReceivedCount, 4);
    EXPECT_FALSE(lit(ui(form).led_RxD));

    // A byte 0 is named and counted; the line goes on behind it.
    feed(QByteArray("x\0y", 3), 7);
    EXPECT_EQ(pane(), QString("A<CR>\nB") + "x<NUL>y");
    EXPECT_EQ(column(3).mid(4), QStringList({"120", "0", "121"}));
}

TEST_F(SerialReceive, HexModeWritesEveryByte) {
    ui(form).Check_hex->setChecked(true);
    feed(QByteArray("A\r\nB", 4), 4);
    EXPECT_EQ(pane(), "0x41 0x0D \n0x0A 0x42 ");
    EXPECT_EQ(column(1), QStringList({"A", "\r", "\n", "B"}));
}

TEST_F(SerialReceive, LineOverTwoBlocksAndSum) {
    feed("AB", 2);
    EXPECT_EQ(pane(), "AB");
    feed("D\n", 4);
    EXPECT_EQ(pane(), "ABD\n");
    feed("\n", 5);
    EXPECT_EQ(pane(), "ABD\n\n") << "two breaks leave one empty line";

    send("x");  // a send starts the sum again
    ASSERT_EQ(form->receivePath()->state().CheckSum, 0);
    feed(QByteArray("\xFF\x02", 2), 7);
    EXPECT_EQ(ui(form).lab_crc->text(), "CRC: 0x01");
    feed(QByteArray("\x80\x90", 2), 9);
    EXPECT_EQ(ui(form).lab_crc->text(), "CRC: 0x11");
    // Shown whole, not clipped to the label's first text "CRC: ".
    EXPECT_GE(ui(form).lab_crc->width(),
              ui(form).lab_crc->fontMetrics().horizontalAdvance(ui(form).lab_crc->text()));
}

TEST_F(SerialReceive, MessageLinesAndReceivedText) {
    feed("AB", 2);
    // A message line: the TCP client refuses while the port is open.
    ui(form).Butt_connect->click();
    feed("C", 3);
    EXPECT_EQ(pane(), "AB\nAlready active connection (serial or Listen TCP)C");
    feed("\n", 4);
    ui(form).Butt_connect->click();
    feed("D", 5);
    EXPECT_EQ(pane(),
              "AB\nAlready active connection (serial or Listen TCP)C\n"
              "Already active connection (serial or Listen TCP)\nD");
}

TEST_F(SerialReceive, LargeBurstArrivesInFullAndInOrder) {
    const QByteArray burst = pattern(40000);
    feed(burst, burst.size());
    ASSERT_EQ(tableRows(), burst.size());
    const QStringList dec = column(3);
    for (int i = 0; i < burst.size(); ++i) {
        ASSERT_EQ(dec[i].toInt(), static_cast<uint8_t>(burst[i])) << "byte " << i;
    }
    EXPECT_EQ(ui(form).Label_rec->text(), "Total received: 40000");
}

// The parity value of the last byte by the port's setting, on the simulated device.
TEST_F(SerialTerm, LastByteParity) {
    auto peer = SimPeer::Create("parity");
    const struct {
        const char* parity;
        const char* expected;
    } cases[] = {{"Odd", "Last byte parity: 0"},
                 {"Even", "Last byte parity: 1"},
                 {"Mark", "Last byte parity: 1"},
                 {"Space", "Last byte parity: 0"},
                 {"None", "Last byte parity: None"}};
    int total = 0;
    for (const auto& c : cases) {
        typeInto(ui(form).Combo_parity, c.parity);
        connectSerial(peer->DeviceName());
        ASSERT_TRUE(form->serialLink()->portOpen()) << c.parity;
        ASSERT_TRUE(peer->Inject("A"));
        ++total;
        ASSERT_TRUE(pumpUntil([&] { return tableRows() == total; }));
        EXPECT_EQ(ui(form).StatusBar1Panel1->text(), c.expected) << c.parity;
        EXPECT_EQ(ui(form).Lab_Parity->text(), c.expected) << c.parity;
        ui(form).BitBtn2->click();
    }
    EXPECT_EQ(column(4), QStringList({"0", "1", "1", "0", ""}));
}

// One event reporting more than 10000 bytes takes 10000; the rest comes with the next event.
TEST_F(SerialTerm, AtMostTenThousandBytesPerEvent) {
    auto peer = SimPeer::Create("big");
    connectSerial(peer->DeviceName());
    ASSERT_TRUE(form->serialLink()->portOpen());
    struct Call {
        int count;
        qint64 taken;
    };
    QList<Call> calls;
    auto original = form->serialLink()->port()->OnRxChar;
    form->serialLink()->port()->OnRxChar = [&](TVaComm* sender, int count) {
        const qint64 before = form->receivePath()->state().ReceivedCount;
        original(sender, count);
        calls.append({count, form->receivePath()->state().ReceivedCount - before});
    };
    QByteArray bytes(25000, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i % 251);
    ASSERT_TRUE(peer->Inject(bytes));
    ASSERT_TRUE(pumpUntil([&] { return tableRows() == 25000; }));
    ASSERT_FALSE(calls.isEmpty());
    EXPECT_GT(calls.first().count, 10000);
    int sum = 0;
    for (const Call& c : calls) {
        EXPECT_EQ(c.taken, std::min(c.count, 10000));
        sum += c.taken;
    }
    EXPECT_EQ(sum, 25000);
    const QStringList dec = column(3);
    for (int i = 0; i < 25000; i += 997)
        EXPECT_EQ(dec[i].toInt(), i % 251) << i;
    form->serialLink()->port()->OnRxChar = original;
}

// Bytes lost below the program (an overrun the device reports) are shown once, with their
// count, in the pane where the gap is; the bytes around the gap are all there.
TEST_F(SerialTerm, LossBelowTheProgramIsShownOnceWithItsCount) {
    auto peer = SimPeer::Create("overrun");
    connectSerial(peer->DeviceName());
    ASSERT_TRUE(form->serialLink()->portOpen());
    ASSERT_TRUE(peer->Inject("before\n"));
    ASSERT_TRUE(pumpUntil([&] { return tableRows() == 7; }));
    // The overrun arrives together with the next bytes, in one batch.
    ASSERT_TRUE(peer->Deliver("after", 0, trelmo::serial::CE_OVERRUN, 17));
    ASSERT_TRUE(pumpUntil([&] { return tableRows() == 12; }));
    ASSERT_TRUE(peer->Inject(" and more\n"));
    ASSERT_TRUE(pumpUntil([&] { return tableRows() == 22; }));
    const QStringList lines = (&form->receivePath()->pane())->lines();
    int reports = 0;
    for (const QString& line : lines)
        reports += line.contains(QStringLiteral("17 bytes were lost by the serial port"));
    EXPECT_EQ(reports, 1) << lines.join('|').toStdString();
    // A line of its own, told when the line it came in has ended: the received text is
    // neither cut nor glued to the report.
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines.mid(0, 2), QStringList({"before", "after and more"}));
    EXPECT_TRUE(lines[2].startsWith("Receive overrun at ")) << lines[2].toStdString();
    EXPECT_TRUE(lines[2].endsWith("before the program could read them"));
    EXPECT_EQ(lines[3], "");
    EXPECT_EQ((&form->receivePath()->table())->bytes(), QByteArray("before\nafter and more\n"));
    EXPECT_TRUE(dialogs.messages.empty()) << dialogs.texts().join("|").toStdString();
}

// A pty writer that outruns the window is held back, never dropped: more than the serial
// layer's own buffer arrives whole, in order, in the table and the pane.
TEST_F(SerialReceive, BurstLargerThanEveryBufferArrivesWhole) {
    const QByteArray data = numberedLines(3 * 1024 * 1024 + 17, false);
    ASSERT_TRUE(feedHeldBack(pty, data)) << tableRows();
    EXPECT_EQ(form->receivePath()->state().ReceivedCount, data.size());
    EXPECT_TRUE((&form->receivePath()->table())->bytes() == data);
    EXPECT_EQ((&form->receivePath()->pane())->lineCount(), data.count('\n') + 1);
    EXPECT_EQ((&form->receivePath()->pane())->line(1000),
              QString::fromLatin1(data.mid(1000 * 64, 62)) + "<CR>");
    EXPECT_EQ(ui(form).StatusBar1Panel2->text(),
              "Total send:   Total received: " + QString::number(data.size()));
}

// A line that never ends grows block by block without being laid out again: the pane holds
// it whole and the view measures it and reaches its far end.
TEST_F(SerialReceive, UnendingLineIsHeldWholeAndReachable) {
    const QByteArray data = numberedLines(1024 * 1024, true);
    ASSERT_TRUE(feedHeldBack(pty, data)) << tableRows();
    ui(form).Memo_receive->flush();
    ASSERT_EQ((&form->receivePath()->pane())->lineCount(), 1);
    EXPECT_EQ(ui(form).Memo_receive->lineLength(0), data.size());
    EXPECT_GT(ui(form).Memo_receive->contentWidth(), data.size());  // every character has width
    const trelmo::ReceivePaneView::Position end{0, data.size() - 5};
    ui(form).Memo_receive->ensureVisible(end);
    EXPECT_EQ(ui(form).Memo_receive->positionAt(ui(form).Memo_receive->pointOf(end)), end);
    EXPECT_EQ(ui(form).Memo_receive->lineText(0, data.size() - 5),
              QString::fromLatin1(data.right(5)));
}
