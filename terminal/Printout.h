#pragma once
// The printout of a capture drawn on a printer (or any paint device).

#include "core/capture/PrintLayout.h"

class QPainter;
class QPaintDevice;

namespace trelmo {

// Draws the lines with the painter's current font, each as one run whose top is at its y
// (the baseline is y + the font's ascent), without clipping or wrapping.
void drawPrintLayout(QPainter& painter, const PrintLayout& layout);

// Begins a painter on the device (a QPrinter: this starts and, on return, ends the job),
// draws the layout and ends. Throws ECaptureError when painting cannot begin or end.
void printLayout(QPaintDevice& device, const PrintLayout& layout);

}  // namespace trelmo
