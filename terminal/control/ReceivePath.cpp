#include "terminal/control/ReceivePath.h"

#include <algorithm>

#include "core/LocaleText.h"
#include "core/receive/CheckSum.h"

namespace trelmo {

ReceivePath::ReceivePath(QObject* parent) : QObject(parent), pane_(this), table_(this) {
    table_.setObjectName(QStringLiteral("Table"));
}

void ReceivePath::showReceived(QByteArrayView block, const LinkPolicy& policy, LineParity parity,
                               ArrivalTimes arrivals) {
    if (tap_)
        tap_(block, ReceiveFormatter::paneKind(policy, hexMode_),
             arrivals.empty() ? steadyNowNs() : arrivals.front().ns);
    emit lampChanged(true);
    const ReceiveResult result =
        formatter_.receiveBlock(state_, block, policy, hexMode_, parity, arrivals);
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
    pane_.addLine(text, state_.LineIndex, steadyNowNs());
}

void ReceivePath::addSeparateLine(const QString& text) {
    pane_.addSeparateLine(text, state_.LineIndex, steadyNowNs());
}

void ReceivePath::showSent(QByteArrayView bytes, const LinkPolicy& policy) {
    if (!echo_ || bytes.isEmpty())
        return;
    const PaneModel::Kind kind = ReceiveFormatter::paneKind(policy, hexMode_);
    const int64_t now = steadyNowNs();
    if (sentTap_)
        sentTap_(bytes, kind, now);
    pane_.addSentLines(kind, bytes, state_.LineIndex, now);
}

void ReceivePath::setUtf8(bool on) {
    if (on == pane_.utf8())
        return;
    pane_.setUtf8(on);
    emit utf8Changed(on);
}

void ReceivePath::setTimeStamps(bool on) {
    if (on == timeStamps_)
        return;
    timeStamps_ = on;
    formatter_.setPacketGap(on ? int64_t(packetGapMs_) * 1000000 : 0);
    emit timeStampsChanged(on);
}

void ReceivePath::setPacketGapMs(int ms) {
    packetGapMs_ = std::max(ms, 0);
    formatter_.setPacketGap(timeStamps_ ? int64_t(packetGapMs_) * 1000000 : 0);
}

QString ReceivePath::lineStamp(int line) const {
    if (!timeStamps_)
        return QString();
    const int64_t time = pane_.lineTime(line);
    return time == PaneModel::kNoTime ? QString() : stampClock_.stampText(time);
}

void ReceivePath::clear() {
    pane_.clear();
    state_.LineIndex = 0;
    // Lines that waited for the end of a line are not lost with it: they start the pane.
    pane_.releaseHeld(state_.LineIndex);
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
