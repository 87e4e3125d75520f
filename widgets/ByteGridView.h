#pragma once
// ByteGridView: a read-only grid over a table model that keeps nothing per row, so a model
// of tens of millions of rows costs the view no more than one of ten. It paints only the
// rows in view: a fixed header row drawn like buttons from the model's horizontal header,
// then the model rows below it, the first column drawn in the same fixed style. It scrolls
// by whole rows: the vertical bar's value is the model row at the top of the body.
//
// Rows are counted in 64 bits: a model that is a LongTableModel (core/receive) is read
// through its long interface past the int rows Qt's models have (the rows Qt sees are still
// read through data(), the rest through longCellText), and a table of more rows than a
// scroll bar holds scrolls by a few rows a step of the bar.
//
// Rows arriving while the last row is in view keep it in view; otherwise the view stays
// where the user left it. A current cell is set by a click and moved by the keys; Shift
// with a click or a row key selects the rows from the anchor to the current row. Ctrl+C
// copies the current cell's text, or the selected rows.

#include <QAbstractItemModel>
#include <QAbstractScrollArea>
#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QStyleOptionHeader>
#include <QtGlobal>

namespace trelmo {

class LongTableModel;

class ByteGridView : public QAbstractScrollArea {
    Q_OBJECT
  public:
    explicit ByteGridView(QWidget* parent = nullptr);

    // The model shown (not owned; forgotten when it is destroyed); nullptr shows an empty
    // grid. A new model starts at its top with no current cell.
    QAbstractItemModel* model() const { return model_; }
    void setModel(QAbstractItemModel* model);

    // Every row, the header row included, is rowHeight() pixels high (16 unless set).
    int rowHeight() const { return rowHeight_; }
    void setRowHeight(int height);
    // Column widths in pixels; a column never set is kDefaultColumnWidth wide.
    int columnWidth(int column) const;
    void setColumnWidth(int column, int width);
    static constexpr int kDefaultColumnWidth = 44;

    // Grid rows: the header row and every model row.
    qint64 rowCount() const { return modelRows() + 1; }
    // The model row at the top of the body (the vertical bar's value, times the rows a step
    // of the bar stands for).
    qint64 firstVisibleRow() const { return top_; }
    // Model rows that fit wholly below the header row: one page.
    int pageRowCount() const;
    // Scrolls so that model row `row` is at the top, as far as the rows below it allow.
    void scrollToRow(qint64 row);
    // Model rows one step of the vertical bar stands for (1 unless the rows outnumber what
    // the bar holds).
    qint64 rowsPerStep() const { return vScale_; }
    // True when the view shows the last model row in full (rows arriving then keep it so).
    bool isAtBottom() const;

    // The current cell (model row, column); -1 and the first body column when there is
    // none. The selected rows run from the anchor row to the current row.
    qint64 currentRow() const { return currentRow_; }
    int currentColumn() const { return currentColumn_; }
    qint64 anchorRow() const { return anchorRow_; }
    // Makes (row, column) current, clamped to the model, and scrolls it into view; with
    // extend the anchor stays, otherwise it moves to the new row.
    void setCurrentCell(qint64 row, int column, bool extend = false);

    // What Ctrl+C puts on the clipboard: the current cell's text when one row is selected;
    // with several rows, per row its cells joined by tabs, each row ending with a newline.
    // Empty without a current cell.
    QString copyText() const;

    // What the view paints, as texts: first the header row, then one list of cell texts per
    // model row painted from firstVisibleRow() on (the last one possibly cut off).
    QList<QStringList> visibleTexts() const;

    // Where a cell at `cell` (viewport coordinates) has its text drawn: inside the cell's
    // margins for a body cell; for a fixed one (the header row, the first column), where the
    // style puts a header section's label.
    QRect textRect(const QRect& cell, bool fixed) const;
    // The least width of a column whose fixed cells show each of `fixedTexts` whole and whose
    // body cells each of `bodyTexts`, in the view's font and style.
    int columnWidthToShow(const QStringList& fixedTexts, const QStringList& bodyTexts) const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

  private:
    qint64 modelRows() const;
    int columnCount() const;
    int firstBodyColumn() const { return columnCount() > 1 ? 1 : 0; }
    // Rows the body has room for, a partly shown last one included.
    int fitRowCount() const;
    // Model rows painted from firstVisibleRow() on, the partly shown last one included.
    int paintedRowCount() const;
    // Left edge of a column in viewport coordinates; the first column never scrolls.
    int columnX(int column) const;
    int columnAt(int x) const;
    int totalWidth() const;
    QString headerText(int column) const;
    QString cellText(qint64 row, int column) const;
    // The style option a fixed cell is drawn with.
    QStyleOptionHeader fixedCellOption(const QRect& rect, int column, const QString& text) const;

    void updateScrollBars();
    // The last row that can be at the top, and the bar's value for a top row.
    qint64 maxTop() const;
    int barValueOf(qint64 top) const;
    // Puts the top row at `top` (clamped) and the bar's value with it.
    void setTop(qint64 top);
    void scrollToCurrent();
    void copyToClipboard();

    // Model notifications.
    void onRowsInserted(const QModelIndex& parent, int first, int last);
    void onLongRowsInserted(qint64 first, qint64 last);
    void rowsInserted(qint64 first, qint64 last);
    void onRowsRemoved(const QModelIndex& parent, int first, int last);
    void onReset();
    void onLayoutChanged();
    void onDataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight);
    void onModelDestroyed();

    QPointer<QAbstractItemModel> model_;
    LongTableModel* long_ = nullptr;  // model_ when it is one
    QList<int> columnWidths_;
    int rowHeight_ = 16;
    qint64 top_ = 0;     // the model row at the top
    qint64 vScale_ = 1;  // model rows a step of the vertical bar stands for
    bool settingBar_ = false;
    qint64 currentRow_ = -1;
    int currentColumn_ = 0;
    qint64 anchorRow_ = -1;
};

}  // namespace trelmo
