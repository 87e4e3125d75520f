#pragma once
// The find bar under the receive pane (Panel_find), hidden until asked for: what to look for
// (Edit_find), how it is typed (Combo_findMode: "Text", "Hex" for "0D 0A", "#hh" for a command
// string such as "#0D#0A"), "Match case" (Check_findCase, text only), the previous and next
// buttons (Butt_findPrevious, Butt_findNext), where the match stands (Label_find: "3 of 1204",
// "No matches", or why the typed bytes are no bytes) and the close button (Butt_findClose).
//
// Typing looks from the current match (or the top of the view) on; Enter and F3 go to the next
// match, Shift+Enter and Shift+F3 to the previous one, both wrapping around; Esc closes the
// bar and gives the pane the focus back. The match is selected in the pane and scrolled into
// view, and every match in view is highlighted. What matches is core/receive/PaneSearch.h's.
//
// Counting runs in slices of at most kSliceMs on the event loop and goes on over what
// arrives, so a large capture never holds the window up; the label says "…" while it runs.
// A pane emptied meanwhile drops the match and the count.

#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <optional>

#include "core/receive/PaneSearch.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QToolButton;

namespace trelmo {

class ReceivePaneView;

class FindBar : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kSliceMs = 20;

    // The bar for `pane`, which shows `model`.
    FindBar(ReceivePaneView* pane, const PaneModel& model, QWidget* parent = nullptr);
    ~FindBar() override;

    // Shows the bar with the focus in Edit_find, its text selected.
    void open();
    // Hides the bar, drops the highlights and gives the pane the focus.
    void dismiss();
    // The next and the previous match (opening the bar when it is closed).
    void findNext();
    void findPrevious();

    // The match selected by the bar, and the bar's finder.
    const std::optional<PaneMatch>& current() const { return current_; }
    const PaneFinder& finder() const { return finder_; }
    // The text of Label_find.
    QString statusText() const;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // The query changed: compiled again and looked for from the current match on.
    void restart();
    void showMatch(const std::optional<PaneMatch>& match);
    void countOn();
    void updateLabel();
    void onCleared();

    QPointer<ReceivePaneView> pane_;
    PaneFinder finder_;
    FindError error_ = FindError::Empty;
    std::optional<PaneMatch> current_;
    QTimer counter_;

    QLineEdit* edit_ = nullptr;
    QComboBox* mode_ = nullptr;
    QCheckBox* matchCase_ = nullptr;
    QToolButton* previous_ = nullptr;
    QToolButton* next_ = nullptr;
    QLabel* label_ = nullptr;
    QToolButton* close_ = nullptr;
};

}  // namespace trelmo
