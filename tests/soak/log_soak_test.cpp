// The log to file under a long feed through the real window on a pseudo-terminal: the raw log
// of 16 MiB is byte-identical to the feed, and the text log of a few MiB holds exactly the
// pane's lines.
#include <gtest/gtest.h>

#include <QAction>
#include <QFile>
#include <QRandomGenerator>

#include "core/Codec.h"
#include "core/capture/LogWriter.h"
#include "tests/common/WindowFixture.h"

using namespace trelmo;
using namespace trelmo::test;

namespace {

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class SerialLogSoak : public PtyWindow {
  protected:
    void logTo(const QString& path, LogMode mode) {
        dialogs.saveChoiceAnswers.push_back(SaveChoice{path, mode == LogMode::Text ? 1 : 0});
        form->findChild<QAction*>(QStringLiteral("Action_log"))->trigger();
        ASSERT_TRUE(form->captures()->logging());
    }
    void stop() {
        form->findChild<QAction*>(QStringLiteral("Action_log"))->trigger();
        ASSERT_FALSE(form->captures()->logging());
    }
};

}  // namespace

TEST_F(SerialLogSoak, SixteenMebibytesLoggedRawAreByteIdentical) {
    logTo(dir.path("big.log"), LogMode::Raw);
    QRandomGenerator gen(31);
    QByteArray data(16 * 1024 * 1024, Qt::Uninitialized);
    for (char& c : data)
        c = static_cast<char>(gen.bounded(256));
    ASSERT_TRUE(feedHeldBack(pty, data, 600000));
    stop();
    const QByteArray log = fileBytes(dir.path("big.log"));
    ASSERT_EQ(log.size(), data.size());
    EXPECT_TRUE(log == data);
    EXPECT_TRUE(dialogs.texts().isEmpty()) << dialogs.texts().join('|').toStdString();
}

TEST_F(SerialLogSoak, ATextLogHoldsThePanesLines) {
    logTo(dir.path("lines.log"), LogMode::Text);
    // Lines of text with control bytes, half of them shown in hex.
    const QByteArray text = numberedLines(2 * 1024 * 1024) + "\x01\x02 tail";
    ASSERT_TRUE(feedHeldBack(pty, text.left(text.size() / 2), 600000));
    ui(form).Check_hex->setChecked(true);
    ASSERT_TRUE(feedHeldBack(pty, text.mid(text.size() / 2), 600000));
    ASSERT_TRUE(pumpUntil([&] { return tableRows() == text.size(); }, 60000));
    stop();
    const QByteArray log = fileBytes(dir.path("lines.log"));
    ASSERT_TRUE(log.endsWith("\r\n"));
    const QStringList logged = codec::toUnicode(log.chopped(2)).split(QStringLiteral("\r\n"));
    const QStringList pane = shownLines();
    ASSERT_EQ(logged.size(), pane.size());
    EXPECT_TRUE(logged == pane);
    EXPECT_TRUE(logged.last().endsWith("0x01 0x02 0x20 0x74 0x61 0x69 0x6C "))
        << logged.last().toStdString();
}
