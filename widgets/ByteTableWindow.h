#pragma once
// TForm4: the byte table window. It shows StringGrid1, a view on the byte-table model the
// main window fills, and hides (never destroys itself) when closed, telling the main window.
// Its columns are as wide as their longest texts need in the window's font and style (the
// number column for eight digits, wider once a long table's numbers need more); it opens at
// its place unless that is off the screen's free area.

#include <QWidget>

class QAbstractItemModel;
class QStatusBar;

namespace trelmo {

class ByteGridView;
class LongTableModel;

class TForm4 : public QWidget {
    Q_OBJECT
  public:
    explicit TForm4(QWidget* parent = nullptr);

    // The grid's model (not owned); nullptr leaves the grid empty. The grid keeps nothing
    // per row, so it holds the model whether the window is shown or hidden.
    void setTableModel(QAbstractItemModel* model);

    trelmo::ByteGridView* StringGrid1 = nullptr;
    QStatusBar* StatusBar1 = nullptr;

  signals:
    // The window was closed (by its close box or by close()) and is now hidden.
    void closed();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    // Widens the number column when the table's numbers have more digits than it holds.
    void fitNumberColumn();

    int gridWidth_ = 0;                // as wide as the columns the font needs, and the scroll bar
    LongTableModel* table_ = nullptr;  // the model, when it is a long table
    int numberDigits_ = 0;             // digits the number column holds
};

}  // namespace trelmo
