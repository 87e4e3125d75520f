// The printout: where the header and the data lines go, checked on a recording device and on a
// real printer writing a PDF file.
#include <gtest/gtest.h>

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
    const PrintLayout l120 = makePrintLayout(header(), AsciiTable(lettered(120)));
    EXPECT_EQ(l120, (PrintLayout{{200, 200, printHeaderText(header())},
                                 {200, 300, QString(50, 'a')},
                                 {200, 400, QString(50, 'b')},
                                 {200, 600, QString(20, 'c')}}));

    const PrintLayout l30 = makePrintLayout(header(), AsciiTable(lettered(30)));
    EXPECT_EQ(l30,
              (PrintLayout{{200, 200, printHeaderText(header())}, {200, 400, QString(30, 'a')}}));

    // Exactly 100 rows: two full lines and an empty remainder two steps below the last.
    const PrintLayout l100 = makePrintLayout(header(), AsciiTable(lettered(100)));
    ASSERT_EQ(l100.size(), 4);
    EXPECT_EQ(l100[2], (PrintLine{200, 400, QString(50, 'b')}));
    EXPECT_EQ(l100[3], (PrintLine{200, 600, QString()}));

    const PrintLayout l0 = makePrintLayout(header(), AsciiTable({}));
    EXPECT_EQ(l0, (PrintLayout{{200, 200, printHeaderText(header())}, {200, 400, QString()}}));
}

TEST(PrintLayoutLines, HeaderTextAndTokens) {
    EXPECT_EQ(printHeaderText(header()),
              QStringLiteral("COM3, Speed = 115200, Data bits = 8, Parity = Even, Stop bits = 2, "
                             "Time&Date: 12:34:56  01.02.2024"));
    // Names such as <CR> are printed as the table holds them.
    const PrintLayout l = makePrintLayout(header(), AsciiTable({"A", "<CR>", "<LF>", "B"}));
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
    const PrintLayout layout = makePrintLayout(header(), AsciiTable(lettered(120)));
    printLayout(device, layout);
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
    printLayout(printer, makePrintLayout(header(), AsciiTable(lettered(120))));

    using test::PdfWord;
    const QList<PdfWord> words = test::pdfWords(dir.path("capture.pdf"), dir.path("capture.html"));
    ASSERT_FALSE(words.isEmpty());
    const auto find = [&](const QString& text) { return test::findPdfWord(words, text); };
    const auto units = [](double points) { return points * dpi / 72.0; };
    // The top of each word's box stands at its y, give or take the font's inner leading.
    const struct {
        QString text;
        int y;
    } expected[] = {
        {"COM3,", 200}, {QString(50, 'a'), 300}, {QString(50, 'b'), 400}, {QString(20, 'c'), 600}};
    for (const auto& e : expected) {
        const PdfWord* w = find(e.text);
        ASSERT_NE(w, nullptr) << e.text.toStdString();
        EXPECT_NEAR(units(w->xMin), 200, 10) << e.text.toStdString();
        EXPECT_NEAR(units(w->yMin), e.y, 25) << e.text.toStdString() << " " << units(w->yMin);
        EXPECT_LT(units(w->yMax), e.y + 100) << e.text.toStdString();
    }
    // The header is one run: its last word is on the same line.
    const PdfWord* date = find(QStringLiteral("01.02.2024"));
    ASSERT_NE(date, nullptr);
    EXPECT_NEAR(units(date->yMin), 200, 25);
    // Nothing else was printed: no line at 500.
    for (const PdfWord& w : words)
        EXPECT_FALSE(w.text.startsWith('c') && w.text.size() != 20);
}
