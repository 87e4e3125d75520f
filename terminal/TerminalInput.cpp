#include "terminal/TerminalInput.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <algorithm>
#include <limits>

namespace trelmo {

KeyRuleFilter::KeyRuleFilter(QObject* parent, std::function<void(QChar&)> rule)
    : QObject(parent), rule_(std::move(rule)) {}

bool KeyRuleFilter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    const QString text = key->text();
    if (text.size() != 1)
        return false;
    QChar c = text.at(0);
    const char16_t u = c.unicode();
    if (!c.isPrint() && u != 8 && u != 10 && u != 13)
        return false;
    rule_(c);
    return c.unicode() == 27;
}

TypedInputValidator::TypedInputValidator(QLineEdit* edit, int limit, KeyRule rule)
    : QValidator(edit), edit_(edit), limit_(limit), rule_(std::move(rule)), before_(edit->text()) {
    edit->setMaxLength(std::numeric_limits<int>::max());
    edit->setValidator(this);
    connect(edit, &QLineEdit::textChanged, this, [this](const QString& text) { before_ = text; });
}

QValidator::State TypedInputValidator::validate(QString& input, int& pos) const {
    if (!edit_->isModified())
        return Acceptable;  // a text the program set
    // What the user inserted: the text between the parts the old and the new text share.
    const QString& before = before_;
    const qsizetype most = std::min(input.size(), before.size());
    qsizetype head = 0;
    while (head < most && input[head] == before[head])
        ++head;
    qsizetype tail = 0;
    while (tail < most - head && input[input.size() - 1 - tail] == before[before.size() - 1 - tail])
        ++tail;
    const qsizetype from = head;
    const qsizetype to = input.size() - tail;
    if (rule_) {
        for (qsizetype i = from; i < to; ++i)
            if (!rule_(input[i]))
                return Invalid;  // the edit takes it back
    }
    const qsizetype allowed = std::max<qsizetype>(limit_, before.size());
    if (input.size() > allowed) {
        const qsizetype cut = std::min(input.size() - allowed, to - from);
        input.remove(to - cut, cut);
        pos = static_cast<int>(std::min<qsizetype>(to - cut, input.size()));
    }
    return Acceptable;
}

void applyInputRules(QLineEdit* edit, int limit, const std::function<void(QChar&)>& rule) {
    edit->installEventFilter(new KeyRuleFilter(edit, rule));
    new TypedInputValidator(edit, limit, [rule](QChar c) {
        rule(c);
        return c.unicode() != 27;
    });
}

namespace {

constexpr char16_t kEscape = 27;

bool isEditKey(QChar c) {
    return c.unicode() == 8 || c.unicode() == 10 || c.unicode() == 13;
}

bool isDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

void digitsOnly(QChar& key) {
    if (!isDigit(key) && !isEditKey(key))
        key = QChar(kEscape);
}

}  // namespace

void Edit_ipKeyPress(QChar& Key) {
    if (!isDigit(Key) && Key != QLatin1Char('.') && !isEditKey(Key))
        Key = QChar(kEscape);
}

void Edit_portKeyPress(QChar& Key) {
    digitsOnly(Key);
}

void Edit_ipTimeKeyPress(QChar& Key) {
    digitsOnly(Key);
}

void Edit_delay_commandKeyPress(QChar& Key) {
    digitsOnly(Key);
}

void Combo_speedKeyPress(QChar& Key) {
    digitsOnly(Key);
}

}  // namespace trelmo
