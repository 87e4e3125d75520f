#pragma once
// A window's layout as a user meets it: the named controls it shows, those that reach past its
// edge, and those that cover one another.

#include <QList>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QWidget>

namespace trelmo::test {

// The named widgets of the window a user sees: shown, with a name of the program's own (not one
// of Qt's inner parts), not windows of their own.
inline QList<QWidget*> shownNamedWidgets(QWidget* window) {
    QList<QWidget*> out;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->objectName().isEmpty() && !w->objectName().startsWith(QLatin1String("qt_")) &&
            w->isVisibleTo(window) && !w->isWindow())
            out << w;
    }
    return out;
}

inline QRect rectInWindow(QWidget* w, QWidget* window) {
    return QRect(w->mapTo(window, QPoint(0, 0)), w->size());
}

// The shown controls that reach past the window's edge.
inline QStringList controlsOutside(QWidget* window) {
    QStringList out;
    for (QWidget* w : shownNamedWidgets(window)) {
        if (!window->rect().contains(rectInWindow(w, window)))
            out << w->objectName();
    }
    return out;
}

// The shown controls that overlap, neither holding the other: "A over B" for each pair.
inline QStringList overlappingControls(QWidget* window) {
    const QList<QWidget*> widgets = shownNamedWidgets(window);
    QStringList out;
    for (int i = 0; i < widgets.size(); ++i) {
        for (int k = i + 1; k < widgets.size(); ++k) {
            QWidget* a = widgets[i];
            QWidget* b = widgets[k];
            if (a->isAncestorOf(b) || b->isAncestorOf(a))
                continue;
            if (rectInWindow(a, window).intersects(rectInWindow(b, window)))
                out << a->objectName() + " over " + b->objectName();
        }
    }
    return out;
}

}  // namespace trelmo::test
