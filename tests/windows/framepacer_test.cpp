// The frame pacer: a window changed on every turn of the event loop paints at most about once
// a frame, paints the last change, and still paints at once inside an ImmediatePaint scope.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTest>
#include <QWidget>

#include "widgets/FramePacer.h"

using namespace trelmo;

namespace {

// A window that counts its paints and remembers the value it showed last.
class Counter : public QWidget {
  public:
    int paints = 0;
    int value = 0;
    int shown = -1;

  protected:
    void paintEvent(QPaintEvent*) override {
        ++paints;
        shown = value;
    }
};

}  // namespace

TEST(FramePacer, ChangesOnEveryTurnPaintAtTheFramesPaceAndTheLastOneIsShown) {
    Counter w;
    w.resize(100, 60);
    auto* pacer = new trelmo::FramePacer(&w, 40);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    QTest::qWait(100);
    const int before = w.paints;

    // 400 ms of changes, one per turn of the event loop.
    QElapsedTimer clock;
    clock.start();
    int turns = 0;
    while (clock.elapsed() < 400) {
        ++w.value;
        w.update();
        QCoreApplication::processEvents();
        ++turns;
    }
    QTest::qWait(100);  // the last frame falls due
    const int paints = w.paints - before;
    ASSERT_GT(turns, 100);
    EXPECT_GT(paints, 0);
    // About ten frames of 40 ms; far fewer than the turns in any case.
    EXPECT_LT(paints, turns / 4);
    EXPECT_GT(pacer->heldBack(), 0);
    EXPECT_EQ(w.shown, w.value) << "the last change was painted";
}

TEST(FramePacer, ImmediatePaintGoesThroughAtOnce) {
    Counter w;
    w.resize(100, 60);
    new trelmo::FramePacer(&w, 1000);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    w.repaint();  // a paint: the next frame is a second away
    w.value = 7;
    {
        const trelmo::FramePacer::ImmediatePaint now;
        w.repaint();
    }
    EXPECT_EQ(w.shown, 7);
    // Without the scope a repaint this soon waits for the frame.
    w.value = 8;
    w.repaint();
    EXPECT_EQ(w.shown, 7);
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.shown == 8; }, 5000));
}
