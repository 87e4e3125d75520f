// Following the bottom on a bare scroll bar: a bar at its end goes to its new end when the
// range grows, a bar anywhere else keeps its value, and a bar with nothing to scroll counts
// as at its end.
#include <gtest/gtest.h>

#include <QScrollBar>

#include "widgets/FollowBottom.h"

using namespace trelmo;

TEST(FollowBottom, FollowsTheEndOnlyFromTheEnd) {
    QScrollBar bar(Qt::Vertical);
    bar.setRange(0, 0);
    EXPECT_TRUE(showsBottom(bar)) << "nothing to scroll";
    followBottom(bar, [&] { bar.setRange(0, 10); });
    EXPECT_EQ(bar.value(), 10);
    EXPECT_TRUE(showsBottom(bar));
    followBottom(bar, [&] { bar.setRange(0, 25); });
    EXPECT_EQ(bar.value(), 25);

    // Scrolled up: the value stays while the range grows.
    bar.setValue(5);
    EXPECT_FALSE(showsBottom(bar));
    followBottom(bar, [&] { bar.setRange(0, 40); });
    EXPECT_EQ(bar.value(), 5);
    EXPECT_FALSE(showsBottom(bar));

    // A range shrinking under the value leaves the bar at its end; from there it follows.
    followBottom(bar, [&] { bar.setRange(0, 3); });
    EXPECT_EQ(bar.value(), 3);
    EXPECT_TRUE(showsBottom(bar));
    followBottom(bar, [&] { bar.setRange(0, 8); });
    EXPECT_EQ(bar.value(), 8);

    // A change that leaves the range alone leaves the value alone.
    int calls = 0;
    followBottom(bar, [&] { ++calls; });
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(bar.value(), 8);
}
