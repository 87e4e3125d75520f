#pragma once
// The application object and the default error display: an exception that escapes an
// event handler is shown in a modal box with its message and the program carries on.

#include <QApplication>
#include <exception>
#include <utility>

namespace trelmo {

// Shows an exception's message in the default error box (through the dialog seam).
void showException(const std::exception& error);
void showUnknownException();

// Runs fn; an exception escaping it goes to the default error display.
template <typename F>
void runGuarded(F&& fn) {
    try {
        std::forward<F>(fn)();
    } catch (const std::exception& e) {
        showException(e);
    } catch (...) {
        showUnknownException();
    }
}

// Wraps a handler for connect(): [..]{ runGuarded(handler); }.
template <typename F>
auto guarded(F fn) {
    return [fn = std::move(fn)](auto&&...) mutable { runGuarded(fn); };
}

class TrelmoApplication : public QApplication {
    Q_OBJECT
  public:
    TrelmoApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace trelmo
