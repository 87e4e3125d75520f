#include "terminal/FindBar.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QToolButton>

#include "core/Guard.h"
#include "terminal/ReceivePaneView.h"

namespace trelmo {
namespace {

template <typename W>
W* named(W* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

}  // namespace

FindBar::FindBar(ReceivePaneView* pane, const PaneModel& model, QWidget* parent)
    : QWidget(parent), pane_(pane), finder_(model, this) {
    setObjectName(QStringLiteral("Panel_find"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(8, 0, 8, 0);
    row->setSpacing(4);

    row->addWidget(named(new QLabel(QStringLiteral("Find:"), this), "Label_findPrompt"));
    edit_ = named(new QLineEdit(this), "Edit_find");
    edit_->setMaxLength(PaneFinder::kMaxPattern);
    edit_->setClearButtonEnabled(true);
    edit_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    edit_->installEventFilter(this);
    row->addWidget(edit_, 1);

    mode_ = named(new QComboBox(this), "Combo_findMode");
    mode_->addItems({QStringLiteral("Text"), QStringLiteral("Hex"), QStringLiteral("#hh")});
    mode_->setToolTip(
        QStringLiteral("Text: the characters shown. Hex: bytes as hex pairs (0D 0A). #hh: bytes "
                       "as a command string (#0D#0A)."));
    row->addWidget(mode_);

    matchCase_ = named(new QCheckBox(QStringLiteral("Match case"), this), "Check_findCase");
    row->addWidget(matchCase_);

    previous_ = named(new QToolButton(this), "Butt_findPrevious");
    previous_->setArrowType(Qt::UpArrow);
    previous_->setToolTip(QStringLiteral("Previous match (Shift+F3)"));
    row->addWidget(previous_);
    next_ = named(new QToolButton(this), "Butt_findNext");
    next_->setArrowType(Qt::DownArrow);
    next_->setToolTip(QStringLiteral("Next match (F3)"));
    row->addWidget(next_);

    label_ = named(new QLabel(this), "Label_find");
    label_->setMinimumWidth(
        label_->fontMetrics().horizontalAdvance(QStringLiteral("0000 of 000000…")));
    row->addWidget(label_);

    close_ = named(new QToolButton(this), "Butt_findClose");
    close_->setText(QStringLiteral("\u00D7"));
    close_->setToolTip(QStringLiteral("Close (Esc)"));
    close_->setAutoRaise(true);
    row->addWidget(close_);

    counter_.setSingleShot(true);
    counter_.setInterval(0);
    connect(&counter_, &QTimer::timeout, this, guarded([this] { countOn(); }));
    connect(edit_, &QLineEdit::textChanged, this, guarded([this] { restart(); }));
    connect(mode_, &QComboBox::currentIndexChanged, this, guarded([this] {
                matchCase_->setEnabled(mode_->currentIndex() == 0);
                restart();
            }));
    connect(matchCase_, &QCheckBox::toggled, this, guarded([this] { restart(); }));
    connect(next_, &QToolButton::clicked, this, guarded([this] { findNext(); }));
    connect(previous_, &QToolButton::clicked, this, guarded([this] { findPrevious(); }));
    connect(close_, &QToolButton::clicked, this, guarded([this] { dismiss(); }));
    connect(&finder_, &PaneFinder::cleared, this, &FindBar::onCleared);
    connect(&model, &PaneModel::grown, this, [this] {
        if (isVisible() && finder_.hasPattern() && !counter_.isActive())
            counter_.start(50);
    });
    hide();
    updateLabel();
}

FindBar::~FindBar() {
    if (pane_)
        pane_->setHighlighter({});
}

// ---- Opening and closing ------------------------------------------------------------------

void FindBar::open() {
    const bool wasHidden = isHidden();
    QWidget::show();
    edit_->setFocus(Qt::ShortcutFocusReason);
    edit_->selectAll();
    if (wasHidden) {
        if (pane_)
            pane_->setHighlighter(
                [this](int line, qsizetype from, qsizetype to, std::vector<MatchSpan>& out) {
                    finder_.spansOnLine(line, from, to, out);
                });
        if (finder_.hasPattern())
            counter_.start(0);
    }
}

void FindBar::dismiss() {
    counter_.stop();
    hide();
    if (pane_) {
        pane_->setHighlighter({});
        pane_->setFocus(Qt::OtherFocusReason);
    }
}

// ---- Finding ------------------------------------------------------------------------------

void FindBar::restart() {
    FindQuery query;
    query.typed = edit_->text();
    query.input = static_cast<FindQuery::Input>(mode_->currentIndex());
    query.caseSensitive = matchCase_->isChecked();
    error_ = finder_.setQuery(query);
    std::optional<PaneMatch> found;
    if (error_ == FindError::None && pane_) {
        // From the current match on (typing on keeps it while it still matches), or from the
        // selection or the top of the view.
        PanePosition from{pane_->firstVisibleLine(), 0};
        if (current_)
            from = current_->start;
        else if (pane_->hasSelection())
            from = pane_->selectionStart();
        found = finder_.findNext(from, false);
    }
    showMatch(found);
    counter_.stop();
    if (error_ == FindError::None)
        counter_.start(0);
    if (pane_)
        pane_->viewport()->update();
}

void FindBar::findNext() {
    if (isHidden())
        open();
    if (!finder_.hasPattern())
        return;
    std::optional<PaneMatch> found;
    if (current_)
        found = finder_.findNext(current_->start, true);
    else
        found = finder_.findNext(pane_ ? pane_->caret() : PanePosition{}, false);
    showMatch(found);
}

void FindBar::findPrevious() {
    if (isHidden())
        open();
    if (!finder_.hasPattern())
        return;
    const PanePosition before =
        current_ ? current_->start : (pane_ ? pane_->caret() : PanePosition{});
    showMatch(finder_.findPrevious(before));
}

void FindBar::showMatch(const std::optional<PaneMatch>& match) {
    current_ = match;
    if (match && pane_) {
        pane_->flush();
        pane_->setSelection(match->start, match->end);
        pane_->ensureVisible(match->end);
        pane_->ensureVisible(match->start);
    }
    updateLabel();
}

void FindBar::countOn() {
    if (!finder_.hasPattern())
        return;
    const bool done = finder_.countSome(int64_t(kSliceMs) * 1000000);
    updateLabel();
    if (!done)
        counter_.start(0);
}

void FindBar::onCleared() {
    current_.reset();
    updateLabel();
    if (isVisible() && finder_.hasPattern())
        counter_.start(0);
}

// ---- What the label says ------------------------------------------------------------------

QString FindBar::statusText() const {
    switch (error_) {
        case FindError::None:
            break;
        case FindError::Empty:
            return QString();
        case FindError::NotHex:
            return QStringLiteral("Not hex bytes (0D 0A)");
        case FindError::NotEscapes:
            return QStringLiteral("Not a command string (#0D#0A)");
        case FindError::TooLong:
            return QStringLiteral("Too long");
    }
    const bool done = finder_.counted();
    const qsizetype total = finder_.count();
    const QString more = done ? QString() : QStringLiteral("\u2026");
    if (done && total == 0)
        return QStringLiteral("No matches");
    if (current_) {
        if (const std::optional<qsizetype> n = finder_.numberOf(*current_))
            return QStringLiteral("%1 of %2").arg(*n).arg(total) + more;
        return QStringLiteral("%1 found").arg(total) + more;
    }
    if (!done)
        return QStringLiteral("%1 found").arg(total) + more;
    return total == 1 ? QStringLiteral("1 match") : QStringLiteral("%1 matches").arg(total);
}

void FindBar::updateLabel() {
    label_->setText(statusText());
}

// ---- Keys ---------------------------------------------------------------------------------

void FindBar::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        dismiss();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool FindBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched == edit_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            runGuarded([&] {
                if (key->modifiers() & Qt::ShiftModifier)
                    findPrevious();
                else
                    findNext();
            });
            return true;
        }
        if (key->key() == Qt::Key_Escape) {
            dismiss();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace trelmo
