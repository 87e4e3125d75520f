// The receive pane through the real window: the report of bytes lost below the program while a
// line is in progress (never cutting it), the echo of what was sent (Tools → "Echo sent
// commands"), received text as UTF-8 (Tools → "UTF-8 text") and the settings keys of both, and
// the control characters drawn as their pictures.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFile>
#include <QImage>

#include "core/Codec.h"
#include "terminal/control/Captures.h"
#include "tests/common/Captions.h"
#include "tests/common/WindowFixture.h"

using namespace trelmo;
using namespace trelmo::test;
using trelmo::serial::sim::SimPeer;

namespace {

class PaneOptions : public WindowTest {
  protected:
    QAction* action(const char* name) const { return form->findChild<QAction*>(name); }
    ReceivePaneView* view() const { return ui(form).Memo_receive; }
    const PaneModel& model() const { return form->receivePath()->pane(); }
    void connectSim(const QString& name) {
        peer_ = SimPeer::Create(name);
        ASSERT_TRUE(connectSerial(peer_->DeviceName()));
    }
    // Injects and waits until the window has counted every byte injected so far.
    void inject(const QByteArray& bytes) {
        ASSERT_TRUE(peer_->Inject(bytes));
        injected_ += bytes.size();
        ASSERT_TRUE(pumpUntil([&] { return received() == injected_; }));
    }
    // The line of `key` in the [Session] section of the settings file; empty when none.
    QByteArray sessionKey(const QByteArray& key) const {
        bool session = false;
        for (const QByteArray& raw : dir.read("trelmo.ini").split('\n')) {
            const QByteArray line = raw.trimmed();
            if (line.startsWith('['))
                session = line == "[Session]";
            else if (session && line.startsWith(key + '='))
                return line;
        }
        return QByteArray();
    }
    void TearDown() override {
        if (form && form->serialLink()->portOpen())
            ui(form).BitBtn2->click();
        peer_.reset();
        WindowTest::TearDown();
    }
    std::shared_ptr<SimPeer> peer_;
    qint64 injected_ = 0;
};

using SerialPaneOptions = PaneOptions;

// A capture of the pane's viewport.
QImage shot(ReceivePaneView* v) {
    v->flush();
    return v->viewport()->grab().toImage();
}

}  // namespace

// ---- Bytes lost below the program --------------------------------------------------------------

TEST_F(SerialPaneOptions, ALossReportNeverSplitsTheLineInProgress) {
    connectSim("loss-report");
    inject("first\r\nhalf a li");
    // One byte lost while the line is in progress: the report waits for the line's end.
    peer_->RaiseOverrun(1);
    ASSERT_TRUE(pumpUntil([&] { return model().heldLineCount() == 1; }));
    EXPECT_EQ(shownLines(), QStringList({"first<CR>", "half a li"}));
    inject("ne\r\nnext ");
    QStringList lines = shownLines();
    ASSERT_EQ(lines.size(), 4) << lines.join('|').toStdString();
    EXPECT_EQ(lines[1], "half a line<CR>");
    EXPECT_TRUE(lines[2].startsWith("Receive overrun at ")) << lines[2].toStdString();
    EXPECT_TRUE(
        lines[2].endsWith(": 1 byte was lost by the serial port before the program could "
                          "read it"))
        << lines[2].toStdString();
    EXPECT_EQ(lines[3], "next ");
    // Lost together with bytes of the line in progress: several, told in the plural.
    ASSERT_TRUE(peer_->Deliver("more", 0, trelmo::serial::CE_OVERRUN, 17));
    injected_ += 4;
    ASSERT_TRUE(pumpUntil([&] { return received() == injected_; }));
    ASSERT_TRUE(pumpUntil([&] { return model().heldLineCount() == 1; }));
    inject(" text\n");
    lines = shownLines();
    ASSERT_EQ(lines.size(), 5) << lines.join('|').toStdString();
    EXPECT_EQ(lines[3], "next more text");
    EXPECT_TRUE(
        lines[4].endsWith(": 17 bytes were lost by the serial port before the program "
                          "could read them"))
        << lines[4].toStdString();
    // The saved text log has the lines as the pane: the received text whole.
    form->captures()->saveTextLog(dir.path("loss.txt"), CaptureHeader{});
    const QString saved = codec::toUnicode(dir.read("loss.txt"));
    EXPECT_TRUE(saved.contains("half a line<CR>\r\nReceive overrun at ")) << saved.toStdString();
    EXPECT_TRUE(saved.contains("\r\nnext more text\r\nReceive overrun at "));
    // A loss with no line in progress is told at once.
    peer_->RaiseOverrun(2);
    ASSERT_TRUE(pumpUntil([&] { return shownLines().size() == 6; }));
    EXPECT_TRUE(shownLines()[5].contains(": 2 bytes were lost")) << shownLines()[5].toStdString();
    EXPECT_EQ(form->receivePath()->table().bytes(),
              QByteArray("first\r\nhalf a line\r\nnext more text\n"));
}

// ---- Echo of what was sent ---------------------------------------------------------------------

TEST_F(SerialPaneOptions, EchoIsOffAtFirstAndShowsSentBytesOnLinesOfTheirOwn) {
    QAction* echo = action("Action_echo");
    ASSERT_NE(echo, nullptr);
    EXPECT_EQ(echo->parent(), form);
    EXPECT_TRUE(echo->isCheckable());
    EXPECT_FALSE(echo->isChecked());
    EXPECT_EQ(shownCaption(echo->text()), "Echo sent commands");
    EXPECT_TRUE(ui(form).Tools1->actions().contains(echo));

    connectSim("echo");
    ui(form).Combo_eol->setCurrentText("CR");
    // Off: nothing is shown of what is sent.
    send("AT");
    ASSERT_TRUE(pumpUntil([&] { return peer_->Written().size() == 3; }));
    EXPECT_EQ(pane(), "");

    echo->trigger();
    ASSERT_TRUE(form->receivePath()->echo());
    form->captures()->startLog(dir.path("raw.log"), LogMode::Raw);
    send("ATI");
    ASSERT_TRUE(pumpUntil([&] { return peer_->Written() == "AT\rATI\r"; }));
    EXPECT_EQ(shownLines(), QStringList({"> ATI<CR>"}));
    EXPECT_TRUE(model().isSentLine(0));
    inject("Model 7\r\n> ");  // the reply, and a prompt that stays in progress
    send("AT#01");
    ASSERT_TRUE(pumpUntil([&] { return peer_->Written().endsWith("AT\x01\r"); }));
    // The echo waits for the prompt's line to end; the received text stays whole.
    EXPECT_EQ(shownLines(), QStringList({"> ATI<CR>", "Model 7<CR>", "> "}));
    inject("OK\r\n");
    EXPECT_EQ(shownLines(), QStringList({"> ATI<CR>", "Model 7<CR>", "> OK<CR>", "> AT<SOH><CR>"}));
    EXPECT_FALSE(model().isSentLine(2));
    EXPECT_TRUE(model().isSentLine(3));
    // Hex mode: the serial link's hex, every byte.
    ui(form).Check_hex->setChecked(true);
    send("A#0A");
    ASSERT_TRUE(pumpUntil([&] { return shownLines().size() == 5; }));
    EXPECT_EQ(shownLines()[4], "> 0x41 0x0A 0x0D ");

    // Not received: not counted, not in the table, not in the check sum or the raw log.
    EXPECT_EQ(received(), injected_);
    expectCountsAgree();
    EXPECT_EQ(form->receivePath()->table().bytes(), QByteArray("Model 7\r\n> OK\r\n"));
    EXPECT_EQ(form->receivePath()->state().CheckSum, 0);  // reset by the last send
    EXPECT_EQ(ui(form).lab_crc->text(), "CRC: 0x00");
    form->captures()->stopLog();
    EXPECT_EQ(dir.read("raw.log"), QByteArray("Model 7\r\n> OK\r\n"));
}

// Drawn in a colour of its own: the echo line's ink is not the received line's. (Not a Serial
// suite: it shows the window, whose threads ThreadSanitizer cannot see into.)
TEST_F(PaneOptions, EchoLinesHaveAColourOfTheirOwn) {
    action("Action_echo")->setChecked(true);
    ReceivePath& receive = *form->receivePath();
    receive.showSent("ATI\r", LinkPolicy::serial());
    receive.showReceived("Model 7\r\n", LinkPolicy::serial());
    ASSERT_EQ(shownLines(), QStringList({"> ATI<CR>", "Model 7<CR>"}));
    form->show();
    ASSERT_TRUE(pumpUntil([&] { return view()->isVisible(); }));
    const QImage image = shot(view());
    const QColor sent = ReceivePaneView::sentColor();
    auto inkOfLine = [&](int line, bool sentInk) {
        const QPoint at = view()->pointOf({line, 0});
        int n = 0;
        for (int y = at.y() - 6; y <= at.y() + 6; ++y)
            for (int x = 0; x < 150; ++x) {
                const QColor c = image.pixelColor(x, y);
                const bool bluish = c.blue() > c.red() + 40 && c.blue() > 60;
                n += sentInk ? bluish : (c.lightness() < 100 && !bluish);
            }
        return n;
    };
    EXPECT_GT(sent.blue(), sent.red() + 40);
    EXPECT_GT(inkOfLine(0, true), 5);  // "> ATI<CR>" in the echo's colour
    EXPECT_EQ(inkOfLine(1, true), 0);  // "Model 7<CR>" without it
    EXPECT_GT(inkOfLine(1, false), 5);
}

TEST_F(PaneOptions, TheTextLogHasTheEchoLinesAndTheSettingsKeepTheEcho) {
    ASSERT_TRUE(connectTcp());
    form->captures()->startLog(dir.path("text.log"), LogMode::Text);
    action("Action_echo")->setChecked(true);
    ASSERT_TRUE(receiveTcp("line 1\r\npartial"));
    send("hello#0D");
    ASSERT_TRUE(pumpUntil([&] { return peerReceived() == "hello\r"; }));
    ASSERT_TRUE(receiveTcp(" end\n"));
    form->captures()->stopLog();
    EXPECT_EQ(dir.read("text.log"), QByteArray("line 1<CR>\r\npartial end\r\n> hello<CR>\r\n"));
    // (After the link's own messages.)
    EXPECT_EQ(shownLines().mid(shownLines().size() - 3),
              QStringList({"line 1<CR>", "partial end", "> hello<CR>"}));

    // Saved only once set: written, read back, kept when turned off again.
    EXPECT_EQ(sessionKey("EchoSent"), QByteArray());
    quit();
    EXPECT_EQ(sessionKey("EchoSent"), "EchoSent=1");
    start();
    EXPECT_TRUE(action("Action_echo")->isChecked());
    EXPECT_TRUE(form->receivePath()->echo());
    action("Action_echo")->setChecked(false);
    quit();
    EXPECT_EQ(sessionKey("EchoSent"), "EchoSent=0");
}

// ---- UTF-8 -------------------------------------------------------------------------------------

TEST_F(SerialPaneOptions, Utf8TextIsOffAtFirstAndShowsThePaneAnewAtOnce) {
    QAction* utf8 = action("Action_utf8");
    ASSERT_NE(utf8, nullptr);
    EXPECT_EQ(utf8->parent(), form);
    EXPECT_TRUE(utf8->isCheckable());
    EXPECT_FALSE(utf8->isChecked());
    EXPECT_EQ(shownCaption(utf8->text()), "UTF-8 text");
    EXPECT_TRUE(ui(form).Tools1->actions().contains(utf8));

    connectSim("utf8");
    inject("na\xC3\xAFve \xE2\x82");  // a character split across two blocks
    inject("\xAC\r\n\xE6\x97\xA5\xE6\x9C\xAC");
    const QString codePage = codec::toUnicode("na\xC3\xAFve \xE2\x82\xAC") + "<CR>\n" +
                             codec::toUnicode("\xE6\x97\xA5\xE6\x9C\xAC");
    EXPECT_EQ(pane(), codePage);

    view()->flush();
    utf8->trigger();
    EXPECT_TRUE(form->receivePath()->utf8());
    EXPECT_FALSE(view()->hasPending());  // drawn again at once
    EXPECT_EQ(pane(), QString::fromUtf8("na\u00efve \u20ac<CR>\n\u65e5\u672c"));
    EXPECT_EQ(view()->lineLength(0), 11);
    // Copies carry the characters.
    view()->selectAll();
    view()->copy();
    EXPECT_EQ(QGuiApplication::clipboard()->text(),
              QString::fromUtf8("na\u00efve \u20ac<CR>\n\u65e5\u672c"));
    // So does the saved text log, in UTF-8.
    form->captures()->saveTextLog(dir.path("utf8.txt"), CaptureHeader{});
    EXPECT_TRUE(dir.read("utf8.txt")
                    .contains("na\xC3\xAFve \xE2\x82\xAC<CR>\r\n\xE6\x97\xA5\xE6\x9C\xAC\r\n"));
    // The bytes are kept as they came.
    EXPECT_EQ(form->receivePath()->table().bytes(),
              QByteArray("na\xC3\xAFve \xE2\x82\xAC\r\n\xE6\x97\xA5\xE6\x9C\xAC"));
    utf8->trigger();
    EXPECT_EQ(pane(), codePage);

    // Saved once set, and read back.
    utf8->setChecked(true);
    ui(form).BitBtn2->click();
    quit();
    EXPECT_EQ(sessionKey("Utf8"), "Utf8=1");
    EXPECT_EQ(sessionKey("EchoSent"), QByteArray()) << "options never set are not written";
    start();
    EXPECT_TRUE(action("Action_utf8")->isChecked());
    EXPECT_TRUE(form->receivePath()->utf8());
}

// ---- Control pictures --------------------------------------------------------------------------

TEST_F(PaneOptions, ControlCharactersAreDrawnAsDimmerPicturesAndCopiedAsThemselves) {
    form->show();
    ASSERT_TRUE(pumpUntil([&] { return view()->isVisible(); }));
    // An escape sequence, a bell, a form feed and DEL, as a link shows them.
    const QByteArray bytes("x\x1B[1m\x07\x0C\x7Fy\r\n", 11);
    form->receivePath()->showReceived(bytes, LinkPolicy::tcpClient());
    const QImage drawn = shot(view());
    const int h = QFontMetrics(view()->viewport()->font()).height();
    // The pixels of column `column` of the first line, and the darkest of them.
    auto cell = [&](qsizetype column) {
        const QPoint from = view()->pointOf({0, column});
        const QPoint to = view()->pointOf({0, column + 1});
        return QRect(from.x(), from.y() - h / 2, to.x() - from.x(), h);
    };
    auto darkest = [&](const QRect& area) {
        int least = 255;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                least = std::min(least, drawn.pixelColor(x, y).lightness());
        return least;
    };
    const int text = std::min(darkest(cell(0)), darkest(cell(8)));  // "x" and "y"
    ASSERT_LT(text, 100);
    // ESC (1), BEL (5), FF (6) and DEL (7): each drawn (no blank), lighter than the text, and
    // each unlike the others (a picture of its own, not one box for all).
    const qsizetype controls[] = {1, 5, 6, 7};
    QList<QImage> cells;
    for (qsizetype column : controls) {
        SCOPED_TRACE(column);
        const QRect area = cell(column);
        EXPECT_GT(area.width(), 2);
        const int ink = darkest(area);
        EXPECT_LT(ink, 230) << "the picture is drawn";
        EXPECT_GT(ink, text + 40) << "dimmer than the text";
        cells.append(drawn.copy(area));
    }
    for (qsizetype i = 0; i < cells.size(); ++i)
        for (qsizetype j = i + 1; j < cells.size(); ++j)
            EXPECT_NE(cells[i], cells[j]) << i << " " << j;
    // The letters and names around them are drawn as ever: "[1m" right after ESC's picture.
    EXPECT_EQ(view()->lineText(0, 2, 3), "[1m");
    EXPECT_LT(darkest(cell(2)), 100);

    // Copies and plainText keep the real characters.
    EXPECT_EQ(pane(), QString::fromLatin1("x\x1B[1m\x07\x0C\x7Fy<CR>\n", 14));
    view()->selectAll();
    view()->copy();
    EXPECT_EQ(QGuiApplication::clipboard()->text(),
              QString::fromLatin1("x\x1B[1m\x07\x0C\x7Fy<CR>\n", 14));
    // So does the saved text log.
    form->captures()->saveTextLog(dir.path("controls.txt"), CaptureHeader{});
    EXPECT_TRUE(dir.read("controls.txt").contains(QByteArray("x\x1B[1m\x07\x0C\x7Fy<CR>\r\n", 14)));
}
