// The LED lamp: its painting checked on the pixels of a rendered image, its setters and events.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QTest>
#include <vector>

#include "widgets/dsLeds.h"

using namespace trelmo;

namespace {

const QColor kBackground(255, 0, 255);  // magenta: never a lamp colour

// Renders the lamp alone (no window background) onto magenta.
QImage render(TdsLed& led) {
    QImage image(led.size(), QImage::Format_RGB32);
    image.fill(kBackground);
    led.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

QColor at(const QImage& image, int x, int y) {
    return image.pixelColor(x, y);
}

// A lamp that counts its paints and notes how many paints had happened at each Change().
class CountingLed : public TdsLed {
  public:
    int paints = 0;
    std::vector<int> paintsAtChange;

  protected:
    void paintEvent(QPaintEvent* e) override {
        ++paints;
        TdsLed::paintEvent(e);
    }
    void Change() override {
        paintsAtChange.push_back(paints);
        TdsLed::Change();
    }
};

}  // namespace

TEST(TdsLed, DefaultsOfANewLamp) {
    TdsLed led;
    EXPECT_EQ(led.size(), QSize(24, 24));
    EXPECT_EQ(led.Bevel(), TdsLedBevel::blNone);
    EXPECT_EQ(led.Shape(), TdsLedShape::ltEllipse);
    EXPECT_EQ(led.OnColor(), 0x00FF00u);
    EXPECT_EQ(led.OffColor(), 0x0000FFu);
    EXPECT_FALSE(led.LedOn());
    EXPECT_EQ(led.Style(), TdsLedStyle::lsStandard);
    EXPECT_EQ(colorFromTColor(0x00FF8040), QColor(0x40, 0x80, 0xFF));
}

TEST(TdsLed, NineByNineLampColoursAndHighlight) {
    TdsLed led;
    led.resize(9, 9);
    led.setOnColor(clRed);
    led.setOffColor(clSilver);

    QImage off = render(led);
    EXPECT_EQ(at(off, 6, 6), QColor(192, 192, 192));  // lower right: the lamp colour
    EXPECT_EQ(at(off, 4, 8), QColor(192, 192, 192));  // bottom middle of the disc
    EXPECT_EQ(at(off, 2, 2), QColor(Qt::white));      // upper-left cap: the highlight
    EXPECT_EQ(at(off, 0, 0), kBackground);            // corners stay untouched
    EXPECT_EQ(at(off, 8, 8), kBackground);
    EXPECT_EQ(at(off, 8, 0), kBackground);

    led.setLedOn(true);
    QImage on = render(led);
    EXPECT_EQ(at(on, 6, 6), QColor(255, 0, 0));
    EXPECT_EQ(at(on, 2, 2), QColor(Qt::white));
    EXPECT_EQ(at(on, 0, 0), kBackground);

    // The highlight lies in the upper-left half only.
    int whiteUpperLeft = 0, whiteLowerRight = 0;
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 9; ++x)
            if (at(on, x, y) == QColor(Qt::white))
                (x + y < 8 ? whiteUpperLeft : whiteLowerRight)++;
    EXPECT_GT(whiteUpperLeft, 0);
    EXPECT_EQ(whiteLowerRight, 0);
}

TEST(TdsLed, TrianglesPointTheirWay) {
    TdsLed led;
    led.resize(24, 24);
    const QColor off(255, 0, 0);
    struct Case {
        TdsLedShape shape;
        QPoint inside;
        QPoint outside;
    };
    const Case cases[] = {
        // Upright side on the left, point on the right.
        {TdsLedShape::ltTriangleLeft, {2, 12}, {22, 2}},
        {TdsLedShape::ltTriangleLeft, {21, 12}, {22, 21}},
        // Upright side on the right, point on the left.
        {TdsLedShape::ltTriangleRight, {21, 12}, {2, 2}},
        {TdsLedShape::ltTriangleRight, {2, 12}, {2, 21}},
        // Base at the bottom, point at the top.
        {TdsLedShape::ltTriangleTop, {12, 21}, {2, 2}},
        {TdsLedShape::ltTriangleTop, {12, 2}, {21, 2}},
        // Base at the top, point at the bottom.
        {TdsLedShape::ltTriangleBottom, {12, 2}, {2, 21}},
        {TdsLedShape::ltTriangleBottom, {12, 21}, {21, 21}},
    };
    for (const Case& c : cases) {
        led.setShape(c.shape);
        const QImage img = render(led);
        EXPECT_EQ(at(img, c.inside.x(), c.inside.y()), off) << int(c.shape);
        EXPECT_EQ(at(img, c.outside.x(), c.outside.y()), kBackground) << int(c.shape);
    }
}

TEST(TdsLed, RectangleFillsAndBevelsTakeTheButtonColours) {
    TdsLed led;
    led.resize(12, 10);
    led.setShape(TdsLedShape::ltRectangle);
    QImage plain = render(led);
    EXPECT_EQ(at(plain, 0, 0), QColor(255, 0, 0));
    EXPECT_EQ(at(plain, 11, 9), QColor(255, 0, 0));

    // Compared at the 8 bits per channel the image holds.
    const QColor shadow(led.palette().color(QPalette::Dark).rgb());
    const QColor light(led.palette().color(QPalette::Light).rgb());
    ASSERT_NE(shadow, light);
    led.setBevel(TdsLedBevel::blLowered);
    QImage lowered = render(led);
    EXPECT_EQ(at(lowered, 0, 5), shadow);
    EXPECT_EQ(at(lowered, 1, 5), shadow);  // two pixels wide
    EXPECT_EQ(at(lowered, 5, 0), shadow);
    EXPECT_EQ(at(lowered, 11, 5), light);
    EXPECT_EQ(at(lowered, 5, 9), light);
    EXPECT_EQ(at(lowered, 5, 5), QColor(255, 0, 0));

    led.setBevel(TdsLedBevel::blRaised);
    QImage raised = render(led);
    EXPECT_EQ(at(raised, 0, 5), light);
    EXPECT_EQ(at(raised, 11, 5), shadow);

    led.setBevel(TdsLedBevel::blBorder);
    QImage border = render(led);
    EXPECT_EQ(at(border, 0, 5), shadow);
    EXPECT_EQ(at(border, 11, 5), shadow);
    EXPECT_EQ(at(border, 1, 5), QColor(255, 0, 0));
}

TEST(TdsLed, OwnerDrawWithoutHandlerDrawsNothing) {
    TdsLed led;
    led.setStyle(TdsLedStyle::lsOwnerDraw);
    QImage img = render(led);
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            ASSERT_EQ(at(img, x, y), kBackground) << x << "," << y;
}

TEST(TdsLed, OwnerDrawHandlerGetsTheRectangleAndTheLampColour) {
    TdsLed led;
    led.resize(10, 6);
    led.setLedOn(true);
    led.setStyle(TdsLedStyle::lsOwnerDraw);
    QRect seen;
    QColor brush;
    led.OnDrawLed = [&](TdsLed* sender, const QRect& rect, QPainter& canvas) {
        EXPECT_EQ(sender, &led);
        seen = rect;
        brush = canvas.brush().color();
        canvas.fillRect(QRect(0, 0, 2, 2), Qt::blue);
    };
    QImage img = render(led);
    EXPECT_EQ(seen, QRect(0, 0, 10, 6));
    EXPECT_EQ(brush, QColor(0, 255, 0));
    EXPECT_EQ(at(img, 0, 0), QColor(Qt::blue));
    EXPECT_EQ(at(img, 5, 3), kBackground);  // the standard lamp is not drawn
}

TEST(TdsLed, ChangeOnlyOnARealChangeAndAfterTheRepaint) {
    CountingLed led;
    led.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&led));
    led.paints = 0;
    int changes = 0;
    TdsLed* sender = nullptr;
    led.OnChange = [&](TdsLed* s) {
        ++changes;
        sender = s;
    };
    led.setLedOn(false);
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(led.paints, 0);

    led.setLedOn(true);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(sender, &led);
    ASSERT_EQ(led.paintsAtChange.size(), 1u);
    EXPECT_EQ(led.paintsAtChange[0], 1);  // painted once, before the notification

    led.setLedOn(true);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(led.paints, 1);

    led.setLedOn(false);
    EXPECT_EQ(changes, 2);
}

TEST(TdsLed, SettersRepaintOnlyOnChange) {
    CountingLed led;
    led.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&led));
    led.paints = 0;
    led.setOnColor(clLime);
    led.setOffColor(clRed);
    led.setBevel(TdsLedBevel::blNone);
    led.setShape(TdsLedShape::ltEllipse);
    EXPECT_EQ(led.paints, 0);
    led.setOnColor(clSilver);
    led.setOffColor(clWhite);
    led.setBevel(TdsLedBevel::blBorder);
    led.setShape(TdsLedShape::ltRectangle);
    EXPECT_EQ(led.paints, 4);
    EXPECT_EQ(led.OnColor(), clSilver);
    EXPECT_EQ(led.OffColor(), clWhite);
    // Style is stored only.
    led.setStyle(TdsLedStyle::lsOwnerDraw);
    EXPECT_EQ(led.paints, 4);
    EXPECT_EQ(led.Style(), TdsLedStyle::lsOwnerDraw);
    EXPECT_TRUE(led.paintsAtChange.empty());
}

// A data lamp switched for every block of a fast feed: its state and change calls follow every
// switch, its paints follow the screen's pace, and a lit spell between two paints is shown.
TEST(TdsLed, CoalescedSwitchingShowsEveryLitSpellAndPaintsAtTheScreensPace) {
    TdsLed led;
    led.setOnColor(clRed);
    led.setOffColor(clSilver);
    led.setStyle(TdsLedStyle::lsOwnerDraw);
    std::vector<QColor> painted;
    led.OnDrawLed = [&](TdsLed*, const QRect&, QPainter& canvas) {
        painted.push_back(canvas.brush().color());
    };
    int changes = 0;
    led.OnChange = [&](TdsLed*) { ++changes; };
    led.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&led));
    QTest::qWait(50);
    painted.clear();

    // Lit (painted at once: the last paint was long ago), out, lit and out again at once:
    // the second lit spell had no paint of its own, so the next paint shows it, and the last
    // paint shows the lamp as it is.
    const QColor on = colorFromTColor(clRed);
    const QColor off = colorFromTColor(clSilver);
    led.setLedOnCoalesced(true);
    ASSERT_EQ(painted, std::vector<QColor>{on});
    led.setLedOnCoalesced(false);
    led.setLedOnCoalesced(true);
    led.setLedOnCoalesced(false);
    EXPECT_FALSE(led.LedOn());
    EXPECT_EQ(changes, 4);
    QTest::qWait(100);
    EXPECT_EQ(painted, (std::vector<QColor>{on, on, off}));

    // Two thousand switches in a burst cost a handful of paints, not one each.
    painted.clear();
    for (int i = 0; i < 1000; ++i) {
        led.setLedOnCoalesced(true);
        led.setLedOnCoalesced(false);
    }
    EXPECT_EQ(changes, 2004);
    QTest::qWait(100);
    EXPECT_LT(painted.size(), 200u);
    ASSERT_FALSE(painted.empty());
    EXPECT_EQ(painted.back(), off);
}
