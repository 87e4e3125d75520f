#include "terminal/PaneView.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include "terminal/PaneModel.h"

namespace trelmo {
namespace {

// A line's text as one line of the document: block separators become blanks.
QString oneLine(QStringView text) {
    QString out = text.toString();
    for (QChar& c : out) {
        const char16_t u = c.unicode();
        if (u == u'\n' || u == u'\r' || u == 0x2028 || u == 0x2029 || u == 0xFDD0 || u == 0xFDD1)
            c = u' ';
    }
    return out;
}

}  // namespace

PaneView::PaneView(PaneModel& model, QPlainTextEdit* edit)
    : QObject(edit), m_model(model), m_edit(edit) {
    m_edit->setReadOnly(true);
    m_edit->setUndoRedoEnabled(false);
    m_timer.setSingleShot(true);
    m_timer.setInterval(25);
    connect(&m_timer, &QTimer::timeout, this, &PaneView::flush);
    connect(&model, &PaneModel::lineChanged, this, &PaneView::onLineChanged);
    connect(&model, &PaneModel::linesAppended, this, &PaneView::schedule);
    connect(&model, &PaneModel::cleared, this, &PaneView::onCleared);
    connect(&model, &QObject::destroyed, this, [this] { m_timer.stop(); });
    m_resetPending = true;
    schedule();
}

void PaneView::schedule() {
    if (!m_timer.isActive())
        m_timer.start();
}

void PaneView::onLineChanged(int index) {
    if (index < m_dirtyFrom)
        m_dirtyFrom = index;
    schedule();
}

void PaneView::onCleared() {
    m_resetPending = true;
    schedule();
}

void PaneView::flush() {
    m_timer.stop();
    if (!m_edit)
        return;
    QTextDocument* doc = m_edit->document();
    QScrollBar* bar = m_edit->verticalScrollBar();
    const bool atBottom = bar->value() >= bar->maximum();
    const int oldScroll = bar->value();
    const QTextCursor before = m_edit->textCursor();
    const int anchor = before.anchor();
    const int position = before.position();
    int firstEdit = doc->characterCount();  // lowest position touched by this update

    QTextCursor cur(doc);
    cur.beginEditBlock();
    if (m_resetPending) {
        cur.select(QTextCursor::Document);
        cur.removeSelectedText();
        m_shownLines = 0;
        m_resetPending = false;
        firstEdit = 0;
    }
    const int lines = m_model.lineCount();
    // Grown lines that are already shown: append what is new.
    for (int i = m_dirtyFrom; i < m_shownLines && i < lines; ++i) {
        const QTextBlock block = doc->findBlockByNumber(i);
        const int shown = block.length() - 1;
        const QString& text = m_model.lines().at(i);
        if (text.size() == shown)
            continue;
        if (text.size() > shown) {
            cur.setPosition(block.position() + shown);
            cur.insertText(oneLine(QStringView(text).mid(shown)));
            firstEdit = std::min(firstEdit, block.position() + shown);
        } else {  // not a growth: show the line afresh
            cur.setPosition(block.position());
            cur.setPosition(block.position() + shown, QTextCursor::KeepAnchor);
            cur.insertText(oneLine(text));
            firstEdit = std::min(firstEdit, block.position());
        }
    }
    // New lines at the end, in one insertion.
    if (lines > m_shownLines) {
        QString add;
        qsizetype size = 0;
        for (int i = m_shownLines; i < lines; ++i)
            size += m_model.lines().at(i).size() + 1;
        add.reserve(size);
        for (int i = m_shownLines; i < lines; ++i) {
            if (i > 0)
                add += u'\n';
            add += oneLine(m_model.lines().at(i));
        }
        cur.movePosition(QTextCursor::End);
        firstEdit = std::min(firstEdit, cur.position());
        cur.insertText(add);
        m_shownLines = lines;
    }
    cur.endEditBlock();
    m_dirtyFrom = 0x7fffffff;

    // The user's selection stays where it was when it lay before the changes.
    if (anchor <= firstEdit && position <= firstEdit) {
        const QTextCursor now = m_edit->textCursor();
        if (now.anchor() != anchor || now.position() != position) {
            QTextCursor keep(doc);
            keep.setPosition(anchor);
            keep.setPosition(position, QTextCursor::KeepAnchor);
            m_edit->setTextCursor(keep);
        }
    }
    if (atBottom)
        bar->setValue(bar->maximum());
    else
        bar->setValue(oldScroll);
}

}  // namespace trelmo
