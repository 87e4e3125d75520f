#include "widgets/Application.h"

#include "core/Guard.h"
#include "widgets/Dialogs.h"

namespace trelmo {

TrelmoApplication::TrelmoApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("trelmo"));
    // No display name is set, not even an empty one: once one is set, platform windows
    // (xcb among them) append it to every caption, and the windows' captions are to reach
    // the window manager exactly as they are.
    setErrorSink(showErrorBox);
}

TrelmoApplication::~TrelmoApplication() {
    setErrorSink({});
}

bool TrelmoApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        reportException(e);
    } catch (...) {
        reportUnknownException();
    }
    return false;
}

}  // namespace trelmo
