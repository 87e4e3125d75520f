#include "core/mbus/MbusScan.h"

#include <algorithm>

namespace trelmo::mbus::inline records {

namespace {

// The answer's fault as text, for a note.
QString whyGarbled(QByteArrayView bytes) {
    const ReplyCheck c = checkReply(bytes);
    QString why = c.text;
    if (c.kind == ReplyKind::Incomplete)
        why = QStringLiteral("cut answer");
    else if (c.kind == ReplyKind::Ack)
        why = QStringLiteral("an E5 where a frame was expected");
    else if (c.kind == ReplyKind::Frame)
        why = QStringLiteral("a frame where an E5 was expected");
    return QStringLiteral("%1 [%2]").arg(
        why, toHex(bytes.first(std::min<qsizetype>(bytes.size(), 32))) +
                 (bytes.size() > 32 ? QStringLiteral("...") : QString()));
}

// What a long-header reply says about the meter that sent it.
FoundMeter meterOf(const Telegram& t) {
    FoundMeter m;
    m.primary = t.frame.a;
    const Header& h = t.header;
    if (h.kind == HeaderKind::Long || h.kind == HeaderKind::Fixed) {
        m.id = h.id;
        m.secondary.id = h.id;
        m.medium = h.medium;
        m.mediumText = h.mediumText;
        m.secondary.medium = static_cast<uint8_t>(h.medium);
    }
    if (h.kind == HeaderKind::Long) {
        m.manufacturer = h.manufacturer;
        m.version = h.version;
        m.secondary.manufacturer = h.manufacturerCode;
        m.secondary.version = static_cast<uint8_t>(h.version);
    } else {
        m.note = QStringLiteral("reply without a long header (%1)").arg(t.ciText);
    }
    return m;
}

}  // namespace

// ---- PrimaryScan

PrimaryScan::PrimaryScan(ScanOptions options) : o_(options) {
    o_.firstAddress = std::clamp(o_.firstAddress, 0, int(kMaxPrimary));
    o_.lastAddress = std::clamp(o_.lastAddress, 0, int(kMaxPrimary));
}

void PrimaryScan::start() {
    notes_.clear();
    answered_.clear();
    answerNotes_.clear();
    meters_.clear();
    attempts_ = 0;
    readIndex_ = 0;
    address_ = o_.firstAddress;
    phase_ = o_.firstAddress <= o_.lastAddress ? Phase::Nke : Phase::Done;
}

Action PrimaryScan::next() {
    switch (phase_) {
        case Phase::Nke:
            return {Action::Kind::Send, sndNke(static_cast<uint8_t>(address_)), timeout(o_),
                    QStringLiteral("SND_NKE to %1").arg(address_)};
        case Phase::Read: {
            const int a = answered_[readIndex_];
            return {Action::Kind::Send, reqUd2(static_cast<uint8_t>(a), true), timeout(o_),
                    QStringLiteral("REQ_UD2 to %1").arg(a)};
        }
        default:
            return {};
    }
}

void PrimaryScan::onReply(QByteArrayView bytes) {
    if (phase_ == Phase::Nke) {
        const ReplyKind k = checkReply(bytes).kind;
        answered_.push_back(address_);
        if (k == ReplyKind::Ack) {
            answerNotes_.push_back(QString());
        } else {
            const QString note = QStringLiteral(
                                     "garbled answer to SND_NKE, several meters at "
                                     "this address? %1")
                                     .arg(whyGarbled(bytes));
            answerNotes_.push_back(note);
            notes_ << QStringLiteral("address %1: %2").arg(address_).arg(note);
        }
        advance();
        return;
    }
    if (phase_ != Phase::Read)
        return;
    const int a = answered_[readIndex_];
    FoundMeter m;
    if (checkReply(bytes).kind == ReplyKind::Frame) {
        const Telegram t = decodeTelegram(bytes);
        m = meterOf(t);
        if (t.frame.a != a)
            m.note = QStringLiteral("answered with address %1").arg(t.frame.a);
    } else {
        m.note = QStringLiteral("garbled reply to REQ_UD2, several meters at this address? %1")
                     .arg(whyGarbled(bytes));
        notes_ << QStringLiteral("address %1: %2").arg(a).arg(m.note);
    }
    m.primary = a;
    if (!answerNotes_[readIndex_].isEmpty())
        m.note = m.note.isEmpty() ? answerNotes_[readIndex_]
                                  : answerNotes_[readIndex_] + QStringLiteral("; ") + m.note;
    meters_.push_back(m);
    advance();
}

void PrimaryScan::onTimeout() {
    if (phase_ != Phase::Nke && phase_ != Phase::Read)
        return;
    if (attempts_ < o_.retries) {
        ++attempts_;
        return;
    }
    if (phase_ == Phase::Read) {
        FoundMeter m;
        m.primary = answered_[readIndex_];
        m.note = QStringLiteral("answered SND_NKE but not REQ_UD2");
        if (!answerNotes_[readIndex_].isEmpty())
            m.note += QStringLiteral("; ") + answerNotes_[readIndex_];
        notes_ << QStringLiteral("address %1: %2").arg(m.primary).arg(m.note);
        meters_.push_back(m);
    }
    advance();
}

void PrimaryScan::advance() {
    attempts_ = 0;
    if (phase_ == Phase::Nke) {
        if (++address_ > o_.lastAddress) {
            phase_ = answered_.empty() ? Phase::Done : Phase::Read;
            readIndex_ = 0;
        }
        return;
    }
    if (phase_ == Phase::Read && ++readIndex_ >= answered_.size())
        phase_ = Phase::Done;
}

int PrimaryScan::total() const {
    return (o_.lastAddress - o_.firstAddress + 1) + static_cast<int>(answered_.size());
}

int PrimaryScan::done() const {
    switch (phase_) {
        case Phase::Idle:
            return 0;
        case Phase::Nke:
            return address_ - o_.firstAddress;
        case Phase::Read:
            return (o_.lastAddress - o_.firstAddress + 1) + static_cast<int>(readIndex_);
        case Phase::Done:
            return total();
    }
    return 0;
}

// ---- SecondaryScan

SecondaryScan::SecondaryScan(ScanOptions options) : o_(options) {}

void SecondaryScan::start() {
    notes_.clear();
    meters_.clear();
    masks_.clear();
    probes_ = 0;
    masks_.push_back(QStringLiteral("FFFFFFFF"));
    nextMask();
}

void SecondaryScan::nextMask() {
    attempts_ = 0;
    if (masks_.empty()) {
        phase_ = Phase::Done;
        return;
    }
    if (probes_ >= o_.maxProbes) {
        notes_ << QStringLiteral("stopped after %1 selections; %2 masks left untried")
                      .arg(probes_)
                      .arg(masks_.size());
        masks_.clear();
        phase_ = Phase::Done;
        return;
    }
    mask_ = masks_.front();
    masks_.pop_front();
    phase_ = Phase::Select;
}

Action SecondaryScan::next() {
    SecondaryAddress a;
    a.id = mask_;
    switch (phase_) {
        case Phase::Select:
            return {Action::Kind::Send, selectSecondary(a), timeout(o_),
                    QStringLiteral("select %1").arg(secondaryAddressText(a))};
        case Phase::Read:
            return {Action::Kind::Send, reqUd2(kSelectedAddress, true), timeout(o_),
                    QStringLiteral("REQ_UD2 to 253 (selected by %1)").arg(mask_)};
        default:
            return {};
    }
}

void SecondaryScan::collision(const QString& why) {
    const qsizetype k = mask_.indexOf(QLatin1Char('F'));
    if (k < 0) {
        notes_ << QStringLiteral(
                      "several meters with id %1 answer and cannot be told apart by "
                      "their id: %2")
                      .arg(mask_, why);
        nextMask();
        return;
    }
    notes_ << QStringLiteral("%1: several meters answer (%2); narrowing digit %3")
                  .arg(mask_, why)
                  .arg(k + 1);
    for (int d = 9; d >= 0; --d) {
        QString child = mask_;
        child[k] = QChar(u'0' + d);
        masks_.push_front(child);
    }
    nextMask();
}

void SecondaryScan::onReply(QByteArrayView bytes) {
    if (phase_ == Phase::Select) {
        ++probes_;
        if (checkReply(bytes).kind == ReplyKind::Ack) {
            phase_ = Phase::Read;
            attempts_ = 0;
        } else {
            collision(QStringLiteral("garbled answer to the selection: %1").arg(whyGarbled(bytes)));
        }
        return;
    }
    if (phase_ != Phase::Read)
        return;
    const ReplyKind k = checkReply(bytes).kind;
    if (k == ReplyKind::Frame) {
        const Telegram t = decodeTelegram(bytes);
        FoundMeter m = meterOf(t);
        SecondaryAddress maskAddress;
        maskAddress.id = mask_;
        if (t.header.kind == HeaderKind::Long && !matchesSelection(maskAddress, m.secondary))
            m.note = QStringLiteral("answered the selection %1 with id %2").arg(mask_, m.id);
        const bool known = std::any_of(meters_.begin(), meters_.end(), [&](const FoundMeter& f) {
            return f.secondary == m.secondary && !m.id.isEmpty();
        });
        if (known)
            notes_ << QStringLiteral("%1: meter %2 found again").arg(mask_, m.id);
        else
            meters_.push_back(m);
        nextMask();
    } else if (k == ReplyKind::Ack) {
        notes_ << QStringLiteral("%1: E5 to REQ_UD2 instead of data").arg(mask_);
        nextMask();
    } else {
        collision(QStringLiteral("garbled reply to REQ_UD2: %1").arg(whyGarbled(bytes)));
    }
}

void SecondaryScan::onTimeout() {
    if (phase_ != Phase::Select && phase_ != Phase::Read)
        return;
    if (attempts_ < o_.retries) {
        ++attempts_;
        return;
    }
    if (phase_ == Phase::Select)
        ++probes_;
    else
        notes_ << QStringLiteral("%1: selected, but no reply to REQ_UD2").arg(mask_);
    nextMask();
}

int SecondaryScan::total() const {
    const bool busy = phase_ == Phase::Select || phase_ == Phase::Read;
    return probes_ + static_cast<int>(masks_.size()) + ((busy && phase_ == Phase::Select) ? 1 : 0);
}

// ---- MeterRead

Result<ReadTarget> parseReadTarget(QStringView text) {
    const QString t = text.trimmed().toString();
    bool decimal = !t.isEmpty() && t.size() <= 3;
    for (QChar c : t)
        decimal = decimal && c.isDigit() && c.unicode() < 128;
    if (decimal) {
        const int v = t.toInt();
        if (v > kMaxPrimary)
            return Result<ReadTarget>::failure(
                QStringLiteral("primary address %1 is not in 0..250").arg(v));
        ReadTarget r;
        r.primary = v;
        return Result<ReadTarget>::success(r);
    }
    const Result<SecondaryAddress> a = parseSecondaryAddress(t);
    if (!a)
        return Result<ReadTarget>::failure(a.error());
    ReadTarget r;
    r.secondary = true;
    r.address = a.value();
    return Result<ReadTarget>::success(r);
}

MeterRead::MeterRead(ReadTarget target, ScanOptions options) : target_(target), o_(options) {}

void MeterRead::start() {
    notes_.clear();
    telegrams_.clear();
    error_.clear();
    fcb_ = true;
    attempts_ = 0;
    phase_ = Phase::Prepare;
}

Action MeterRead::next() {
    switch (phase_) {
        case Phase::Prepare:
            if (target_.secondary)
                return {Action::Kind::Send, selectSecondary(target_.address), timeout(o_),
                        QStringLiteral("select %1").arg(secondaryAddressText(target_.address))};
            return {Action::Kind::Send, sndNke(static_cast<uint8_t>(target_.primary)), timeout(o_),
                    QStringLiteral("SND_NKE to %1").arg(target_.primary)};
        case Phase::Request: {
            const uint8_t a =
                target_.secondary ? kSelectedAddress : static_cast<uint8_t>(target_.primary);
            return {
                Action::Kind::Send, reqUd2(a, fcb_), timeout(o_),
                QStringLiteral("REQ_UD2 to %1 (telegram %2)").arg(a).arg(telegrams_.size() + 1)};
        }
        default:
            return {};
    }
}

void MeterRead::fail(const QString& why) {
    error_ = why;
    phase_ = Phase::Done;
}

void MeterRead::onReply(QByteArrayView bytes) {
    const ReplyKind k = checkReply(bytes).kind;
    if (phase_ == Phase::Prepare) {
        attempts_ = 0;
        if (k == ReplyKind::Ack) {
            phase_ = Phase::Request;
        } else if (target_.secondary) {
            fail(QStringLiteral("several meters answered the selection of %1: %2")
                     .arg(secondaryAddressText(target_.address), whyGarbled(bytes)));
        } else {
            notes_ << QStringLiteral("garbled answer to SND_NKE: %1").arg(whyGarbled(bytes));
            phase_ = Phase::Request;
        }
        return;
    }
    if (phase_ != Phase::Request)
        return;
    if (k != ReplyKind::Frame) {
        const QString why = whyGarbled(bytes);
        if (attempts_ < o_.retries) {
            ++attempts_;
            notes_ << QStringLiteral("telegram %1: garbled reply, asking again: %2")
                          .arg(telegrams_.size() + 1)
                          .arg(why);
            return;
        }
        fail(QStringLiteral("telegram %1: garbled reply: %2").arg(telegrams_.size() + 1).arg(why));
        return;
    }
    attempts_ = 0;
    telegrams_.push_back(decodeTelegram(bytes));
    if (!telegrams_.back().moreRecordsFollow) {
        phase_ = Phase::Done;
        return;
    }
    if (static_cast<int>(telegrams_.size()) >= o_.maxTelegrams) {
        fail(QStringLiteral("stopped after %1 telegrams: the meter still has more")
                 .arg(telegrams_.size()));
        return;
    }
    fcb_ = !fcb_;
}

void MeterRead::onTimeout() {
    if (phase_ != Phase::Prepare && phase_ != Phase::Request)
        return;
    if (attempts_ < o_.retries) {
        ++attempts_;
        return;
    }
    attempts_ = 0;
    if (phase_ == Phase::Prepare) {
        if (target_.secondary) {
            fail(QStringLiteral("no meter answered the selection of %1")
                     .arg(secondaryAddressText(target_.address)));
        } else {
            notes_ << QStringLiteral("no answer to SND_NKE");
            phase_ = Phase::Request;
        }
        return;
    }
    fail(QStringLiteral("telegram %1: no reply").arg(telegrams_.size() + 1));
}

int MeterRead::total() const {
    return static_cast<int>(telegrams_.size()) + (finished() ? 0 : 1);
}

std::vector<NumberedRecord> MeterRead::records() const {
    std::vector<NumberedRecord> out;
    for (std::size_t i = 0; i < telegrams_.size(); ++i)
        for (const Record& r : telegrams_[i].records)
            out.push_back({static_cast<int>(i + 1), r});
    return out;
}

}  // namespace trelmo::mbus::inline records
