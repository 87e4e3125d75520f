// A command file of a million lines and one long last line, opened in the real main window:
// the command list and the file's view hold every line.
#include <QComboBox>
#include <QPlainTextEdit>

#include "tests/common/WindowFixture.h"

using namespace trelmo;

using namespace trelmo::test;

using LargeCommandFile = FilesWindow;

TEST_F(LargeCommandFile, AMillionLinesLoadWhole) {
    QByteArray contents;
    const int lines = 1000000;
    for (int i = 0; i < lines; ++i)
        contents += "cmd" + QByteArray::number(i) + "\r\n";
    contents += QByteArray(100000, 'x');  // one long last line without a break
    dir.write("large.txt", contents);
    dialogs.openAnswers.push_back(dir.path("large.txt"));
    ui(form).BitBtn6->click();
    ASSERT_EQ(ui(form).Edit_send->count(), lines + 1);
    EXPECT_EQ(ui(form).Edit_send->itemText(0), "cmd0");
    EXPECT_EQ(ui(form).Edit_send->itemText(lines - 1), QStringLiteral("cmd%1").arg(lines - 1));
    EXPECT_EQ(ui(form).Edit_send->itemText(lines), QString(100000, 'x'));
    EXPECT_EQ(ui(form).Memo2->blockCount(), lines + 1);
}
