// Clearing, saving and printing the capture through the real main window: the text log and
// the BIN file byte for byte, the messages of failed saves, the shared save dialog's name,
// and the printout placed on a PDF printer.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <functional>

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QFont>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QStatusBar>
#include <QToolButton>

#include "tests/common/CaptureSamples.h"
#include "tests/common/PdfWords.h"
#include "tests/common/WindowFixture.h"

using namespace trelmo;
using namespace trelmo::test;

namespace {

// The files in the folder other than the settings file.
QStringList writtenFiles(const TempDir& dir) {
    QStringList files = QDir(dir.root()).entryList(QDir::Files);
    files.removeAll(QStringLiteral("trelmo.ini"));
    return files;
}

class CaptureFiles : public FilesWindow {
  protected:
    void SetUp() override {
        FilesWindow::SetUp();
        chooseSettings("COM7", "19200", "8", "Even", "2");
    }
    QByteArray headerBytes() const {
        return ("Date: " + ui(form).Label_Date->text() + "    Time: " +
                ui(form).Label_Time->text() + "\r\nSettings: COM7, 19200, 8, Even\r\n")
            .toLatin1();
    }
    void saveTextLogTo(const QString& path) {
        dialogs.saveAnswers.push_back(path);
        ui(form).BitBtn7->click();
    }
    void saveBinTo(const QString& path) {
        dialogs.saveAnswers.push_back(path);
        ui(form).SaveinBIN1->trigger();
    }
};

}  // namespace

TEST_F(CaptureFiles, ClearEmptiesTheCaptureButKeepsTheSumAndTheSentCount) {
    ASSERT_TRUE(connectTcp());
    send("abcd");  // before the bytes arrive: a send starts the sum again
    ASSERT_TRUE(receiveTcp("AB\ncd"));
    ui(form).StatusBar1Panel1->setText("Last byte parity: 1");
    const uint8_t sum = form->receivePath()->state().CheckSum;
    ASSERT_EQ(sum, uint8_t('A' + 'B' + '\n' + 'c' + 'd'));
    ASSERT_TRUE(pumpUntil([&] { return !ui(form).Memo_receive->toPlainText().isEmpty(); }));

    ui(form).Butt_Clear->click();
    EXPECT_TRUE(pumpUntil([&] { return ui(form).Memo_receive->toPlainText().isEmpty(); }));
    EXPECT_EQ((&form->receivePath()->pane())->lineCount(), 0);
    EXPECT_EQ(form->receivePath()->state().LineIndex, 0);
    EXPECT_EQ(form->receivePath()->state().ReceivedCount, 0);
    EXPECT_EQ(form->receivePath()->state().CheckSum, sum);
    EXPECT_EQ((&form->receivePath()->table())->gridRowCount(), 2);
    EXPECT_EQ((&form->receivePath()->table())->rowCount(), 1);
    for (int c = 0; c < 5; ++c)
        EXPECT_EQ((&form->receivePath()->table())->gridCell(c, 1), "");
    EXPECT_EQ(ui(form).StatusBar1Panel1->text(), "");
    EXPECT_EQ(ui(form).Label_rec->text(), "Total received: 0");
    EXPECT_EQ(ui(form).StatusBar1Panel2->text(), "Total send: 4   Total received: 0");
    EXPECT_EQ(ui(form).Label_send->text(), "Total send: 4");

    // Received bytes after a clear count from 1 again; the pop-up item clears as well.
    ASSERT_TRUE(receiveTcp("Z"));
    EXPECT_EQ((&form->receivePath()->table())->gridCell(0, 1), "1");
    EXPECT_EQ((&form->receivePath()->table())->gridCell(1, 1), "Z");
    ui(form).Clear1->trigger();
    EXPECT_EQ(form->receivePath()->state().ReceivedCount, 0);
    EXPECT_EQ((&form->receivePath()->table())->gridRowCount(), 2);
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(CaptureFiles, TextLogOfATcpCaptureByteForByte) {
    ASSERT_TRUE(connectTcp());
    ui(form).Butt_Clear->click();  // the connection's own lines
    ASSERT_TRUE(receiveTcp("A"));
    ASSERT_TRUE(receiveTcp("B"));
    ASSERT_EQ((&form->receivePath()->pane())->lines(), QStringList{"AB"});

    saveTextLogTo(dir.path("log1.txt"));
    EXPECT_TRUE(dialogs.messages.empty()) << dialogs.lastText().toStdString();
    const QByteArray expected = headerBytes() + "AB\r\n" + kHeading + kRule +
                                "1\t|\tA\t|\t0x41\t|\t65\t|\t\t|\t\r\n" + kRule +
                                "2\t|\tB\t|\t0x42\t|\t66\t|\t\t|\t\r\n" + kRule + kEmptyRow + kRule;
    EXPECT_EQ(dir.read("log1.txt"), expected);
    EXPECT_EQ(ui(form).Memo1->toPlainText(), "");

    // The menu item and the pop-up item write the same file.
    dialogs.saveAnswers.push_back(dir.path("log2.txt"));
    ui(form).Save1->trigger();
    dialogs.saveAnswers.push_back(dir.path("log3.txt"));
    ui(form).Save2->trigger();
    EXPECT_EQ(dir.read("log2.txt"), expected);
    EXPECT_EQ(dir.read("log3.txt"), expected);
}

TEST_F(CaptureFiles, ReceivedTabAndNamedBytesInTheLog) {
    ASSERT_TRUE(connectTcp());
    ASSERT_TRUE(receiveTcp(QByteArray("\t\r", 2)));
    saveTextLogTo(dir.path("tab.txt"));
    const QByteArray log = dir.read("tab.txt");
    // The TAB cell is followed by "|" TAB only, so no TAB is doubled.
    EXPECT_TRUE(log.contains("\r\n1\t|\t\t|\t0x09\t|\t9\t|\t\t|\t\r\n" + kRule))
        << log.toStdString();
    EXPECT_FALSE(log.contains("\t\t\t|"));
    EXPECT_TRUE(log.contains("\r\n2\t|\t<CR>\t|\t0x0D\t|\t13\t|\t\t|\t\r\n" + kRule));
    EXPECT_TRUE(log.endsWith(kEmptyRow + kRule));
}

TEST_F(CaptureFiles, HexModeLogEndsWithThePaneLines) {
    ui(form).Check_hex->setChecked(true);
    ASSERT_TRUE(connectTcp());
    ASSERT_TRUE(receiveTcp("A\nB"));
    const QStringList lines = (&form->receivePath()->pane())->lines();
    ASSERT_GE(lines.size(), 2);
    saveTextLogTo(dir.path("hex.txt"));
    QByteArray expected = headerBytes();
    for (const QString& line : lines)
        expected += line.toLatin1() + "\r\n";
    EXPECT_EQ(dir.read("hex.txt"), expected);
    EXPECT_FALSE(dir.read("hex.txt").contains("No.\t|"));
}

TEST_F(CaptureFiles, ClearThenSaveWritesTheHeaderAndTheEmptyTable) {
    ASSERT_TRUE(connectTcp());
    ASSERT_TRUE(receiveTcp("hello\n"));
    ui(form).Butt_Clear->click();
    saveTextLogTo(dir.path("cleared.txt"));
    EXPECT_EQ(dir.read("cleared.txt"), headerBytes() + kHeading + kRule + kEmptyRow + kRule);

    // Nothing received since the clear: the BIN save writes nothing at all.
    dir.write("old.bin", "old contents");
    saveBinTo(dir.path("old.bin"));
    saveBinTo(dir.path("new.bin"));
    EXPECT_EQ(dir.read("old.bin"), "old contents");
    EXPECT_FALSE(dir.exists("new.bin"));
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(CaptureFiles, BinFileHoldsEightDigitsPerByte) {
    ASSERT_TRUE(connectTcp());
    ASSERT_TRUE(receiveTcp(QByteArray("\x41\x0D", 2)));
    saveBinTo(dir.path("a.bin"));
    EXPECT_EQ(dir.read("a.bin"), headerBytes() + "0100000100001101\r\n");

    ASSERT_TRUE(receiveTcp(QByteArray("\xFF\x00\x5A", 3)));
    dialogs.saveAnswers.push_back(dir.path("b.bin"));
    ui(form).SaveinBIN1->trigger();
    EXPECT_EQ(dir.read("b.bin"),
              headerBytes() + "0100000100001101" + "11111111" + "00000000" + "01011010\r\n");
    dialogs.saveAnswers.push_back(dir.path("c.bin"));
    ui(form).SaveinBIN2->trigger();
    EXPECT_EQ(dir.read("c.bin"), dir.read("b.bin"));
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(CaptureFiles, CancelledOrPlaceholderNamesWriteNothing) {
    ASSERT_TRUE(connectTcp());
    ASSERT_TRUE(receiveTcp("x"));
    const QString cwd = QDir::currentPath();
    QDir::setCurrent(dir.root());
    dialogs.saveAnswers = {std::nullopt, QString(), QStringLiteral("*.txt")};
    ui(form).BitBtn7->click();
    ui(form).BitBtn7->click();
    ui(form).BitBtn7->click();
    dialogs.saveAnswers = {std::nullopt, QString(), QStringLiteral("*.txt")};
    ui(form).SaveinBIN1->trigger();
    ui(form).SaveinBIN1->trigger();
    ui(form).SaveinBIN1->trigger();
    QDir::setCurrent(cwd);
    EXPECT_EQ(dialogs.saveRequests.size(), 6u);
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(writtenFiles(dir), QStringList{});
}

namespace {

// A file that cannot be replaced, with the contents it has. Not root: a file in a folder
// without write permission; root: a file of the read-only /proc file system.
struct LockedFile {
    QString path;
    QByteArray contents;
};

LockedFile lockedFile(const TempDir& dir) {
    if (geteuid() != 0) {
        QDir(dir.root()).mkdir("locked");
        dir.write("locked/old.txt", "old log\r\n");
        ::chmod(QFile::encodeName(dir.path("locked")).constData(), 0555);
        return {dir.path("locked/old.txt"), "old log\r\n"};
    }
    QFile version("/proc/version");
    version.open(QIODevice::ReadOnly);
    return {"/proc/version", version.readAll()};
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

TEST_F(CaptureFiles, UnwritableTargetsAreReportedAndLeftAlone) {
    ASSERT_TRUE(connectTcp());
    ASSERT_TRUE(receiveTcp("AB"));
    const LockedFile locked = lockedFile(dir);
    ASSERT_FALSE(locked.contents.isEmpty());

    saveTextLogTo(locked.path);
    EXPECT_EQ(dialogs.texts(), QStringList{"Exception - unsuccesfull save!"});
    EXPECT_EQ(readFile(locked.path), locked.contents);

    dialogs.clear();
    saveBinTo(locked.path);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    const QString binText = dialogs.lastText();
    EXPECT_TRUE(binText.startsWith("Error saving in bin, exception - ")) << binText.toStdString();
    EXPECT_GT(binText.size(), QString("Error saving in bin, exception - ").size());
    EXPECT_EQ(readFile(locked.path), locked.contents);

    dialogs.clear();
    ui(form).Edit_send->addItems({"AT", "#01"});
    dialogs.saveAnswers.push_back(locked.path);
    ui(form).Savecommands1->trigger();
    EXPECT_EQ(dialogs.texts(), QStringList{"Commands not saved, not permission"});
    EXPECT_EQ(readFile(locked.path), locked.contents);

    if (geteuid() != 0)
        ::chmod(QFile::encodeName(dir.path("locked")).constData(), 0755);
}

TEST_F(CaptureFiles, ASaveDialogThatCannotBeShownIsReported) {
    for (QAction* save : {ui(form).Save1, ui(form).Savecommands1}) {
        dialogs.clear();
        dialogs.failNextSave = true;
        save->trigger();
        ASSERT_EQ(dialogs.messages.size(), 1u);
        const MessageRequest& box = dialogs.messages.front();
        EXPECT_EQ(box.text, "File cannot be written or open!\nContact administrator.");
        EXPECT_EQ(box.title, "Error saving file");
        EXPECT_EQ(box.icon, MsgIcon::Error);
    }
    EXPECT_EQ(writtenFiles(dir), QStringList{});
}

TEST_F(CaptureFiles, TheSaveDialogOffersTheLastChosenName) {
    ASSERT_TRUE(connectTcp());
    ASSERT_TRUE(receiveTcp("q"));
    ui(form).Edit_send->addItem("AT");

    saveTextLogTo(dir.path("first.txt"));
    saveBinTo(dir.path("second.txt"));
    dialogs.saveAnswers.push_back(std::nullopt);  // a cancel keeps the name
    ui(form).Savecommands1->trigger();
    dialogs.saveAnswers.push_back(dir.path("third.txt"));
    ui(form).Savecommands1->trigger();
    saveTextLogTo(dir.path("fourth.txt"));

    ASSERT_EQ(dialogs.saveRequests.size(), 5u);
    const QStringList offered = {"log.txt", dir.path("first.txt"), dir.path("second.txt"),
                                 dir.path("second.txt"), dir.path("third.txt")};
    for (size_t i = 0; i < 5; ++i) {
        const FileDialogRequest& r = dialogs.saveRequests[i];
        EXPECT_EQ(r.fileName, offered[int(i)]) << i;
        EXPECT_EQ(r.title, "Save Log file");
        EXPECT_EQ(r.defaultExtension, "txt");
        ASSERT_EQ(r.filters.size(), 1);
        EXPECT_EQ(r.filters[0].first, "txt");
        EXPECT_EQ(r.filters[0].second, "*.txt");
        EXPECT_EQ(r.owner, form);
    }
    for (const char* name : {"first.txt", "second.txt", "third.txt", "fourth.txt"})
        EXPECT_TRUE(dir.exists(name)) << name;
    EXPECT_EQ(dir.read("third.txt"), "AT\r\n");
}

TEST_F(CaptureFiles, PrintoutOf120CharactersOnAPdfPrinter) {
    if (!havePdfToText())
        GTEST_SKIP() << "pdftotext is not installed";
    ASSERT_TRUE(connectTcp());
    QByteArray data = QByteArray(50, 'a') + QByteArray(50, 'b') + QByteArray(20, 'c');
    ASSERT_TRUE(receiveTcp(data));

    // A cancelled print dialog prints nothing.
    ui(form).Print1->trigger();
    EXPECT_EQ(dialogs.printDialogs, 1);

    dialogs.printToPdf = dir.path("capture.pdf");
    ui(form).Butt_print->click();
    EXPECT_EQ(dialogs.printDialogs, 2);
    ASSERT_TRUE(dir.exists("capture.pdf"));

    // The device origin of the same printer: the top left corner of its printable area.
    QPrinter reference(QPrinter::HighResolution);
    reference.setOutputFormat(QPrinter::PdfFormat);
    const double dpi = reference.resolution();
    const QPoint origin = reference.pageLayout().paintRectPixels(reference.resolution()).topLeft();
    const auto deviceY = [&](double points) { return points * dpi / 72.0 - origin.y(); };
    const auto deviceX = [&](double points) { return points * dpi / 72.0 - origin.x(); };
    // Lines go down 100 units, or the line spacing of the application's font at the
    // printer's resolution when that is taller.
    const int step =
        std::max(100, int(std::ceil(QFontMetricsF(QFont(), &reference).lineSpacing())));

    const QList<PdfWord> words = pdfWords(dir.path("capture.pdf"), dir.path("capture.html"));
    ASSERT_FALSE(words.isEmpty());
    const auto find = [&](const QString& text) { return findPdfWord(words, text); };
    const struct {
        QString text;
        int y;
    } expected[] = {{"COM7,", 200},
                    {QString(50, 'a'), 200 + step},
                    {QString(50, 'b'), 200 + 2 * step},
                    {QString(20, 'c'), 200 + 4 * step},
                    {ui(form).Label_Date->text().section(' ', -1), 200}};
    for (const auto& e : expected) {
        const PdfWord* w = find(e.text);
        ASSERT_NE(w, nullptr) << e.text.toStdString();
        // The top of a word's box is its y, give or take the font's inner leading.
        EXPECT_NEAR(deviceY(w->yMin), e.y, 25) << e.text.toStdString();
    }
    EXPECT_NEAR(deviceX(find("COM7,")->xMin), 200, 10);
    EXPECT_NEAR(deviceX(find(QString(20, 'c'))->xMin), 200, 10);
    EXPECT_NE(find("Speed"), nullptr);
    EXPECT_NE(find("19200,"), nullptr);
    EXPECT_TRUE(dialogs.messages.empty());
}

namespace {

// Whether two word boxes share any area (a touch is not an overlap).
bool overlap(const PdfWord& a, const PdfWord& b) {
    constexpr double kSlack = 0.05;  // points: rounding in the PDF and in pdftotext
    return a.xMin < b.xMax - kSlack && b.xMin < a.xMax - kSlack && a.yMin < b.yMax - kSlack &&
           b.yMin < a.yMax - kSlack;
}

}  // namespace

TEST_F(CaptureFiles, PrintoutOfTenThousandBytesIsReadableOnEveryPage) {
    if (!havePdfToText())
        GTEST_SKIP() << "pdftotext is not installed";
    ASSERT_TRUE(connectTcp());
    // Letters, digits and bytes the table names ("<NUL>", "<CR>", ...): no blank, and no "f"
    // (a font may print "fi" as one glyph).
    QByteArray pool = "ABCDEGHIJKLMNOPQRSTUVWXYZabcdeghijklmnopqrstuvwxyz0123456789";
    pool += QByteArray("\x00\x01\x02\x03\x04\x05\x06\r\n", 9);
    QByteArray data;
    for (int i = 0; i < 10000; ++i)
        data += pool[(i * 7) % pool.size()];
    ASSERT_TRUE(receiveTcp(data));
    const ByteTableModel& table = form->receivePath()->table();
    ASSERT_EQ(table.gridRowCount(), 10002);
    QString cells;
    for (int r = 1; r <= 10000; ++r)
        cells += table.gridCell(1, r);

    dialogs.printToPdf = dir.path("capture.pdf");
    ui(form).Butt_print->click();
    ASSERT_EQ(dialogs.printDialogs, 1);
    EXPECT_TRUE(dialogs.messages.empty());
    const QList<PdfPage> pages = pdfPages(dir.path("capture.pdf"), dir.path("capture.html"));
    ASSERT_GE(pages.size(), 2);

    const QString headerText =
        "COM7, Speed = 19200, Data bits = 8, Parity = Even, Stop bits = 2, "
        "Time&Date: " +
        ui(form).Label_Time->text() + "  " + ui(form).Label_Date->text();
    const QStringList headerWords = headerText.split(' ', Qt::SkipEmptyParts);
    QString printed;
    for (qsizetype p = 0; p < pages.size(); ++p) {
        SCOPED_TRACE(testing::Message() << "page " << p + 1);
        const PdfPage& page = pages[p];
        ASSERT_GT(page.words.size(), headerWords.size());
        // The header first on every page, then the cells.
        for (qsizetype i = 0; i < headerWords.size(); ++i)
            EXPECT_EQ(page.words[i].text, headerWords[i]) << i;
        for (qsizetype i = headerWords.size(); i < page.words.size(); ++i)
            printed += page.words[i].text;
        // Every word inside the page, no word over another.
        for (qsizetype i = 0; i < page.words.size(); ++i) {
            const PdfWord& w = page.words[i];
            EXPECT_GE(w.xMin, 0) << w.text.toStdString();
            EXPECT_GE(w.yMin, 0) << w.text.toStdString();
            EXPECT_LE(w.xMax, page.width) << w.text.toStdString();
            EXPECT_LE(w.yMax, page.height) << w.text.toStdString();
            for (qsizetype j = i + 1; j < page.words.size(); ++j)
                EXPECT_FALSE(overlap(w, page.words[j]))
                    << w.text.toStdString() << " / " << page.words[j].text.toStdString();
        }
    }
    // Every cell, in order.
    EXPECT_EQ(printed.size(), cells.size());
    EXPECT_EQ(printed, cells);
}
