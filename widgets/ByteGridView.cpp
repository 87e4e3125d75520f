#include "widgets/ByteGridView.h"

#include <QAbstractItemModel>
#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionHeader>
#include <algorithm>
#include <climits>

#include "core/receive/LongTableModel.h"
#include "widgets/FollowBottom.h"

namespace trelmo {

ByteGridView::ByteGridView(QWidget* parent) : QAbstractScrollArea(parent) {
    setFocusPolicy(Qt::ClickFocus);
    viewport()->setBackgroundRole(QPalette::Base);
    verticalScrollBar()->setSingleStep(1);
    updateScrollBars();
}

void ByteGridView::setModel(QAbstractItemModel* model) {
    if (model_ == model)
        return;
    if (model_)
        disconnect(model_, nullptr, this, nullptr);
    model_ = model;
    long_ = qobject_cast<LongTableModel*>(model);
    if (model_) {
        auto* m = model_.data();
        // A long model tells of every row appended, past Qt's rows too.
        if (long_)
            connect(long_, &LongTableModel::longRowsInserted, this,
                    &ByteGridView::onLongRowsInserted);
        else
            connect(m, &QAbstractItemModel::rowsInserted, this, &ByteGridView::onRowsInserted);
        connect(m, &QAbstractItemModel::rowsRemoved, this, &ByteGridView::onRowsRemoved);
        connect(m, &QAbstractItemModel::modelReset, this, &ByteGridView::onReset);
        connect(m, &QAbstractItemModel::layoutChanged, this, &ByteGridView::onLayoutChanged);
        connect(m, &QAbstractItemModel::columnsInserted, this, &ByteGridView::onLayoutChanged);
        connect(m, &QAbstractItemModel::columnsRemoved, this, &ByteGridView::onLayoutChanged);
        connect(m, &QAbstractItemModel::dataChanged, this, &ByteGridView::onDataChanged);
        connect(m, &QAbstractItemModel::headerDataChanged, viewport(),
                qOverload<>(&QWidget::update));
        connect(m, &QObject::destroyed, this, &ByteGridView::onModelDestroyed);
    }
    currentRow_ = -1;
    anchorRow_ = -1;
    currentColumn_ = firstBodyColumn();
    top_ = 0;
    updateScrollBars();
    setTop(0);
    viewport()->update();
}

void ByteGridView::setRowHeight(int height) {
    rowHeight_ = std::max(1, height);
    updateScrollBars();
    viewport()->update();
}

int ByteGridView::columnWidth(int column) const {
    if (column < 0)
        return 0;
    return column < columnWidths_.size() ? columnWidths_[column] : kDefaultColumnWidth;
}

void ByteGridView::setColumnWidth(int column, int width) {
    if (column < 0)
        return;
    if (column >= columnWidths_.size())
        columnWidths_.resize(column + 1, kDefaultColumnWidth);
    columnWidths_[column] = std::max(0, width);
    updateScrollBars();
    viewport()->update();
}

qint64 ByteGridView::modelRows() const {
    if (!model_)
        return 0;
    return long_ ? long_->longRowCount() : model_->rowCount();
}

int ByteGridView::columnCount() const {
    return model_ ? model_->columnCount() : 0;
}

int ByteGridView::pageRowCount() const {
    return std::max(0, viewport()->height() - rowHeight_) / rowHeight_;
}

int ByteGridView::fitRowCount() const {
    const int bodyHeight = std::max(0, viewport()->height() - rowHeight_);
    return (bodyHeight + rowHeight_ - 1) / rowHeight_;
}

int ByteGridView::paintedRowCount() const {
    return static_cast<int>(std::clamp<qint64>(modelRows() - top_, 0, fitRowCount()));
}

void ByteGridView::scrollToRow(qint64 row) {
    setTop(row);
}

bool ByteGridView::isAtBottom() const {
    return showsBottom(*verticalScrollBar());
}

qint64 ByteGridView::maxTop() const {
    return std::max<qint64>(0, modelRows() - std::max(1, pageRowCount()));
}

int ByteGridView::barValueOf(qint64 top) const {
    const QScrollBar* v = verticalScrollBar();
    if (top >= maxTop())
        return v->maximum();
    return static_cast<int>(std::min<qint64>(top / vScale_, std::max(0, v->maximum() - 1)));
}

void ByteGridView::setTop(qint64 top) {
    top_ = std::clamp<qint64>(top, 0, maxTop());
    const int value = barValueOf(top_);
    QScrollBar* v = verticalScrollBar();
    if (v->value() != value) {
        settingBar_ = true;
        v->setValue(value);
        settingBar_ = false;
    }
    viewport()->update();
}

int ByteGridView::totalWidth() const {
    int total = 0;
    for (int c = 0; c < columnCount(); ++c)
        total += columnWidth(c);
    return total;
}

int ByteGridView::columnX(int column) const {
    if (column <= 0)
        return 0;
    int x = columnWidth(0) - horizontalScrollBar()->value();
    for (int c = 1; c < column; ++c)
        x += columnWidth(c);
    return x;
}

int ByteGridView::columnAt(int x) const {
    const int columns = columnCount();
    if (columns == 0 || x < 0)
        return -1;
    if (x < columnWidth(0))
        return 0;
    for (int c = 1; c < columns; ++c) {
        const int left = columnX(c);
        if (x >= left && x < left + columnWidth(c))
            return c;
    }
    return -1;
}

QString ByteGridView::headerText(int column) const {
    return model_ ? model_->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString()
                  : QString();
}

QString ByteGridView::cellText(qint64 row, int column) const {
    if (!model_)
        return QString();
    // The rows Qt's model has through data(); past them, the long model's texts.
    if (row < model_->rowCount())
        return model_->data(model_->index(static_cast<int>(row), column), Qt::DisplayRole)
            .toString();
    return long_ ? long_->longCellText(row, column) : QString();
}

QList<QStringList> ByteGridView::visibleTexts() const {
    QList<QStringList> rows;
    const int columns = columnCount();
    QStringList header;
    for (int c = 0; c < columns; ++c)
        header.append(headerText(c));
    rows.append(header);
    const qint64 first = firstVisibleRow();
    for (qint64 r = first, end = first + paintedRowCount(); r < end; ++r) {
        QStringList cells;
        for (int c = 0; c < columns; ++c)
            cells.append(cellText(r, c));
        rows.append(cells);
    }
    return rows;
}

QStyleOptionHeader ByteGridView::fixedCellOption(const QRect& rect, int column,
                                                 const QString& text) const {
    QStyleOptionHeader opt;
    opt.initFrom(this);
    opt.rect = rect;
    opt.section = column;
    opt.text = text;
    opt.textAlignment = Qt::AlignLeft | Qt::AlignVCenter;
    opt.orientation = Qt::Horizontal;
    opt.position = QStyleOptionHeader::Middle;
    opt.state |= QStyle::State_Raised | QStyle::State_Horizontal;
    return opt;
}

QRect ByteGridView::textRect(const QRect& cell, bool fixed) const {
    if (!fixed)
        return cell.adjusted(2, 0, -2, 0);
    const QStyleOptionHeader opt = fixedCellOption(cell, 0, QString());
    return style()->subElementRect(QStyle::SE_HeaderLabel, &opt, this);
}

int ByteGridView::columnWidthToShow(const QStringList& fixedTexts,
                                    const QStringList& bodyTexts) const {
    const QFontMetrics metrics = fontMetrics();
    // The least width whose text rectangle holds `advance`.
    auto widthFor = [&](int advance, bool fixed) {
        int w = advance;
        for (int i = 0; i < 16; ++i) {
            const int room = textRect(QRect(0, 0, w, rowHeight_), fixed).width();
            if (room >= advance)
                break;
            w += advance - room;
        }
        return w;
    };
    int width = 0;
    for (const QString& text : fixedTexts)
        width = std::max(width, widthFor(metrics.horizontalAdvance(text), true));
    for (const QString& text : bodyTexts)
        width = std::max(width, widthFor(metrics.horizontalAdvance(text), false));
    return width;
}

void ByteGridView::updateScrollBars() {
    // A page of at least one row, so that a grid too small to show a row (or not laid out
    // yet) still has its bottom at the last row.
    const int page = std::max(1, pageRowCount());
    QScrollBar* v = verticalScrollBar();
    // More rows than the bar holds: a step of the bar stands for several rows.
    constexpr qint64 kBarMax = INT_MAX / 2;
    const qint64 last = maxTop();
    vScale_ = last > kBarMax ? (last + kBarMax - 1) / kBarMax : 1;
    settingBar_ = true;
    v->setRange(0, static_cast<int>((last + vScale_ - 1) / vScale_));
    v->setPageStep(static_cast<int>(std::max<qint64>(1, page / vScale_)));
    settingBar_ = false;
    top_ = std::min(top_, last);
    if (v->value() != barValueOf(top_)) {
        settingBar_ = true;
        v->setValue(barValueOf(top_));
        settingBar_ = false;
    }
    QScrollBar* h = horizontalScrollBar();
    const int scrollable = std::max(0, viewport()->width() - columnWidth(0));
    h->setRange(0, std::max(0, totalWidth() - columnWidth(0) - scrollable));
    h->setPageStep(std::max(1, scrollable));
    h->setSingleStep(std::max(1, columnWidth(firstBodyColumn()) / 2));
}

void ByteGridView::scrollContentsBy(int, int) {
    if (!settingBar_) {
        // The bar was moved (by the user, or followBottom): the top row follows it.
        const QScrollBar* v = verticalScrollBar();
        top_ = v->value() >= v->maximum() ? maxTop()
                                          : std::min(qint64(v->value()) * vScale_, maxTop());
    }
    viewport()->update();
}

void ByteGridView::resizeEvent(QResizeEvent* event) {
    followBottom(*verticalScrollBar(), [&] {
        QAbstractScrollArea::resizeEvent(event);
        updateScrollBars();
    });
}

void ByteGridView::onRowsInserted(const QModelIndex& parent, int first, int last) {
    if (parent.isValid())
        return;
    rowsInserted(first, last);
}

void ByteGridView::onLongRowsInserted(qint64 first, qint64 last) {
    rowsInserted(first, last);
}

void ByteGridView::rowsInserted(qint64 first, qint64 last) {
    const qint64 count = last - first + 1;
    if (currentRow_ >= first)
        currentRow_ += count;
    if (anchorRow_ >= first)
        anchorRow_ += count;
    QScrollBar* v = verticalScrollBar();
    const qint64 top = top_;
    // Following is judged on the range before the insertion; a changed value repaints
    // through scrollContentsBy.
    followBottom(*v, [this] { updateScrollBars(); });
    // Without scrolling, only an insertion point in view changes what is painted.
    if (top_ == top && first < top + fitRowCount())
        viewport()->update();
}

void ByteGridView::onRowsRemoved(const QModelIndex& parent, int first, int last) {
    if (parent.isValid())
        return;
    const int count = last - first + 1;
    auto adjust = [&](qint64& row) {
        if (row > last)
            row -= count;
        else if (row >= first)
            row = std::min<qint64>(first, modelRows() - 1);
    };
    adjust(currentRow_);
    adjust(anchorRow_);
    updateScrollBars();
    viewport()->update();
}

void ByteGridView::onReset() {
    currentRow_ = -1;
    anchorRow_ = -1;
    onLayoutChanged();
}

void ByteGridView::onLayoutChanged() {
    const qint64 rows = modelRows();
    if (currentRow_ >= rows || anchorRow_ >= rows) {
        currentRow_ = -1;
        anchorRow_ = -1;
    }
    currentColumn_ = std::clamp(currentColumn_, firstBodyColumn(), std::max(0, columnCount() - 1));
    updateScrollBars();
    viewport()->update();
}

void ByteGridView::onDataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight) {
    const qint64 first = firstVisibleRow();
    if (bottomRight.row() >= first && topLeft.row() < first + paintedRowCount())
        viewport()->update();
}

void ByteGridView::onModelDestroyed() {
    model_ = nullptr;
    long_ = nullptr;
    currentRow_ = -1;
    anchorRow_ = -1;
    updateScrollBars();
    viewport()->update();
}

void ByteGridView::setCurrentCell(qint64 row, int column, bool extend) {
    const qint64 rows = modelRows();
    const int columns = columnCount();
    if (rows == 0 || columns == 0)
        return;
    currentRow_ = std::clamp<qint64>(row, 0, rows - 1);
    currentColumn_ = std::clamp(column, firstBodyColumn(), columns - 1);
    if (!extend || anchorRow_ < 0)
        anchorRow_ = currentRow_;
    scrollToCurrent();
    viewport()->update();
}

void ByteGridView::scrollToCurrent() {
    const int page = std::max(1, pageRowCount());
    if (currentRow_ < top_)
        setTop(currentRow_);
    else if (currentRow_ >= top_ + page)
        setTop(currentRow_ - page + 1);
    // Horizontally: the current column's right edge in view, then its left edge.
    if (currentColumn_ > 0) {
        QScrollBar* h = horizontalScrollBar();
        const int fixed = columnWidth(0);
        const int left = columnX(currentColumn_) + h->value();  // unscrolled position
        const int right = left + columnWidth(currentColumn_);
        const int view = viewport()->width();
        if (right - h->value() > view)
            h->setValue(right - view);
        if (left - h->value() < fixed)
            h->setValue(left - fixed);
    }
}

QString ByteGridView::copyText() const {
    if (currentRow_ < 0 || !model_)
        return QString();
    if (anchorRow_ < 0 || anchorRow_ == currentRow_)
        return cellText(currentRow_, currentColumn_);
    QString text;
    const int columns = columnCount();
    for (qint64 r = std::min(anchorRow_, currentRow_), end = std::max(anchorRow_, currentRow_);
         r <= end; ++r) {
        for (int c = 0; c < columns; ++c) {
            if (c > 0)
                text += u'\t';
            text += cellText(r, c);
        }
        text += u'\n';
    }
    return text;
}

void ByteGridView::copyToClipboard() {
    if (currentRow_ < 0)
        return;
    if (QClipboard* clipboard = QGuiApplication::clipboard())
        clipboard->setText(copyText());
}

void ByteGridView::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy)) {
        copyToClipboard();
        event->accept();
        return;
    }
    const qint64 rows = modelRows();
    if (rows == 0 || columnCount() == 0) {
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    // Without a current cell the keys start from the top row in view: a step key makes it
    // current, the others move from it.
    qint64 row = currentRow_ >= 0 ? currentRow_ : firstVisibleRow();
    int column = currentColumn_;
    const int step = currentRow_ >= 0 ? 1 : 0;
    const int page = std::max(1, pageRowCount());
    switch (event->key()) {
        case Qt::Key_Up:
            row -= step;
            break;
        case Qt::Key_Down:
            row += step;
            break;
        case Qt::Key_PageUp:
            row -= step * page;
            break;
        case Qt::Key_PageDown:
            row += step * page;
            break;
        case Qt::Key_Left:
            column -= step;
            break;
        case Qt::Key_Right:
            column += step;
            break;
        case Qt::Key_Home:
            if (ctrl)
                row = 0;
            else
                column = firstBodyColumn();
            break;
        case Qt::Key_End:
            if (ctrl)
                row = rows - 1;
            else
                column = columnCount() - 1;
            break;
        default:
            QAbstractScrollArea::keyPressEvent(event);
            return;
    }
    setCurrentCell(row, column, shift);
    event->accept();
}

void ByteGridView::mouseReleaseEvent(QMouseEvent* event) {
    // The press did the work; the release of a left click is the grid's too.
    if (event->button() == Qt::LeftButton)
        event->accept();
    else
        QAbstractScrollArea::mouseReleaseEvent(event);
}

void ByteGridView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    const QPoint pos = event->position().toPoint();
    const int column = columnAt(pos.x());
    if (pos.y() < rowHeight_ || column < 0)
        return;  // the header row or past the last column
    const qint64 row = firstVisibleRow() + (pos.y() - rowHeight_) / rowHeight_;
    if (row >= modelRows())
        return;
    // A click in the fixed first column picks the row's first cell.
    setCurrentCell(row, column, event->modifiers() & Qt::ShiftModifier);
}

void ByteGridView::paintEvent(QPaintEvent*) {
    QPainter p(viewport());
    const int columns = columnCount();
    const int rh = rowHeight_;
    const int fixedWidth = columnWidth(0);
    const int viewWidth = viewport()->width();
    const QPalette& pal = palette();
    const QColor gridColor = pal.color(QPalette::Mid);

    // A fixed cell: drawn like a header section.
    auto fixedCell = [&](const QRect& rect, int column, const QString& text) {
        const QStyleOptionHeader opt = fixedCellOption(rect, column, text);
        style()->drawControl(QStyle::CE_Header, &opt, &p, this);
    };

    const qint64 first = firstVisibleRow();
    const int painted = paintedRowCount();
    const qint64 selFirst = std::min(anchorRow_, currentRow_);
    const qint64 selLast = std::max(anchorRow_, currentRow_);
    const bool manyRows = currentRow_ >= 0 && selFirst != selLast;
    // The scrolling columns, kept right of the fixed column.
    p.save();
    p.setClipRect(QRect(fixedWidth, rh, std::max(0, viewWidth - fixedWidth), rh * painted));
    for (int i = 0; i < painted; ++i) {
        const qint64 row = first + i;
        const int y = rh + i * rh;
        for (int c = 1; c < columns; ++c) {
            const QRect cell(columnX(c), y, columnWidth(c), rh);
            if (cell.right() < fixedWidth || cell.left() >= viewWidth)
                continue;
            const bool current = row == currentRow_ && c == currentColumn_;
            const bool selected = current || (manyRows && row >= selFirst && row <= selLast);
            if (selected)
                p.fillRect(cell, pal.brush(QPalette::Highlight));
            p.setPen(gridColor);
            p.drawLine(cell.topRight(), cell.bottomRight());
            p.drawLine(cell.bottomLeft(), cell.bottomRight());
            p.setPen(pal.color(selected ? QPalette::HighlightedText : QPalette::Text));
            p.drawText(textRect(cell, false), Qt::AlignLeft | Qt::AlignVCenter, cellText(row, c));
            if (current && manyRows)
                p.drawRect(cell.adjusted(0, 0, -1, -1));  // the current cell of a selection
        }
    }
    p.restore();
    // The fixed first column.
    for (int i = 0; columns > 0 && i < painted; ++i)
        fixedCell(QRect(0, rh + i * rh, fixedWidth, rh), 0, cellText(first + i, 0));

    // The header row over everything, its first cell fixed like the first column.
    p.save();
    p.setClipRect(QRect(fixedWidth, 0, std::max(0, viewWidth - fixedWidth), rh));
    for (int c = 1; c < columns; ++c) {
        const QRect cell(columnX(c), 0, columnWidth(c), rh);
        if (cell.right() >= fixedWidth && cell.left() < viewWidth)
            fixedCell(cell, c, headerText(c));
    }
    p.restore();
    if (columns > 0)
        fixedCell(QRect(0, 0, fixedWidth, rh), 0, headerText(0));
}

}  // namespace trelmo
