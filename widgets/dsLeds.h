#pragma once
// TdsLed: one indicator lamp drawn in its on or off colour, as an ellipse, a rectangle or a
// triangle, with an optional bevel, or drawn by its owner.

#include <QColor>
#include <QElapsedTimer>
#include <QRect>
#include <QWidget>
#include <cstdint>
#include <functional>

class QPainter;

// A colour as 0x00BBGGRR.
namespace trelmo {

using TColor = uint32_t;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clWhite = 0xFFFFFF;

// The QColor of a 0x00BBGGRR value.
QColor colorFromTColor(TColor color);

enum class TdsLedBevel { blNone, blLowered, blRaised, blBorder };
enum class TdsLedShape {
    ltEllipse,
    ltRectangle,
    ltTriangleTop,
    ltTriangleBottom,
    ltTriangleLeft,
    ltTriangleRight
};
enum class TdsLedStyle { lsStandard, lsOwnerDraw };

class TdsLed : public QWidget {
    Q_OBJECT
  public:
    // A new lamp is 24 by 24 pixels, an unbevelled lime/red ellipse, off.
    explicit TdsLed(QWidget* parent = nullptr);

    TdsLedBevel Bevel() const { return bevel_; }
    TdsLedShape Shape() const { return shape_; }
    TColor OnColor() const { return onColor_; }
    TColor OffColor() const { return offColor_; }
    bool LedOn() const { return ledOn_; }
    TdsLedStyle Style() const { return style_; }

    // Each setter does nothing when the value is unchanged; otherwise it stores the value
    // and repaints at once. setLedOn then calls Change().
    void setBevel(TdsLedBevel value);
    void setShape(TdsLedShape value);
    void setOnColor(TColor value);
    void setOffColor(TColor value);
    void setLedOn(bool value);
    // Switches LedOn as setLedOn does (Change() included) for a lamp that may be switched
    // thousands of times a second, such as a data lamp: it paints at once only when the lamp
    // was last painted a frame or more ago; otherwise painting is left to the event loop, and
    // that paint shows the lamp lit if it was lit at any time since its previous paint. So a
    // lamp switched on and off for every block of a fast feed reads as lit while the feed
    // lasts and as off after it, at the screen's pace instead of the feed's.
    void setLedOnCoalesced(bool value);
    // Stored only; takes effect at the next paint.
    void setStyle(TdsLedStyle value) { style_ = value; }

    // Called after the lamp was switched.
    std::function<void(TdsLed* sender)> OnChange;
    // Draws the lamp when Style is lsOwnerDraw: the client rectangle and the painter, whose
    // brush already holds the lamp's current colour.
    std::function<void(TdsLed* sender, const QRect& rect, QPainter& canvas)> OnDrawLed;

  signals:
    void changed();

  protected:
    // The change notification: OnChange when assigned.
    virtual void Change();
    // The owner-draw call: OnDrawLed with the client rectangle when assigned.
    virtual void DrawLed(const QRect& rect, QPainter& canvas);

    void paintEvent(QPaintEvent* event) override;

  private:
    // Paints the lamp now, also in a window whose painting is paced to frames.
    void repaintNow();
    void paintEllipse(QPainter& p, QColor color);
    void paintRectangle(QPainter& p, QColor color);
    void paintTriangle(QPainter& p, QColor color);

    TdsLedBevel bevel_ = TdsLedBevel::blNone;
    TdsLedShape shape_ = TdsLedShape::ltEllipse;
    TColor onColor_ = clLime;
    TColor offColor_ = clRed;
    bool ledOn_ = false;
    TdsLedStyle style_ = TdsLedStyle::lsStandard;
    bool litSincePaint_ = false;  // switched on since the last paint (coalesced switching)
    QElapsedTimer lastPaint_;
};

}  // namespace trelmo
