#include "terminal/Printout.h"

#include <QFontMetricsF>
#include <QPagedPaintDevice>
#include <QPainter>
#include <cmath>

namespace trelmo {

PageMetrics pageMetrics(const QPaintDevice& device, const QFont& font) {
    const QFontMetricsF metrics(font, &device);
    PageMetrics page;
    page.width = device.width();
    page.height = device.height();
    page.lineHeight = static_cast<int>(std::ceil(metrics.lineSpacing()));
    page.textWidth = [metrics](const QString& text) { return metrics.horizontalAdvance(text); };
    return page;
}

void drawPrintLayout(QPainter& painter, const PrintLayout& layout,
                     const std::function<bool()>& newPage) {
    const qreal ascent = QFontMetricsF(painter.font(), painter.device()).ascent();
    int page = layout.isEmpty() ? 0 : layout.first().page;
    for (const PrintLine& l : layout) {
        if (l.page != page) {
            if (!newPage || !newPage())
                return;
            page = l.page;
        }
        if (l.text.isEmpty())
            continue;
        painter.drawText(QPointF(l.x, l.y + ascent), l.text);
    }
}

void printLayout(QPaintDevice& device, const PrintLayout& layout, const QFont& font) {
    QPainter painter;
    if (!painter.begin(&device))
        throw ECaptureError(QStringLiteral("Printing cannot start"));
    painter.setFont(font);
    auto* paged = dynamic_cast<QPagedPaintDevice*>(&device);
    drawPrintLayout(painter, layout, [paged] { return paged && paged->newPage(); });
    if (!painter.end())
        throw ECaptureError(QStringLiteral("Printing did not finish"));
}

}  // namespace trelmo
