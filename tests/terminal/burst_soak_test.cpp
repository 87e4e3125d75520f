// Long feeds through the real window on a pseudo-terminal: a 16 MiB burst from a writer that
// outruns the window arrives whole (count, table rows, every byte, the last cell), in text
// and in hex mode.
#include <QCheckBox>
#include <atomic>
#include <thread>

#include "tests/terminal/serialterm_fixture.h"

using namespace trelmo::test;

namespace {

class Burst : public SerialTerm, public ::testing::WithParamInterface<bool> {
  protected:
    void SetUp() override {
        ASSERT_TRUE(pty.Ok());
        typeInto(form->Combo_parity, "None");
        connectTo(pty.SlavePath());
        ASSERT_TRUE(form->PortOpen);
    }
    PtyPair pty;
};

QByteArray numberedLines(qsizetype size) {
    QByteArray out;
    out.reserve(size);
    for (qsizetype i = 0; out.size() < size; ++i) {
        QByteArray line = QByteArray::number(i).rightJustified(8, '0') + ' ';
        for (int k = 0; line.size() < 62; ++k)
            line.append(static_cast<char>(0x21 + (i + k) % 94));
        out.append(line).append("\r\n");
    }
    out.truncate(size);
    return out;
}

}  // namespace

TEST_P(Burst, SixteenMebibytesArriveWhole) {
    const bool hex = GetParam();
    form->Check_hex->setChecked(hex);
    const QByteArray data = numberedLines(16 * 1024 * 1024);
    std::atomic<bool> stalled{false};
    bool wrote = false;
    std::thread writer([&] { wrote = pty.WriteHeldBack(data, stalled); });
    const bool all = pumpUntil([&] { return received() >= data.size(); }, 600000);
    writer.join();
    ASSERT_TRUE(wrote);
    ASSERT_TRUE(all) << received();
    EXPECT_EQ(form->Recv.ReceivedCount, data.size());
    EXPECT_EQ(form->Table->gridRowCount(), data.size() + 2);
    EXPECT_TRUE(form->Table->bytes() == data);
    EXPECT_EQ(form->Table->gridCell(2, static_cast<int>(data.size())), QStringLiteral("0x0A"));
    EXPECT_EQ(form->Pane->lineCount(), data.count('\n') + 1);
    EXPECT_TRUE(rec.messages.empty()) << rec.texts().join("|").toStdString();
}

INSTANTIATE_TEST_SUITE_P(TextAndHex, Burst, ::testing::Bool());
