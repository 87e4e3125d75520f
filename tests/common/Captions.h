#pragma once
// Captions as the user sees them. A menu title or an action's text carries its mnemonic as an
// '&' before the underlined letter ("&File" shows "File", Alt+F opens it); "&&" shows one '&'.

#include <QString>

namespace trelmo::test {

// The text without its mnemonic marks, blanks kept ("Connect to &serial " shows "Connect to
// serial ").
inline QString shownCaption(const QString& text) {
    QString shown;
    shown.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != u'&') {
            shown += text[i];
        } else if (i + 1 < text.size() && text[i + 1] == u'&') {
            shown += u'&';
            ++i;
        }
    }
    return shown;
}

}  // namespace trelmo::test
