#include "widgets/ByteTableWindow.h"

#include <QCloseEvent>
#include <QStatusBar>
#include <algorithm>

#include "widgets/ByteGridView.h"
#include "widgets/FramePacer.h"

namespace trelmo {

namespace {
constexpr int kGridLeft = 8;
constexpr int kGridWidth = 241;
constexpr int kGridHeight = 553;
constexpr int kColumnWidth = 44;
constexpr int kColumnCount = 5;
constexpr int kRowHeight = 16;
constexpr int kFormWidth = 278;
constexpr int kFormHeight = 630;
}  // namespace

TForm4::TForm4(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("Form4"));
    setWindowTitle(QStringLiteral("Trelmo Table Format"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setGeometry(962, 124, kFormWidth, kFormHeight);
    // Rows arrive by the thousand a second while the window follows the newest: paint at
    // most once a frame.
    new trelmo::FramePacer(this);

    StringGrid1 = new trelmo::ByteGridView(this);
    StringGrid1->setObjectName(QStringLiteral("StringGrid1"));
    StringGrid1->setGeometry(kGridLeft, 0, kGridWidth, kGridHeight);
    StringGrid1->setFocusPolicy(Qt::ClickFocus);
    StringGrid1->setRowHeight(kRowHeight);
    for (int c = 0; c < kColumnCount; ++c)
        StringGrid1->setColumnWidth(c, kColumnWidth);
    StringGrid1->setVisible(true);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);
    StatusBar1->setGeometry(0, kFormHeight - 19, kFormWidth, 19);
}

void TForm4::setTableModel(QAbstractItemModel* model) {
    StringGrid1->setModel(model);
}

void TForm4::closeEvent(QCloseEvent* event) {
    event->accept();  // the window is hidden, not destroyed
    emit closed();
}

void TForm4::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // The grid keeps its distance from the bottom edge and grows with the window.
    const int statusHeight = StatusBar1->sizeHint().height();
    StatusBar1->setGeometry(0, height() - statusHeight, width(), statusHeight);
    const int bottomGap = kFormHeight - kGridHeight;
    StringGrid1->setGeometry(kGridLeft, 0, kGridWidth, std::max(0, height() - bottomGap));
}

}  // namespace trelmo
