#include "core/capture/PrintLayout.h"

#include <QHash>
#include <QStringList>
#include <algorithm>

namespace trelmo {
namespace {

constexpr int kMargin = 200;
constexpr int kLeastStep = 100;
constexpr qsizetype kRowsPerLine = 50;
constexpr int kAsciiColumn = 1;

int pageMargin(const PageMetrics& page) {
    return std::min({kMargin, page.width / 10, page.height / 10});
}

// The font's widths, those of single cells kept: a capture has few different cells.
class Widths {
  public:
    explicit Widths(const PageMetrics& page) : measure_(page.textWidth) {}

    qreal operator()(const QString& text) const { return measure_ ? measure_(text) : 0; }

    qreal cell(const QString& text) {
        auto it = cells_.constFind(text);
        if (it == cells_.cend())
            it = cells_.insert(text, (*this)(text));
        return *it;
    }

  private:
    const std::function<qreal(const QString&)>& measure_;
    QHash<QString, qreal> cells_;
};

// The longest start of `text` (one character at least) no wider than `width`.
qsizetype fittingPrefix(const QString& text, qreal width, const Widths& widths) {
    qsizetype lo = 1;  // always taken
    qsizetype hi = text.size();
    while (lo < hi) {
        const qsizetype mid = (lo + hi + 1) / 2;
        if (widths(text.left(mid)) <= width)
            lo = mid;
        else
            hi = mid - 1;
    }
    return lo;
}

// `text` in pieces no wider than `width`, broken anywhere.
void breakAnywhere(const QString& text, qreal width, const Widths& widths, QStringList& out) {
    QString rest = text;
    while (!rest.isEmpty()) {
        if (widths(rest) <= width) {
            out.append(rest);
            return;
        }
        const qsizetype n = fittingPrefix(rest, width, widths);
        out.append(rest.left(n));
        rest.remove(0, n);
    }
}

// `text` in lines no wider than `width`, broken at blanks (the blank where a line breaks is
// dropped), inside a word only when the word alone is wider.
QStringList breakAtBlanks(const QString& text, qreal width, const Widths& widths) {
    QStringList out;
    if (widths(text) <= width) {
        out.append(text);
        return out;
    }
    const QStringList words = text.split(QLatin1Char(' '));
    QString line = words.first();
    auto flush = [&] {
        if (widths(line) <= width)
            out.append(line);
        else
            breakAnywhere(line, width, widths, out);
    };
    for (qsizetype i = 1; i < words.size(); ++i) {
        const QString longer = line + QLatin1Char(' ') + words[i];
        if (widths(longer) <= width) {
            line = longer;
        } else {
            flush();
            line = words[i];
        }
    }
    flush();
    return out;
}

// One row of cells in lines no wider than `width`: whole cells to a line, a cell broken only
// when it alone is wider than a line.
QStringList packCells(const QStringList& cells, qreal width, Widths& widths) {
    QStringList out;
    const qsizetype n = cells.size();
    qsizetype i = 0;
    while (i < n) {
        // As many cells as their own widths allow, then checked as the one run it is printed
        // as (kerning may make the run wider than its cells).
        qsizetype j = i;
        qreal sum = 0;
        while (j < n && (j == i || sum + widths.cell(cells[j]) <= width))
            sum += widths.cell(cells[j++]);
        QString line;
        for (qsizetype k = i; k < j; ++k)
            line += cells[k];
        while (j - i > 1 && widths(line) > width)
            line.chop(cells[--j].size());
        if (widths(line) > width)
            breakAnywhere(line, width, widths, out);
        else
            out.append(line);
        i = j;
    }
    return out;
}

// Places lines one step apart down the pages, each page starting with the header.
class Pager {
  public:
    Pager(const PageMetrics& page, QStringList header)
        : header_(std::move(header)),
          margin_(pageMargin(page)),
          step_(std::max(kLeastStep, page.lineHeight)),
          lineHeight_(std::max(0, page.lineHeight)),
          bottom_(page.height - margin_) {
        newPage();
    }

    // Places a line at y, on a new page when it would reach into the bottom margin.
    void place(const QString& text) {
        if (!fits() && linesOnPage_ > 0)
            newPage();
        put(text);
    }
    // Places a line that prints nothing, where it fits on this page.
    void placeBlank() {
        if (fits())
            put(QString());
    }
    void skipStep() { y_ += step_; }

    PrintLayout take() { return std::move(out_); }

  private:
    bool fits() const { return y_ + lineHeight_ <= bottom_; }
    void put(const QString& text) {
        out_.append({margin_, y_, text, page_});
        y_ += step_;
        ++linesOnPage_;
    }
    void newPage() {
        ++page_;
        y_ = margin_;
        linesOnPage_ = 0;
        for (const QString& line : header_) {
            out_.append({margin_, y_, line, page_});
            y_ += step_;
        }
    }

    QStringList header_;
    int margin_;
    int step_;
    int lineHeight_;
    int bottom_;
    PrintLayout out_;
    int page_ = -1;
    int y_ = 0;
    int linesOnPage_ = 0;
};

}  // namespace

QString printHeaderText(const CaptureHeader& h) {
    return h.port + QStringLiteral(", Speed = ") + h.speed + QStringLiteral(", Data bits = ") +
           h.dataBits + QStringLiteral(", Parity = ") + h.parity +
           QStringLiteral(", Stop bits = ") + h.stopBits + QStringLiteral(", Time&Date: ") +
           h.time + QStringLiteral("  ") + h.date;
}

PrintLayout makePrintLayout(const CaptureHeader& header, const CaptureTableSource& table,
                            const PageMetrics& page) {
    Widths widths(page);
    const qreal lineWidth = std::max(1, page.width - 2 * pageMargin(page));
    Pager pager(page, breakAtBlanks(printHeaderText(header), lineWidth, widths));

    const qsizetype n = qMax<qsizetype>(0, table.gridRowCount() - 2);
    QStringList cells;
    cells.reserve(kRowsPerLine);
    for (qsizetype r = 1; r <= n; ++r) {
        cells.append(table.cellText(kAsciiColumn, r));
        if (r % kRowsPerLine == 0) {
            for (const QString& line : packCells(cells, lineWidth, widths))
                pager.place(line);
            cells.clear();
        }
    }
    pager.skipStep();
    if (cells.isEmpty()) {
        pager.placeBlank();
    } else {
        for (const QString& line : packCells(cells, lineWidth, widths))
            pager.place(line);
    }
    return pager.take();
}

}  // namespace trelmo
