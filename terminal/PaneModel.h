#pragma once
// The receive pane's lines. The pane is a list of text lines; its text is the lines joined
// by "\n" (an empty pane reads as ""). Lines only grow (text appended, lines added at the
// end) until the pane is cleared, and every change is signalled so a view can follow it
// without re-reading the whole text.
//
// Adding a whole line follows one rule everywhere: if the last line is empty (or the pane
// is empty) that line takes the text and a new empty line follows it; otherwise the text
// becomes the new last line. Either way the caller's line index advances by one, so after a
// line break it names the new empty last line, and after a message added behind a partly
// received line it names the message line.

#include <QObject>
#include <QString>
#include <QStringList>
#include <QStringView>

namespace trelmo {

class PaneModel : public QObject {
    Q_OBJECT
  public:
    explicit PaneModel(QObject* parent = nullptr);

    // Adds a whole line by the rule above; lineIndex += 1.
    void addLine(QStringView text, int& lineIndex);
    // The empty line of a line break: addLine with an empty text; lineIndex += 1.
    void addEmptyLine(int& lineIndex) { addLine(QStringView(), lineIndex); }
    // Appends text to line `index` (0-based). A non-empty text for a line past the end
    // first extends the pane with empty lines up to it; an empty text changes nothing.
    // A negative index is ignored.
    void appendToLine(int index, QStringView text);
    // Empties the pane.
    void clear();

    int lineCount() const { return static_cast<int>(m_lines.size()); }
    bool isEmpty() const { return m_lines.isEmpty(); }
    // Line `index`; an index out of range gives an empty text.
    QString line(int index) const;
    // The lines as held, including an empty last line after a line break.
    const QStringList& lines() const { return m_lines; }
    // The lines joined by "\n".
    QString text() const;

  signals:
    // Text was appended to an existing line.
    void lineChanged(int index);
    // count lines were added at the end, the first of them at index first.
    void linesAppended(int first, int count);
    // The pane was emptied.
    void cleared();

  private:
    QStringList m_lines;
};

}  // namespace trelmo
