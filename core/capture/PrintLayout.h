#pragma once
// The printout of a capture: a header line and the ASCII column of the byte table in lines of
// 50 bytes, placed in printer device units. No font is chosen, each line is one text run: no
// wrapping and no page breaks (text beyond the page is lost).

#include <QList>
#include <QString>

#include "core/capture/CaptureFiles.h"

namespace trelmo {

// One text run: its left edge at x and the top of its text at y, in device units.
struct PrintLine {
    int x = 0;
    int y = 0;
    QString text;
    bool operator==(const PrintLine&) const = default;
};

using PrintLayout = QList<PrintLine>;

// port + ", Speed = " + speed + ", Data bits = " + data bits + ", Parity = " + parity +
// ", Stop bits = " + stop bits + ", Time&Date: " + time + "  " + date
QString printHeaderText(const CaptureHeader& header);

// The lines of a printout: the header at (200, 200); then the ASCII cells of grid rows 1..n
// joined 50 to a line, the first at y = 300 and each next one 100 lower; after the last row
// y goes down another 100 and the remaining (possibly empty) line is placed there. So 120
// bytes give lines at 300, 400 and 600, and fewer than 50 bytes one line at 400.
PrintLayout makePrintLayout(const CaptureHeader& header, const CaptureTableSource& table);

}  // namespace trelmo
