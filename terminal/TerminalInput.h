#pragma once
// What a user may type or paste into a text field of the main window: a key rule for each
// inserted character and a length limit for typing. Both apply to what the user inserts,
// never to a text the program puts there (a loaded setting or a command from a command file
// stays whole however long it is).
//
// - An insertion holding a character the rule refuses is refused whole (the key filters turn
//   such a key into Escape already; this covers pastes and drops).
// - An insertion that would make the text longer than the limit is cut to what fits: a paste
//   keeps its first characters, a key typed at the limit inserts nothing. A text that is
//   already longer (placed by the program) may shrink but not grow.
//
// It is the edit's validator: Qt validates every change before the edit shows it or tells
// anyone. A change the program makes (setText, a choice from a combo box's list) leaves the
// edit unmodified and is always accepted, so a refused text never sticks and opens the edit to
// everything after it.

#include <QObject>
#include <QString>
#include <QValidator>
#include <functional>

class QLineEdit;

namespace trelmo {

// Runs a key rule on the characters typed into a control. A key press whose character the
// rule turns into 27 (Escape) is swallowed, so the control never sees it; keys without a
// printable character (Enter, Backspace, arrows) and shortcuts such as Ctrl+V are left alone,
// so pasting still works (a TypedInputValidator then decides what a paste may hold).
class KeyRuleFilter : public QObject {
  public:
    KeyRuleFilter(QObject* parent, std::function<void(QChar&)> rule);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    std::function<void(QChar&)> rule_;
};

class TypedInputValidator : public QValidator {
    Q_OBJECT
  public:
    using KeyRule = std::function<bool(QChar)>;
    // Becomes `edit`'s validator (and lifts the edit's own length limit, which would cut texts
    // the program sets). A null rule lets every character through.
    TypedInputValidator(QLineEdit* edit, int limit, KeyRule rule = {});

    State validate(QString& input, int& pos) const override;

  private:
    QLineEdit* edit_;
    int limit_;
    KeyRule rule_;
    QString before_;  // the edit's text as last accepted
};

// Puts one key rule on an edit both ways: a KeyRuleFilter for typed keys and a
// TypedInputValidator (with `limit`) for pastes and drops. The rule turns a refused character
// into 27 (Escape).
void applyInputRules(QLineEdit* edit, int limit, const std::function<void(QChar&)>& rule);

// The key rules of the main window's fields: a key other than those passed becomes 27 (the
// escape character), which the field does not insert. Every rule passes backspace (8), line
// feed (10) and carriage return (13).
// Edit_ip: digits and ".".
void Edit_ipKeyPress(QChar& Key);
// Edit_port, Edit_ipTime, Edit_delay_command and Combo_speed: digits.
void Edit_portKeyPress(QChar& Key);
void Edit_ipTimeKeyPress(QChar& Key);
void Edit_delay_commandKeyPress(QChar& Key);
void Combo_speedKeyPress(QChar& Key);

}  // namespace trelmo
