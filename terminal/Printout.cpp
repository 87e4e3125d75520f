#include "terminal/Printout.h"

#include <QFontMetricsF>
#include <QPainter>

namespace trelmo {

void drawPrintLayout(QPainter& painter, const PrintLayout& layout) {
    const qreal ascent = QFontMetricsF(painter.font(), painter.device()).ascent();
    for (const PrintLine& l : layout) {
        if (l.text.isEmpty())
            continue;
        painter.drawText(QPointF(l.x, l.y + ascent), l.text);
    }
}

void printLayout(QPaintDevice& device, const PrintLayout& layout) {
    QPainter painter;
    if (!painter.begin(&device))
        throw ECaptureError(QStringLiteral("Printing cannot start"));
    drawPrintLayout(painter, layout);
    if (!painter.end())
        throw ECaptureError(QStringLiteral("Printing did not finish"));
}

}  // namespace trelmo
