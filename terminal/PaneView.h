#pragma once
// Shows a PaneModel in a read-only QPlainTextEdit (the receive pane, Memo_receive) and keeps
// it in step incrementally: changes are collected and applied on a short timer, in one edit
// block, by appending to the changed lines and adding the new ones; the whole text is never
// set again (only a clear empties it). The view follows new output only when the user was
// at the bottom, and keeps the user's selection.
//
// Once pending events are processed the edit's plainText equals the model's text, except
// for characters a text document cannot hold inside a line: CR, LF, U+2028 and U+2029 in a
// line's text are shown as blanks so that every model line stays one line of the view.

#include <QObject>
#include <QPointer>
#include <QTimer>

class QPlainTextEdit;

namespace trelmo {

class PaneModel;

class PaneView : public QObject {
    Q_OBJECT
  public:
    // Binds `edit` (made read-only) to `model`; the edit shows the model's current text
    // after the first update. Neither is owned; the binding is the edit's child.
    PaneView(PaneModel& model, QPlainTextEdit* edit);

    // Applies pending changes now.
    void flush();
    // True while changes wait for the timer.
    bool hasPending() const { return m_timer.isActive(); }

    // Delay between a change and its display, in milliseconds (default 25).
    void setInterval(int ms) { m_timer.setInterval(ms); }

  private:
    void schedule();
    void onLineChanged(int index);
    void onCleared();

    PaneModel& m_model;
    QPointer<QPlainTextEdit> m_edit;
    QTimer m_timer;
    int m_shownLines = 0;          // model lines the edit holds
    int m_dirtyFrom = 0x7fffffff;  // first shown line that has grown since the last update
    bool m_resetPending = false;   // the edit must be emptied first
};

}  // namespace trelmo
