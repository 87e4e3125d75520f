#pragma once
// TForm4: the byte table window. It shows StringGrid1, a view on the byte-table model the
// main window fills, and hides (never destroys itself) when closed, telling the main window.

#include <QAbstractItemModel>
#include <QPointer>
#include <QWidget>

class QAbstractItemModel;
class QStatusBar;
class QTableView;

class TForm4 : public QWidget {
    Q_OBJECT
  public:
    explicit TForm4(QWidget* parent = nullptr);

    // The grid's model (not owned); nullptr leaves the grid empty. The grid holds the model
    // only while the window is shown: a table view keeps a record of every row in its row
    // header, several bytes per row, which a long capture must not cost while nobody looks.
    void setTableModel(QAbstractItemModel* model);

    QTableView* StringGrid1 = nullptr;
    QStatusBar* StatusBar1 = nullptr;

  signals:
    // The window was closed (by its close box or by close()) and is now hidden.
    void closed();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    // Gives the grid the model (on) or nothing (off), with the column widths.
    void attachModel(bool on);
    QPointer<QAbstractItemModel> model_;
};
