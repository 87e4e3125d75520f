#include "terminal/PaneModel.h"

namespace trelmo {

PaneModel::PaneModel(QObject* parent) : QObject(parent) {}

void PaneModel::addLine(QStringView text, int& lineIndex) {
    if (m_lines.isEmpty()) {
        m_lines.append(text.toString());
        m_lines.append(QString());
        emit linesAppended(0, 2);
    } else if (m_lines.last().isEmpty()) {
        const int last = lineCount() - 1;
        if (!text.isEmpty()) {
            m_lines.last().append(text);
            emit lineChanged(last);
        }
        m_lines.append(QString());
        emit linesAppended(last + 1, 1);
    } else {
        m_lines.append(text.toString());
        emit linesAppended(lineCount() - 1, 1);
    }
    ++lineIndex;
}

void PaneModel::appendToLine(int index, QStringView text) {
    if (text.isEmpty() || index < 0)
        return;
    if (index < lineCount()) {
        m_lines[index].append(text);
        emit lineChanged(index);
        return;
    }
    const int first = lineCount();
    while (lineCount() < index)
        m_lines.append(QString());
    m_lines.append(text.toString());
    emit linesAppended(first, lineCount() - first);
}

void PaneModel::clear() {
    m_lines.clear();
    emit cleared();
}

QString PaneModel::line(int index) const {
    if (index < 0 || index >= lineCount())
        return QString();
    return m_lines.at(index);
}

QString PaneModel::text() const {
    return m_lines.join(QLatin1Char('\n'));
}

}  // namespace trelmo
