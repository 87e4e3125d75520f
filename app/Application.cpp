#include "app/Application.h"

#include "app/Dialogs.h"

namespace trelmo {

void showException(const std::exception& error) {
    showMessage(QString::fromUtf8(error.what()), applicationTitle(), MsgIcon::Error);
}

void showUnknownException() {
    showMessage(QStringLiteral("Unknown error"), applicationTitle(), MsgIcon::Error);
}

TrelmoApplication::TrelmoApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("trelmo"));
    // No display name is set, not even an empty one: once one is set, platform windows
    // (xcb among them) append it to every caption, and the windows' captions are to reach
    // the window manager exactly as they are.
}

bool TrelmoApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        showException(e);
    } catch (...) {
        showUnknownException();
    }
    return false;
}

}  // namespace trelmo
