#pragma once
// What a step of the M-Bus logic hands back to the window: what it made, when it made
// something, and the messages for the user that came up on the way, in their order. The
// logic never shows a message; the window shows each one in a plain message box, in that
// order, where the step ran.
//
// A step may make its value and still have messages (a multitelegram goes out without the
// record whose check failed), make nothing and say why, or make nothing and say nothing (a
// Send with no action chosen). Result<> (void) is a check: passed, or refused with its
// message.
//
// A conversion error (EConvertError) leaves a step as the exception it is, except the Send:
// a multitelegram may already have messages when it comes, so the Send catches it and hands
// it back behind them (abandoned()). The window shows the messages, then throwIfAbandoned()
// lets the error go on to the default error display.

#include <QString>
#include <QStringList>
#include <exception>
#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

namespace trelmo::mbus {

template <typename T = void>
class [[nodiscard]] Result {
    using Value = std::conditional_t<std::is_void_v<T>, std::monostate, T>;

  public:
    // A check that passed.
    Result() requires std::is_void_v<T> : value_(std::in_place) {}
    // A step that made its value, with nothing to say.
    Result(Value value) requires(!std::is_void_v<T>) : value_(std::move(value)) {}

    // Nothing made, and the message why.
    static Result refused(const QString& message) {
        Result r{Nothing{}};
        r.messages_.append(message);
        return r;
    }
    // Nothing made, for what another step said (its messages and its error, if any).
    template <typename U>
    static Result refused(const Result<U>& why) {
        Result r{Nothing{}};
        r.messages_ = why.messages();
        r.error_ = why.error();
        return r;
    }
    // Nothing made, nothing to say.
    static Result nothing() { return Result{Nothing{}}; }
    // Nothing made: a conversion error ended the step after these messages.
    static Result abandoned(QStringList messages, std::exception_ptr error) {
        Result r{Nothing{}};
        r.messages_ = std::move(messages);
        r.error_ = std::move(error);
        return r;
    }

    // True when the step made its value (a check: passed).
    bool ok() const { return value_.has_value(); }
    explicit operator bool() const { return ok(); }

    // What the step made; only when ok().
    const Value& operator*() const requires(!std::is_void_v<T>) { return value_.value(); }
    const Value* operator->() const requires(!std::is_void_v<T>) { return &value_.value(); }
    // What the step made, if anything.
    const std::optional<Value>& value() const requires(!std::is_void_v<T>) { return value_; }

    // The messages for the user, in the order they came up.
    const QStringList& messages() const { return messages_; }
    // Appends messages that came up after this result's own.
    void addMessages(const QStringList& later) { messages_ += later; }

    // The conversion error that abandoned the step, or null.
    const std::exception_ptr& error() const { return error_; }
    bool abandoned() const { return static_cast<bool>(error_); }
    // Rethrows that error; does nothing for a step that was not abandoned.
    void throwIfAbandoned() const {
        if (error_)
            std::rethrow_exception(error_);
    }

  private:
    struct Nothing {};
    explicit Result(Nothing) {}

    std::optional<Value> value_;
    QStringList messages_;
    std::exception_ptr error_;
};

}  // namespace trelmo::mbus
