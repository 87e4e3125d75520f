#include "terminal/PaneTools.h"

#include <QAction>
#include <QBoxLayout>
#include <QMainWindow>
#include <QMenu>

#include "core/Guard.h"
#include "terminal/FindBar.h"
#include "terminal/ReceivePaneView.h"
#include "terminal/control/ReceivePath.h"

namespace trelmo {
namespace {

// An action whose keys work while the focus is in any of `widgets`.
QAction* keyAction(QObject* parent, const char* name, const QKeySequence& keys,
                   std::initializer_list<QWidget*> widgets) {
    auto* a = new QAction(parent);
    a->setObjectName(QString::fromLatin1(name));
    a->setShortcut(keys);
    a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    for (QWidget* w : widgets)
        w->addAction(a);
    return a;
}

}  // namespace

PaneTools::PaneTools(QMainWindow* window, QMenu* tools, QMenu* popup, ReceivePaneView* pane,
                     ReceivePath& receive)
    : QObject(window) {
    setObjectName(QStringLiteral("PaneTools"));

    // ---- Time stamps ----------------------------------------------------------------------
    timeStamps_ = new QAction(QStringLiteral("&Time stamps"), window);
    timeStamps_->setObjectName(QStringLiteral("Action_timestamps"));
    timeStamps_->setCheckable(true);
    timeStamps_->setChecked(receive.timeStamps());
    tools->addAction(timeStamps_);
    connect(timeStamps_, &QAction::toggled, &receive, &ReceivePath::setTimeStamps);
    connect(&receive, &ReceivePath::timeStampsChanged, this, [this, pane, &receive](bool on) {
        timeStamps_->setChecked(on);
        if (on)
            pane->setLinePrefix([&receive](int line) { return receive.lineStamp(line); },
                                StampClock::widestStamp());
        else
            pane->setLinePrefix({}, QString());
    });

    // ---- Echo, UTF-8 -------------------------------------------------------------------------
    auto option = [&](const QString& text, const char* name) {
        auto* a = new QAction(text, window);
        a->setObjectName(QString::fromLatin1(name));
        a->setCheckable(true);
        tools->addAction(a);
        return a;
    };
    echo_ = option(QStringLiteral("&Echo sent commands"), "Action_echo");
    echo_->setChecked(receive.echo());
    connect(echo_, &QAction::toggled, &receive, &ReceivePath::setEcho);
    utf8_ = option(QStringLiteral("&UTF-8 text"), "Action_utf8");
    utf8_->setChecked(receive.utf8());
    connect(utf8_, &QAction::toggled, &receive, &ReceivePath::setUtf8);
    connect(&receive, &ReceivePath::utf8Changed, utf8_, &QAction::setChecked);

    // ---- Find -----------------------------------------------------------------------------
    QWidget* host = pane->parentWidget();
    bar_ = new FindBar(pane, receive.pane(), host);
    if (auto* box = qobject_cast<QBoxLayout*>(host ? host->layout() : nullptr))
        box->insertWidget(box->indexOf(pane) + 1, bar_);

    find_ = keyAction(window, "Action_find", QKeySequence::Find, {pane, bar_});
    find_->setText(QStringLiteral("Find\u2026"));
    popup->addAction(find_);
    connect(find_, &QAction::triggered, bar_, guarded([this] { bar_->open(); }));
    QAction* next = keyAction(window, "Action_findNext", QKeySequence(Qt::Key_F3), {pane, bar_});
    connect(next, &QAction::triggered, bar_, guarded([this] { bar_->findNext(); }));
    QAction* previous = keyAction(window, "Action_findPrevious",
                                  QKeySequence(Qt::SHIFT | Qt::Key_F3), {pane, bar_});
    connect(previous, &QAction::triggered, bar_, guarded([this] { bar_->findPrevious(); }));
}

}  // namespace trelmo
