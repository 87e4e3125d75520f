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
    setApplicationDisplayName(applicationTitle());
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
