#include "widgets/Unit4.h"

#include <QAbstractItemModel>
#include <QCloseEvent>
#include <QHeaderView>
#include <QStatusBar>
#include <QTableView>

namespace {
constexpr int kGridLeft = 8;
constexpr int kGridWidth = 241;
constexpr int kGridHeight = 553;
constexpr int kColumnWidth = 44;
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

    StringGrid1 = new QTableView(this);
    StringGrid1->setObjectName(QStringLiteral("StringGrid1"));
    StringGrid1->setGeometry(kGridLeft, 0, kGridWidth, kGridHeight);
    StringGrid1->setFocusPolicy(Qt::ClickFocus);
    StringGrid1->horizontalHeader()->setMinimumSectionSize(kColumnWidth);
    StringGrid1->horizontalHeader()->setDefaultSectionSize(kColumnWidth);
    StringGrid1->verticalHeader()->setMinimumSectionSize(kRowHeight);
    StringGrid1->verticalHeader()->setDefaultSectionSize(kRowHeight);
    StringGrid1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    StringGrid1->verticalHeader()->hide();
    StringGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    StringGrid1->setWordWrap(false);
    StringGrid1->setVisible(true);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);
    StatusBar1->setGeometry(0, kFormHeight - 19, kFormWidth, 19);
}

void TForm4::setTableModel(QAbstractItemModel* model) {
    model_ = model;
    StringGrid1->setModel(nullptr);
    attachModel(isVisible());
}

void TForm4::attachModel(bool on) {
    QAbstractItemModel* wanted = on ? model_.data() : nullptr;
    if (StringGrid1->model() == wanted)
        return;
    StringGrid1->setModel(wanted);
    for (int c = 0; wanted && c < wanted->columnCount(); ++c)
        StringGrid1->setColumnWidth(c, kColumnWidth);
}

void TForm4::showEvent(QShowEvent* event) {
    attachModel(true);
    QWidget::showEvent(event);
}

void TForm4::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    attachModel(false);
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
