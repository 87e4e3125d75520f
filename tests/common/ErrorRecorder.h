#pragma once
// Records what reaches the default error display (trelmo::setErrorSink) while it lives, for
// the layers below the windows: what the program shows as an error box, without windows.

#include <QString>
#include <QStringList>

#include "core/Guard.h"

namespace trelmo::test {

class ErrorRecorder {
  public:
    ErrorRecorder() {
        setErrorSink([this](const QString& message) { messages << message; });
    }
    ~ErrorRecorder() { setErrorSink({}); }
    ErrorRecorder(const ErrorRecorder&) = delete;
    ErrorRecorder& operator=(const ErrorRecorder&) = delete;

    // The last message, empty when none.
    QString lastText() const { return messages.isEmpty() ? QString() : messages.last(); }

    // Every message, in order.
    QStringList messages;
};

}  // namespace trelmo::test
