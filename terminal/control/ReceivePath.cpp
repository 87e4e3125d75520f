#include "terminal/control/ReceivePath.h"

#include "core/LocaleText.h"
#include "core/receive/CheckSum.h"

namespace trelmo {

ReceivePath::ReceivePath(QObject* parent) : QObject(parent), pane_(this), table_(this) {
    table_.setObjectName(QStringLiteral("Table"));
}

void ReceivePath::showReceived(QByteArrayView block, const LinkPolicy& policy, LineParity parity) {
    if (tap_)
        tap_(block, ReceiveFormatter::paneKind(policy, hexMode_));
    emit lampChanged(true);
    const ReceiveResult result = formatter_.receiveBlock(state_, block, policy, hexMode_, parity);
    if (result.moreThan10k)
        emit lineInfoChanged(QString::fromLatin1(kMoreThan10kText));
    receivedLabel_ = result.labelRec;
    emit receivedLabelChanged(receivedLabel_);
    emit checkSumLabelChanged(result.crcText);
    showCounters();
    if (result.showParity) {
        emit parityLabelChanged(result.parityText);
        emit lineInfoChanged(result.parityText);
    }
    emit lampChanged(false);
}

void ReceivePath::showReceiveFailure() {
    emit lampChanged(true);
    emit countersPanelChanged(QStringLiteral("Exception receive ") + currentTimeText());
}

void ReceivePath::addLine(const QString& text) {
    pane_.addLine(text, state_.LineIndex);
}

void ReceivePath::clear() {
    pane_.clear();
    state_.LineIndex = 0;
    state_.ReceivedCount = 0;
    table_.clear();
    emit lineInfoChanged(QString());
    receivedLabel_ = ReceiveFormatter::receivedLabel(0);
    emit receivedLabelChanged(receivedLabel_);
    showCounters();
}

void ReceivePath::resetCheckSum() {
    emit checkSumLabelChanged(trelmo::resetCheckSum(state_.CheckSum));
}

void ReceivePath::setSentCount(int sent, bool show) {
    sentLabel_ = QStringLiteral("Total send: ") + QString::number(sent);
    emit sentLabelChanged(sentLabel_);
    if (show)
        showCounters();
}

void ReceivePath::showCounters() {
    emit countersPanelChanged(countersText(sentLabel_, receivedLabel_));
}

}  // namespace trelmo
