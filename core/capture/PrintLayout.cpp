#include "core/capture/PrintLayout.h"

namespace trelmo {
namespace {

constexpr int kLeft = 200;
constexpr int kHeaderTop = 200;
constexpr int kDataTop = 300;
constexpr int kStep = 100;
constexpr qsizetype kRowsPerLine = 50;
constexpr int kAsciiColumn = 1;

}  // namespace

QString printHeaderText(const CaptureHeader& h) {
    return h.port + QStringLiteral(", Speed = ") + h.speed + QStringLiteral(", Data bits = ") +
           h.dataBits + QStringLiteral(", Parity = ") + h.parity +
           QStringLiteral(", Stop bits = ") + h.stopBits + QStringLiteral(", Time&Date: ") +
           h.time + QStringLiteral("  ") + h.date;
}

PrintLayout makePrintLayout(const CaptureHeader& header, const CaptureTableSource& table) {
    PrintLayout layout;
    layout.append({kLeft, kHeaderTop, printHeaderText(header)});
    const qsizetype n = qMax<qsizetype>(0, table.gridRowCount() - 2);
    int y = kDataTop;
    QString line;
    for (qsizetype r = 1; r <= n; ++r) {
        line += table.cellText(kAsciiColumn, r);
        if (r % kRowsPerLine == 0) {
            layout.append({kLeft, y, line});
            y += kStep;
            line.clear();
        }
    }
    y += kStep;
    layout.append({kLeft, y, line});
    return layout;
}

}  // namespace trelmo
