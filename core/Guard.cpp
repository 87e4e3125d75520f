#include "core/Guard.h"

#include <QtGlobal>
#include <mutex>

namespace trelmo {
namespace {

std::mutex& sinkMutex() {
    static std::mutex m;
    return m;
}

ErrorSink& sink() {
    static ErrorSink s;
    return s;
}

void deliver(const QString& message) {
    ErrorSink s;
    {
        std::lock_guard l(sinkMutex());
        s = sink();
    }
    if (s)
        s(message);
    else
        qWarning("%s", qUtf8Printable(message));
}

}  // namespace

void setErrorSink(ErrorSink s) {
    std::lock_guard l(sinkMutex());
    sink() = std::move(s);
}

void reportException(const std::exception& error) {
    deliver(QString::fromUtf8(error.what()));
}

void reportUnknownException() {
    deliver(QStringLiteral("Unknown error"));
}

}  // namespace trelmo
