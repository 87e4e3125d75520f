#pragma once
// The default error display, as the layers below the windows see it: an exception that
// escapes an event handler goes to one sink, which the windows layer connects to its modal
// error box when the program starts. Until a sink is connected (a program without windows,
// a unit test) the message goes to Qt's log.

#include <QString>
#include <exception>
#include <functional>
#include <utility>

namespace trelmo {

// Receives the message of every error that reaches the default error display.
using ErrorSink = std::function<void(const QString& message)>;
// Connects the sink (an empty one: back to the log).
void setErrorSink(ErrorSink sink);

// Hands an exception's message (or "Unknown error") to the sink.
void reportException(const std::exception& error);
void reportUnknownException();

// Runs fn; an exception escaping it goes to the default error display.
template <typename F>
void runGuarded(F&& fn) {
    try {
        std::forward<F>(fn)();
    } catch (const std::exception& e) {
        reportException(e);
    } catch (...) {
        reportUnknownException();
    }
}

// Wraps a handler for connect(): [..]{ runGuarded(handler); }.
template <typename F>
auto guarded(F fn) {
    return [fn = std::move(fn)](auto&&...) mutable { runGuarded(fn); };
}

}  // namespace trelmo
