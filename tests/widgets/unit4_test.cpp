// The byte table window: its frame, its grid and its close behaviour.
#include <gtest/gtest.h>

#include <QHeaderView>
#include <QPointer>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QTableView>

#include "../common/Pump.h"
#include "widgets/Unit4.h"

TEST(TForm4, WindowFrame) {
    TForm4 form;
    EXPECT_EQ(form.windowTitle(), "Trelmo Table Format");
    EXPECT_EQ(form.geometry(), QRect(962, 124, 278, 630));
    const Qt::WindowFlags flags = form.windowFlags();
    EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);
    EXPECT_TRUE(form.isHidden());
    ASSERT_NE(form.StatusBar1, nullptr);
    EXPECT_EQ(form.StatusBar1->objectName(), "StatusBar1");
    EXPECT_EQ(form.findChild<QTableView*>("StringGrid1"), form.StringGrid1);
}

TEST(TForm4, GridGeometryAndCells) {
    TForm4 form;
    QStandardItemModel model(2, 5);
    form.setTableModel(&model);
    QTableView* grid = form.StringGrid1;
    // Hidden, the grid holds no model (its row header would cost memory for every row).
    EXPECT_EQ(grid->model(), nullptr);
    form.show();
    EXPECT_EQ(grid->model(), &model);
    EXPECT_EQ(grid->geometry(), QRect(8, 0, 241, 553));
    for (int c = 0; c < 5; ++c)
        EXPECT_EQ(grid->columnWidth(c), 44) << c;
    EXPECT_EQ(grid->rowHeight(0), 16);
    EXPECT_EQ(grid->rowHeight(1), 16);
    EXPECT_FALSE(grid->focusPolicy() & Qt::TabFocus);
    EXPECT_FALSE(grid->isHidden());

    // The grid grows in height with the window, not in width.
    form.resize(278, 730);
    ASSERT_TRUE(trelmo::test::pumpUntil([&] { return grid->height() != 553; }));
    EXPECT_EQ(grid->height(), 653);
    EXPECT_EQ(grid->width(), 241);
    EXPECT_EQ(grid->x(), 8);

    // Hidden again, the grid lets go of the model; shown, it has it back with its widths.
    form.hide();
    EXPECT_EQ(grid->model(), nullptr);
    form.show();
    EXPECT_EQ(grid->model(), &model);
    EXPECT_EQ(grid->columnWidth(4), 44);
}

TEST(TForm4, CloseHidesAndTells) {
    auto* form = new TForm4;
    QPointer<TForm4> alive(form);
    QSignalSpy spy(form, &TForm4::closed);
    form->show();
    ASSERT_TRUE(form->isVisible());
    EXPECT_TRUE(form->close());
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(spy.count(), 1);
    EXPECT_FALSE(alive.isNull());  // hidden, not destroyed
    form->show();
    EXPECT_TRUE(form->isVisible());
    delete form;
}
