#pragma once
// The printout of a capture: a header line and the ASCII column of the byte table in lines of
// 50 bytes, placed on pages in device units. The layout depends only on the capture and on
// the page's metrics (its size, the font's line spacing and how wide the font writes a text),
// so it is worked out and checked without a printer; Printout draws it.

#include <QList>
#include <QString>
#include <functional>

#include "core/capture/CaptureFiles.h"

namespace trelmo {

// The page a printout is laid out for, in device units: the printable area's size, the line
// spacing of the font it is printed in, and the width that font gives a text.
struct PageMetrics {
    int width = 0;
    int height = 0;
    int lineHeight = 0;
    std::function<qreal(const QString&)> textWidth;
};

// One text run on page `page` (0 for the first): its left edge at x and the top of its text
// at y, in device units.
struct PrintLine {
    int x = 0;
    int y = 0;
    QString text;
    int page = 0;
    bool operator==(const PrintLine&) const = default;
};

using PrintLayout = QList<PrintLine>;

// port + ", Speed = " + speed + ", Data bits = " + data bits + ", Parity = " + parity +
// ", Stop bits = " + stop bits + ", Time&Date: " + time + "  " + date
QString printHeaderText(const CaptureHeader& header);

// The lines of a printout. Every page keeps a margin of 200 units on each side (less on a
// page under 2000 units: a tenth of its width or height) and starts with the header at its
// top margin. Lines follow each other one step apart, a step being 100 units or the font's
// line spacing when that is taller. After the header come the ASCII cells of grid rows 1..n
// joined 50 to a line; after the last row y goes down another step and the remaining
// (possibly empty) line is placed there. A line wider than the page between its margins is
// broken: the data lines between cells (inside a cell only when the cell alone is wider), the
// header at blanks. A line that would reach into the bottom margin goes to a new page, header
// first; an empty remainder that does not fit is left out (it prints nothing).
//
// With a line spacing of at most 100 and lines that fit, 120 bytes give the header at
// (200, 200) and lines at 300, 400 and 600, and fewer than 50 bytes one line at 400.
PrintLayout makePrintLayout(const CaptureHeader& header, const CaptureTableSource& table,
                            const PageMetrics& page);

}  // namespace trelmo
