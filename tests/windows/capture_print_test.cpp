// The printout: where the header and the data lines go, on pages of given metrics, on a
// recording device and on a real printer writing a PDF file.
#include <gtest/gtest.h>

#include <algorithm>

#include <QFont>
#include <QFontMetricsF>
#include <QPaintEngine>
#include <QPainter>
#include <QPrinter>

#include "terminal/Printout.h"
#include "tests/common/CaptureSamples.h"
#include "tests/common/PdfWords.h"
#include "tests/common/TempDir.h"

using namespace trelmo;

namespace {

// ASCII cells only: the printout reads nothing else.
class AsciiTable : public CaptureTableSource {
  public:
    explicit AsciiTable(QStringList cells) : cells_(std::move(cells)) {}
    qsizetype gridRowCount() const override { return cells_.size() + 2; }
    QString cellText(int column, qsizetype row) const override {
        if (row == 0 || row > cells_.size())
            return {};
        return column == 1 ? cells_.at(row - 1) : QStringLiteral("col%1").arg(column);
    }

  private:
    QStringList cells_;
};

// n cells: "a" for rows 1-50, "b" for 51-100, "c" for 101-150 ...
QStringList lettered(int n) {
    QStringList cells;
    for (int r = 1; r <= n; ++r)
        cells.append(QString(QChar('a' + (r - 1) / 50)));
    return cells;
}

// A page as large as the recording device's, in a font whose lines fit the least step and
// whose characters are 10 units wide.
PageMetrics widePage() {
    PageMetrics page;
    page.width = 5000;
    page.height = 7000;
    page.lineHeight = 80;
    page.textWidth = [](const QString& text) { return 10.0 * text.size(); };
    return page;
}

// The captures' header on other settings, each field told apart from the others.
CaptureHeader header() {
    CaptureHeader h = test::header();
    h.port = "COM3";
    h.speed = "115200";
    h.parity = "Even";
    h.stopBits = "2";
    return h;
}

// A paint device that records every text run with its baseline position.
struct TextRun {
    QPointF baseline;
    QString text;
};

class RecordingEngine : public QPaintEngine {
  public:
    bool begin(QPaintDevice*) override { return true; }
    bool end() override { return true; }
    void updateState(const QPaintEngineState&) override {}
    void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
    void drawTextItem(const QPointF& p, const QTextItem& item) override {
        runs.append({p, item.text()});
    }
    Type type() const override { return User; }
    QList<TextRun> runs;
};

class RecordingDevice : public QPaintDevice {
  public:
    QPaintEngine* paintEngine() const override { return &engine; }
    int metric(PaintDeviceMetric m) const override {
        switch (m) {
            case PdmWidth:
                return 5000;
            case PdmHeight:
                return 7000;
            case PdmWidthMM:
                return 212;
            case PdmHeightMM:
                return 296;
            case PdmDpiX:
            case PdmDpiY:
            case PdmPhysicalDpiX:
            case PdmPhysicalDpiY:
                return 600;
            case PdmDepth:
                return 32;
            case PdmNumColors:
                return 0x7fffffff;
            case PdmDevicePixelRatio:
                return 1;
            case PdmDevicePixelRatioScaled:
                return int(devicePixelRatioFScale());
            default:
                return 0;
        }
    }
    mutable RecordingEngine engine;
};

}  // namespace

TEST(PrintLayoutLines, FiftyRowsALineAndTheRemainderOneStepFurther) {
    const PrintLayout l120 = makePrintLayout(header(), AsciiTable(lettered(120)), widePage());
    EXPECT_EQ(l120, (PrintLayout{{200, 200, printHeaderText(header())},
                                 {200, 300, QString(50, 'a')},
                                 {200, 400, QString(50, 'b')},
                                 {200, 600, QString(20, 'c')}}));

    const PrintLayout l30 = makePrintLayout(header(), AsciiTable(lettered(30)), widePage());
    EXPECT_EQ(l30,
              (PrintLayout{{200, 200, printHeaderText(header())}, {200, 400, QString(30, 'a')}}));

    // Exactly 100 rows: two full lines and an empty remainder two steps below the last.
    const PrintLayout l100 = makePrintLayout(header(), AsciiTable(lettered(100)), widePage());
    ASSERT_EQ(l100.size(), 4);
    EXPECT_EQ(l100[2], (PrintLine{200, 400, QString(50, 'b')}));
    EXPECT_EQ(l100[3], (PrintLine{200, 600, QString()}));

    const PrintLayout l0 = makePrintLayout(header(), AsciiTable({}), widePage());
    EXPECT_EQ(l0, (PrintLayout{{200, 200, printHeaderText(header())}, {200, 400, QString()}}));
}

TEST(PrintLayoutLines, HeaderTextAndTokens) {
    EXPECT_EQ(printHeaderText(header()),
              QStringLiteral("COM3, Speed = 115200, Data bits = 8, Parity = Even, Stop bits = 2, "
                             "Time&Date: 12:34:56  01.02.2024"));
    // Names such as <CR> are printed as the table holds them.
    const PrintLayout l =
        makePrintLayout(header(), AsciiTable({"A", "<CR>", "<LF>", "B"}), widePage());
    EXPECT_EQ(l.last(), (PrintLine{200, 400, QStringLiteral("A<CR><LF>B")}));
}

TEST(PrintDrawing, OneRunPerLineWithItsTopAtY) {
    RecordingDevice device;
    qreal ascent = 0;
    {
        QPainter probe(&device);
        ascent = QFontMetricsF(probe.font(), &device).ascent();
    }
    ASSERT_GT(ascent, 0);
    const PrintLayout layout =
        makePrintLayout(header(), AsciiTable(lettered(120)), pageMetrics(device, QFont()));
    printLayout(device, layout, QFont());
    const QList<TextRun>& runs = device.engine.runs;
    ASSERT_EQ(runs.size(), 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(runs[i].text, layout[i].text);
        EXPECT_DOUBLE_EQ(runs[i].baseline.x(), 200);
        EXPECT_DOUBLE_EQ(runs[i].baseline.y(), layout[i].y + ascent);
    }
}

TEST(PrintDrawing, RealPrinterPlacesTheLinesInDeviceUnits) {
    if (!test::havePdfToText())
        GTEST_SKIP() << "pdftotext is not installed";
    test::TempDir dir;
    constexpr int dpi = 600;
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(dir.path("capture.pdf"));
    printer.setResolution(dpi);
    printer.setFullPage(true);  // device origin at the paper's corner
    const PageMetrics page = pageMetrics(printer, QFont());
    printLayout(printer, makePrintLayout(header(), AsciiTable(lettered(120)), page), QFont());
    // One step: 100 units, or the font's line spacing at this resolution when taller.
    const int step = std::max(100, page.lineHeight);

    using test::PdfWord;
    const QList<PdfWord> words = test::pdfWords(dir.path("capture.pdf"), dir.path("capture.html"));
    ASSERT_FALSE(words.isEmpty());
    const auto find = [&](const QString& text) { return test::findPdfWord(words, text); };
    const auto units = [](double points) { return points * dpi / 72.0; };
    // The top of each word's box stands at its y, give or take the font's inner leading.
    const struct {
        QString text;
        int y;
    } expected[] = {{"COM3,", 200},
                    {QString(50, 'a'), 200 + step},
                    {QString(50, 'b'), 200 + 2 * step},
                    {QString(20, 'c'), 200 + 4 * step}};
    for (const auto& e : expected) {
        const PdfWord* w = find(e.text);
        ASSERT_NE(w, nullptr) << e.text.toStdString();
        EXPECT_NEAR(units(w->xMin), 200, 10) << e.text.toStdString();
        EXPECT_NEAR(units(w->yMin), e.y, 25) << e.text.toStdString() << " " << units(w->yMin);
        EXPECT_LT(units(w->yMax), e.y + step) << e.text.toStdString();
    }
    // The header is one run: its last word is on the same line.
    const PdfWord* date = find(QStringLiteral("01.02.2024"));
    ASSERT_NE(date, nullptr);
    EXPECT_NEAR(units(date->yMin), 200, 25);
    // Nothing else was printed: no line at 500.
    for (const PdfWord& w : words)
        EXPECT_FALSE(w.text.startsWith('c') && w.text.size() != 20);
}

// ---- Pages -------------------------------------------------------------------------------

namespace {

// An A4 page at 1200 dpi in a font of 175-unit lines and 80-unit characters: lines taller
// than the least step, and rows of named cells far wider than the page.
PageMetrics a4Page() {
    PageMetrics page;
    page.width = 9921;
    page.height = 14031;
    page.lineHeight = 175;
    page.textWidth = [](const QString& text) { return 80.0 * text.size(); };
    return page;
}

// n cells cycling through letters, digits and control names; 13 of them, so that no two
// printed rows are alike.
QStringList mixedCells(int n) {
    static const QStringList pool = {"A", "<NUL>", "b", "<CR>",  "<LF>", "7",    "<STX>",
                                     "z", "<ACK>", "Q", "<SOH>", "0",    "<ETX>"};
    QStringList cells;
    for (int i = 0; i < n; ++i)
        cells.append(pool[i % pool.size()]);
    return cells;
}

// Checks a layout as a reader would find it: each page starts with the header; its lines go
// down at least one line spacing apart and stay inside the page; the data lines hold every
// cell in order, whole cells to a line.
void expectReadablePages(const PrintLayout& layout, const PageMetrics& page,
                         const QString& headerText, const QStringList& cells) {
    ASSERT_FALSE(layout.isEmpty());
    const QStringList headerWords = headerText.split(' ');
    QString data;
    QList<qsizetype> cellEnds;  // where the cells end in the joined data
    qsizetype end = 0;
    for (const QString& c : cells)
        cellEnds.append(end += c.size());
    int expectedPage = 0;
    qsizetype i = 0;
    while (i < layout.size()) {
        ASSERT_EQ(layout[i].page, expectedPage) << i;
        // The header lines: the header's words in order.
        QStringList words;
        while (i < layout.size() && layout[i].page == expectedPage &&
               words.size() < headerWords.size()) {
            words.append(layout[i].text.split(' '));
            ++i;
        }
        EXPECT_EQ(words, headerWords) << "page " << expectedPage;
        while (i < layout.size() && layout[i].page == expectedPage) {
            data += layout[i].text;
            if (!layout[i].text.isEmpty()) {
                EXPECT_TRUE(cellEnds.contains(data.size())) << "a cell broken at line " << i;
            }
            ++i;
        }
        ++expectedPage;
    }
    EXPECT_EQ(data, cells.join(QString()));
    for (qsizetype k = 0; k < layout.size(); ++k) {
        const PrintLine& l = layout[k];
        EXPECT_GE(l.x, 0) << k;
        EXPECT_GE(l.y, 0) << k;
        EXPECT_LE(l.x + page.textWidth(l.text), page.width) << k;
        EXPECT_LE(l.y + page.lineHeight, page.height) << k;
        if (k > 0 && layout[k - 1].page == l.page) {
            EXPECT_GE(l.y - layout[k - 1].y, page.lineHeight) << k;
        }
    }
}

}  // namespace

TEST(PrintLayoutPages, LinesStepByTheFontsLineSpacingWhenItIsTallerThanTheLeastStep) {
    PageMetrics page = widePage();
    page.lineHeight = 175;
    const PrintLayout l = makePrintLayout(header(), AsciiTable(lettered(120)), page);
    EXPECT_EQ(l, (PrintLayout{{200, 200, printHeaderText(header())},
                              {200, 375, QString(50, 'a')},
                              {200, 550, QString(50, 'b')},
                              {200, 900, QString(20, 'c')}}));
}

TEST(PrintLayoutPages, TenThousandBytesFillSeveralReadablePages) {
    const QStringList cells = mixedCells(10000);
    const PageMetrics page = a4Page();
    const PrintLayout layout = makePrintLayout(header(), AsciiTable(cells), page);
    expectReadablePages(layout, page, printHeaderText(header()), cells);
    EXPECT_GE(layout.last().page, 2);
    // Full pages: the next line would have reached into the bottom margin.
    for (qsizetype k = 1; k < layout.size(); ++k) {
        if (layout[k].page != layout[k - 1].page) {
            EXPECT_GT(layout[k - 1].y + 2 * page.lineHeight, page.height - 200) << k;
        }
    }
}

TEST(PrintLayoutPages, EveryRowCountEndsInsideThePage) {
    // Around a page's end: the remainder, blank or not, never leaves the page.
    const PageMetrics page = a4Page();
    for (int n = 2400; n <= 2700; n += 7) {
        const QStringList cells = mixedCells(n);
        const PrintLayout layout = makePrintLayout(header(), AsciiTable(cells), page);
        SCOPED_TRACE(n);
        expectReadablePages(layout, page, printHeaderText(header()), cells);
    }
}

TEST(PrintLayoutPages, AHeaderWiderThanThePageBreaksAtBlanks) {
    PageMetrics page = widePage();
    page.width = 1000;  // a margin of 100: 80 characters to a line
    const PrintLayout layout = makePrintLayout(header(), AsciiTable(lettered(120)), page);
    ASSERT_GE(layout.size(), 2);
    EXPECT_EQ(layout[0], (PrintLine{100, 100,
                                    QStringLiteral("COM3, Speed = 115200, Data bits = 8, Parity = "
                                                   "Even, Stop bits = 2, Time&Date:")}));
    EXPECT_EQ(layout[1], (PrintLine{100, 200, QStringLiteral("12:34:56  01.02.2024")}));
    expectReadablePages(layout, page, printHeaderText(header()), lettered(120));
}

TEST(PrintLayoutPages, ACellWiderThanALineIsBrokenInside) {
    PageMetrics page = widePage();
    page.width = 1000;
    const QString wide(200, 'w');
    const PrintLayout layout = makePrintLayout(header(), AsciiTable({"a", wide, "b"}), page);
    QStringList data;
    for (const PrintLine& l : layout.mid(2))  // after the header's two lines
        data.append(l.text);
    EXPECT_EQ(data, QStringList({"a", wide.left(80), wide.mid(80, 80), wide.mid(160), "b"}));
    for (const PrintLine& l : layout)
        EXPECT_LE(l.x + page.textWidth(l.text), page.width - 100) << l.text.toStdString();
}
