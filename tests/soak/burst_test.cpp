// Long feeds through the real window on a pseudo-terminal: a 16 MiB burst from a writer that
// outruns the window arrives whole (count, table rows, every byte, the last cell), in text
// and in hex mode.
#include <QCheckBox>

#include "tests/common/WindowFixture.h"

using namespace trelmo;

using namespace trelmo::test;

namespace {

class Burst : public PtyWindow, public ::testing::WithParamInterface<bool> {};

}  // namespace

TEST_P(Burst, SixteenMebibytesArriveWhole) {
    const bool hex = GetParam();
    ui(form).Check_hex->setChecked(hex);
    const QByteArray data = numberedLines(16 * 1024 * 1024);
    ASSERT_TRUE(feedHeldBack(pty, data, 600000)) << tableRows();
    EXPECT_EQ(form->receivePath()->state().ReceivedCount, data.size());
    EXPECT_EQ((&form->receivePath()->table())->gridRowCount(), data.size() + 2);
    EXPECT_TRUE((&form->receivePath()->table())->bytes() == data);
    EXPECT_EQ((&form->receivePath()->table())->gridCell(2, static_cast<int>(data.size())),
              QStringLiteral("0x0A"));
    EXPECT_EQ((&form->receivePath()->pane())->lineCount(), data.count('\n') + 1);
    EXPECT_TRUE(dialogs.messages.empty()) << dialogs.texts().join("|").toStdString();
}

INSTANTIATE_TEST_SUITE_P(TextAndHex, Burst, ::testing::Bool());
