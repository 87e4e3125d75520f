#include "widgets/dsLeds.h"

#include "widgets/FramePacer.h"

#include <QPainter>
#include <QPolygon>
#include <cmath>

namespace trelmo {

QColor colorFromTColor(TColor color) {
    return QColor(int(color & 0xFF), int((color >> 8) & 0xFF), int((color >> 16) & 0xFF));
}

namespace {

// The angle, in 1/16 degree counterclockwise from three o'clock, of the ray from the centre
// of `box` through `point`. Qt's y axis runs down, so it is flipped.
double rayAngle16(const QRect& box, QPoint point) {
    const double cx = (box.left() + box.right() + 1) / 2.0;
    const double cy = (box.top() + box.bottom() + 1) / 2.0;
    double deg = std::atan2(-(point.y() - cy), point.x() - cx) * 180.0 / M_PI;
    if (deg < 0)
        deg += 360.0;
    return deg * 16.0;
}

// The counterclockwise sweep from the ray through `from` to the ray through `to`.
void sweep(const QRect& box, QPoint from, QPoint to, int* start, int* span) {
    const double a1 = rayAngle16(box, from);
    double a2 = rayAngle16(box, to);
    if (a2 <= a1)
        a2 += 360.0 * 16.0;
    *start = int(std::lround(a1));
    *span = int(std::lround(a2 - a1));
}

// A bounding rectangle in the system's (left, top, right, bottom) sense, where right and
// bottom lie just outside the shape, as Qt draws it with a one-pixel pen.
QRect outlineBox(int l, int t, int r, int b) {
    return QRect(l, t, r - l - 1, b - t - 1);
}

}  // namespace

TdsLed::TdsLed(QWidget* parent) : QWidget(parent) {
    resize(24, 24);
}

void TdsLed::setBevel(TdsLedBevel value) {
    if (value == bevel_)
        return;
    bevel_ = value;
    repaintNow();
}

void TdsLed::setShape(TdsLedShape value) {
    if (value == shape_)
        return;
    shape_ = value;
    repaintNow();
}

void TdsLed::setOnColor(TColor value) {
    if (value == onColor_)
        return;
    onColor_ = value;
    repaintNow();
}

void TdsLed::setOffColor(TColor value) {
    if (value == offColor_)
        return;
    offColor_ = value;
    repaintNow();
}

void TdsLed::setLedOn(bool value) {
    if (value == ledOn_)
        return;
    ledOn_ = value;
    repaintNow();
    Change();
}

void TdsLed::repaintNow() {
    const trelmo::FramePacer::ImmediatePaint now;
    repaint();
}

void TdsLed::setLedOnCoalesced(bool value) {
    if (value == ledOn_)
        return;
    ledOn_ = value;
    litSincePaint_ = litSincePaint_ || value;
    // A window that paces its frames may still hold this paint for the rest of its frame.
    constexpr qint64 kFrameMs = 16;
    if (!lastPaint_.isValid() || lastPaint_.elapsed() >= kFrameMs)
        repaint();
    else
        update();
    Change();
}

void TdsLed::Change() {
    if (OnChange)
        OnChange(this);
    emit changed();
}

void TdsLed::DrawLed(const QRect& rect, QPainter& canvas) {
    if (OnDrawLed)
        OnDrawLed(this, rect, canvas);
}

void TdsLed::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, false);
    // A lamp lit and put out again since its last paint shows lit this once; the next
    // frame shows it as it is.
    const bool lit = ledOn_ || litSincePaint_;
    if (litSincePaint_ && !ledOn_)
        update();
    litSincePaint_ = false;
    lastPaint_.start();
    const QColor color = colorFromTColor(lit ? onColor_ : offColor_);
    p.setBrush(color);
    if (style_ == TdsLedStyle::lsOwnerDraw) {
        DrawLed(rect(), p);
        return;
    }
    switch (shape_) {
        case TdsLedShape::ltEllipse:
            paintEllipse(p, color);
            break;
        case TdsLedShape::ltRectangle:
            paintRectangle(p, color);
            break;
        default:
            paintTriangle(p, color);
            break;
    }
}

void TdsLed::paintEllipse(QPainter& p, QColor color) {
    const int L = 0, T = 0, R = width(), B = height();
    const QRect box = outlineBox(L, T, R, B);
    p.setPen(QPen(color, 1));
    p.setBrush(color);
    p.drawEllipse(box);

    // The highlight: the upper-left cap of the inner ellipse, cut by a chord.
    const int s = std::min(width(), height()) / 5;
    const QRect inner = outlineBox(L + s, T + s, R - s, B - s);
    if (inner.width() >= 0 && inner.height() >= 0) {
        int start = 0, span = 0;
        sweep(inner, QPoint(R / 2 + s / 2, T + s), QPoint(L + s, B / 2 + s / 2), &start, &span);
        const QColor white = colorFromTColor(clWhite);
        p.setPen(QPen(white, 1));
        p.setBrush(white);
        p.drawChord(inner, start, span);
    }

    const QColor shadow = palette().color(QPalette::Dark);
    const QColor light = palette().color(QPalette::Light);
    int start = 0, span = 0;
    switch (bevel_) {
        case TdsLedBevel::blLowered:
        case TdsLedBevel::blRaised: {
            const bool lowered = bevel_ == TdsLedBevel::blLowered;
            p.setBrush(Qt::NoBrush);
            p.setPen(QPen(lowered ? shadow : light, 1));
            sweep(box, QPoint(R, T), QPoint(L, B), &start, &span);
            p.drawArc(box, start, span);
            p.setPen(QPen(lowered ? light : shadow, 1));
            sweep(box, QPoint(L, B), QPoint(R, T), &start, &span);
            p.drawArc(box, start, span);
            break;
        }
        case TdsLedBevel::blBorder:
            p.setPen(QPen(shadow, 1));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(box);
            break;
        case TdsLedBevel::blNone:
            break;
    }
}

void TdsLed::paintRectangle(QPainter& p, QColor color) {
    const int W = width(), H = height();
    p.setPen(QPen(color, 1));
    p.setBrush(color);
    p.drawRect(outlineBox(0, 0, W, H));

    const QColor shadow = palette().color(QPalette::Dark);
    const QColor light = palette().color(QPalette::Light);
    switch (bevel_) {
        case TdsLedBevel::blLowered:
        case TdsLedBevel::blRaised: {
            const bool lowered = bevel_ == TdsLedBevel::blLowered;
            const QColor topLeft = lowered ? shadow : light;
            const QColor bottomRight = lowered ? light : shadow;
            for (int i = 0; i < 2; ++i) {
                const int l = i, t = i, r = W - 1 - i, b = H - 1 - i;
                p.setPen(QPen(topLeft, 1));
                p.drawLine(l, t, r, t);
                p.drawLine(l, t, l, b);
                p.setPen(QPen(bottomRight, 1));
                p.drawLine(l, b, r, b);
                p.drawLine(r, t, r, b);
            }
            break;
        }
        case TdsLedBevel::blBorder:
            p.setPen(QPen(shadow, 1));
            p.setBrush(Qt::NoBrush);
            p.drawRect(outlineBox(0, 0, W, H));
            break;
        case TdsLedBevel::blNone:
            break;
    }
}

void TdsLed::paintTriangle(QPainter& p, QColor color) {
    const int W = width(), H = height();
    QPoint p1, p2, p3;
    switch (shape_) {
        case TdsLedShape::ltTriangleTop:
            p1 = {0, H}, p2 = {W, H}, p3 = {W / 2, 0};
            break;
        case TdsLedShape::ltTriangleBottom:
            p1 = {0, 0}, p2 = {W, 0}, p3 = {W / 2, H};
            break;
        case TdsLedShape::ltTriangleLeft:
            p1 = {0, 0}, p2 = {0, H}, p3 = {W, H / 2};
            break;
        default:  // ltTriangleRight
            p1 = {W, 0}, p2 = {W, H}, p3 = {0, H / 2};
            break;
    }
    p.setPen(QPen(color, 1));
    p.setBrush(color);
    p.drawPolygon(QPolygon({p1, p2, p3}));

    if (bevel_ == TdsLedBevel::blNone)
        return;
    const QColor S = palette().color(QPalette::Dark);
    const QColor HL = palette().color(QPalette::Light);
    auto line = [&](QPoint a, QPoint b, QColor c) {
        p.setPen(QPen(c, 2));
        p.drawLine(a, b);
    };
    if (bevel_ == TdsLedBevel::blBorder) {
        line(p1, p2, S);
        line(p2, p3, S);
        line(p3, p1, S);
        return;
    }
    const bool lowered = bevel_ == TdsLedBevel::blLowered;
    const QColor a = lowered ? S : HL;  // the colour of the lowered bevel's shadow lines
    const QColor b = lowered ? HL : S;
    switch (shape_) {
        case TdsLedShape::ltTriangleTop:
            line(p1, p2, b);
            line(p2, p3, b);
            line(p3, p1, a);
            break;
        case TdsLedShape::ltTriangleBottom:
        case TdsLedShape::ltTriangleLeft:
            line(p2, p1, a);
            line(p1, p3, a);
            line(p3, p2, b);
            break;
        default:  // ltTriangleRight
            line(p3, p2, b);
            line(p2, p1, b);
            line(p1, p3, a);
            break;
    }
}

}  // namespace trelmo
