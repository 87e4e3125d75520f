#include "widgets/ByteTableWindow.h"

#include <QCloseEvent>
#include <QScrollBar>
#include <QStatusBar>
#include <algorithm>

#include "core/receive/ByteStore.h"
#include "core/receive/ByteTableModel.h"
#include "core/receive/LongTableModel.h"
#include "widgets/ByteGridView.h"
#include "widgets/FramePacer.h"
#include "widgets/ScreenFit.h"

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
// Digits the number column holds at first.
constexpr int kNumberDigits = 8;
constexpr int kFormLeft = 962;
constexpr int kFormTop = 124;

// The longest texts each column is expected to show: its heading, and its cells for any byte
// with names and without (the number up to eight digits).
struct ColumnTexts {
    QStringList fixed;
    QStringList body;
};

QList<ColumnTexts> columnTexts() {
    ByteStore all;
    for (int b = 0; b < 256; ++b) {
        all.append(uint8_t(b), true, LineParity::Odd);
        all.append(uint8_t(b), false, LineParity::Even);
    }
    QList<ColumnTexts> columns(ByteStore::ColumnCount);
    for (int c = 0; c < ByteStore::ColumnCount; ++c) {
        columns[c].fixed.append(ByteTableModel::heading(c));
        QStringList& cells = c == ByteStore::ColNo ? columns[c].fixed : columns[c].body;
        if (c == ByteStore::ColNo) {
            for (char digit = '0'; digit <= '9'; ++digit)
                cells.append(QString(kNumberDigits, QLatin1Char(digit)));
            continue;
        }
        // Control characters without a name show no glyph of their own (a tab would count
        // as a tab stop's width).
        for (qsizetype i = 0; i < all.size(); ++i) {
            const QString cell = all.cellText(i, c);
            if (cell.size() > 1 || (cell.size() == 1 && cell.front().isPrint()))
                cells.append(cell);
        }
    }
    return columns;
}
}  // namespace

TForm4::TForm4(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("Form4"));
    setWindowTitle(QStringLiteral("Trelmo Table Format"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    // Rows arrive by the thousand a second while the window follows the newest: paint at
    // most once a frame.
    new trelmo::FramePacer(this);

    StringGrid1 = new trelmo::ByteGridView(this);
    StringGrid1->setObjectName(QStringLiteral("StringGrid1"));
    StringGrid1->setFocusPolicy(Qt::ClickFocus);
    // Rows and columns as the grid was drawn for an 8-point font, larger where the texts
    // need it in this font and style: every column shows its longest cell whole, and the
    // grid is as wide as its columns and its scroll bar.
    StringGrid1->setRowHeight(std::max(kRowHeight, StringGrid1->fontMetrics().height() + 2));
    int columns = 0;
    const QList<ColumnTexts> texts = columnTexts();
    for (int c = 0; c < kColumnCount; ++c) {
        const int w =
            std::max(kColumnWidth, StringGrid1->columnWidthToShow(texts[c].fixed, texts[c].body));
        StringGrid1->setColumnWidth(c, w);
        columns += w;
    }
    gridWidth_ = std::max(kGridWidth - kColumnCount * kColumnWidth,
                          StringGrid1->verticalScrollBar()->sizeHint().width() +
                              2 * StringGrid1->frameWidth()) +
                 columns;
    StringGrid1->setGeometry(kGridLeft, 0, gridWidth_, kGridHeight);
    StringGrid1->setVisible(true);
    numberDigits_ = kNumberDigits;

    // The window as much wider as the grid is; on the screen's free area.
    const int formWidth = kFormWidth - kGridWidth + gridWidth_;
    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);
    StatusBar1->setGeometry(0, kFormHeight - 19, formWidth, 19);
    placeOnScreen(this, QRect(kFormLeft, kFormTop, formWidth, kFormHeight));
}

void TForm4::setTableModel(QAbstractItemModel* model) {
    if (table_)
        disconnect(table_, nullptr, this, nullptr);
    StringGrid1->setModel(model);
    table_ = qobject_cast<LongTableModel*>(model);
    if (table_) {
        connect(table_, &LongTableModel::longRowsInserted, this, &TForm4::fitNumberColumn);
        connect(table_, &QAbstractItemModel::modelReset, this, &TForm4::fitNumberColumn);
        connect(table_, &QObject::destroyed, this, [this] { table_ = nullptr; });
    }
    fitNumberColumn();
}

void TForm4::fitNumberColumn() {
    if (!table_)
        return;
    // The highest number is the row count less the empty row.
    const auto digits = static_cast<int>(QString::number(table_->longRowCount() - 1).size());
    if (digits <= numberDigits_)
        return;
    numberDigits_ = digits;
    QStringList numbers;
    for (char digit = '0'; digit <= '9'; ++digit)
        numbers.append(QString(digits, QLatin1Char(digit)));
    const int width = StringGrid1->columnWidthToShow(numbers, {});
    if (width > StringGrid1->columnWidth(0))
        StringGrid1->setColumnWidth(0, width);
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
    StringGrid1->setGeometry(kGridLeft, 0, gridWidth_, std::max(0, height() - bottomGap));
}

}  // namespace trelmo
