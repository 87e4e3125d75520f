#pragma once
// What the receive pane offers beyond showing the bytes, added to the main window after its
// controls and wired to its receive path:
// - Tools → "Time stamps" (Action_timestamps, a checkable action of the window, off at
//   first): every pane line behind the arrival time of its first byte, in the pane, its
//   copies and the text log (terminal/control/ReceivePath.h).
// - the find bar under the pane (terminal/FindBar.h): Ctrl+F in the pane or "Find…" in its
//   pop-up menu (Action_find), F3 and Shift+F3 (Action_findNext, Action_findPrevious) for the
//   next and the previous match, in the pane and in the bar.
// - Tools → "Echo sent commands" (Action_echo, off at first): what each send writes, shown in
//   the pane on lines of their own marked as sent (terminal/control/ReceivePath.h).
// - Tools → "UTF-8 text" (Action_utf8, off at first: the code page): received text read as
//   UTF-8, the whole pane shown anew at once.

#include <QObject>

class QAction;
class QMainWindow;
class QMenu;

namespace trelmo {

class FindBar;
class ReceivePath;
class ReceivePaneView;

class PaneTools : public QObject {
    Q_OBJECT
  public:
    // The actions go to the Tools menu (`tools`) and the pane's pop-up menu (`popup`); the
    // find bar goes right under the pane in the pane's layout.
    PaneTools(QMainWindow* window, QMenu* tools, QMenu* popup, ReceivePaneView* pane,
              ReceivePath& receive);

    QAction* timeStampsAction() const { return timeStamps_; }
    QAction* echoAction() const { return echo_; }
    QAction* utf8Action() const { return utf8_; }
    QAction* findAction() const { return find_; }
    FindBar* findBar() const { return bar_; }

  private:
    QAction* timeStamps_ = nullptr;
    QAction* echo_ = nullptr;
    QAction* utf8_ = nullptr;
    QAction* find_ = nullptr;
    FindBar* bar_ = nullptr;
};

}  // namespace trelmo
