#pragma once
// The printout of a capture drawn on a printer (or any paint device).

#include <functional>

#include "core/capture/PrintLayout.h"

class QFont;
class QPainter;
class QPaintDevice;

namespace trelmo {

// The page of a paint device printed in `font`: the device's size, and the font's line
// spacing and text widths at the device's resolution, all in device units.
PageMetrics pageMetrics(const QPaintDevice& device, const QFont& font);

// Draws the lines with the painter's current font, each as one run whose top is at its y
// (the baseline is y + the font's ascent), without clipping or wrapping. Before the first
// line of each further page it calls newPage; when that is empty or fails, the rest is left
// out.
void drawPrintLayout(QPainter& painter, const PrintLayout& layout,
                     const std::function<bool()>& newPage = {});

// Begins a painter on the device (a QPrinter: this starts and, on return, ends the job),
// draws the layout in `font`, each page of it on a page of its own, and ends. Throws
// ECaptureError when painting cannot begin or end.
void printLayout(QPaintDevice& device, const PrintLayout& layout, const QFont& font);

}  // namespace trelmo
