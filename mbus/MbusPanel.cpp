#include "mbus/MbusPanel.h"

#include <QComboBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QSpinBox>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "core/Guard.h"
#include "core/mbus/MbusDriver.h"
#include "core/mbus/MbusJson.h"
#include "core/mbus/MbusRecords.h"
#include "core/mbus/MbusScan.h"
#include "core/mbus/MbusTables.h"
#include "mbus/MbusByteModel.h"
#include "widgets/Dialogs.h"

namespace trelmo {

using namespace mbus;

namespace {

template <typename W>
W* named(W* widget, const char* name) {
    widget->setObjectName(QLatin1String(name));
    return widget;
}

QString hexByte(int value) {
    return QStringLiteral("0x") +
           QString::number(value & 0xFF, 16).rightJustified(2, QLatin1Char('0')).toUpper();
}

// Two upper-case hex digits per byte, a blank between bytes.
QString spacedHex(QByteArrayView bytes) {
    return QString::fromLatin1(bytes.toByteArray().toHex(' ').toUpper());
}

// The first byte of `role` and the run of bytes from it to the last byte of that role.
struct Span {
    int offset = -1;
    int length = 0;
};
Span spanOf(const Telegram& t, ByteRole role) {
    Span s;
    for (int i = 0; i < t.roles.size(); ++i) {
        if (static_cast<ByteRole>(static_cast<uint8_t>(t.roles[i])) != role)
            continue;
        if (s.offset < 0)
            s.offset = i;
        s.length = i - s.offset + 1;
    }
    return s;
}

QString mediumText(int medium, const QString& name) {
    return medium < 0 ? QString() : hexByte(medium) + QLatin1Char(' ') + name;
}

// What a meter row says of a found meter's version and medium.
QString versionText(int version) {
    return version < 0 ? QString() : QString::number(version);
}

}  // namespace

struct MbusPanel::State {
    BusDriver driver;
    std::unique_ptr<BusTask> task;
    std::vector<FoundMeter> meters;
    std::vector<Telegram> telegrams;
};

MbusPanel::MbusPanel(QWidget* parent) : QWidget(parent), s_(std::make_unique<State>()) {
    setObjectName(QStringLiteral("Panel_mbus"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    Tabs_mbus = named(new QTabWidget(this), "Tabs_mbus");
    layout->addWidget(Tabs_mbus);
    Page_records = named(new QWidget, "Page_records");
    Page_meters = named(new QWidget, "Page_meters");
    buildRecordsPage(Page_records);
    buildMetersPage(Page_meters);
    Tabs_mbus->addTab(Page_records, QStringLiteral("Records"));
    Tabs_mbus->addTab(Page_meters, QStringLiteral("Meters"));

    connect(&s_->driver, &BusDriver::send, this,
            [this](const QByteArray& bytes) { send(bytes, false); });
    connect(&s_->driver, &BusDriver::stepped, this, &MbusPanel::taskStepped);
    connect(&s_->driver, &BusDriver::finished, this, &MbusPanel::taskFinished);
    updateWaitText();
    updateButtons();
}

MbusPanel::~MbusPanel() {
    // The driver's finished() must not reach a half-destroyed panel.
    s_->driver.disconnect(this);
    s_->driver.cancel();
}

const std::vector<Telegram>& MbusPanel::telegrams() const {
    return s_->telegrams;
}

const std::vector<FoundMeter>& MbusPanel::meters() const {
    return s_->meters;
}

bool MbusPanel::busy() const {
    return s_->driver.running();
}

void MbusPanel::buildRecordsPage(QWidget* page) {
    auto* v = new QVBoxLayout(page);
    auto* row = new QHBoxLayout;
    Button_next = named(new QPushButton(QStringLiteral("Read next"), page), "Button_next");
    Button_next->setToolTip(QStringLiteral(
        "Asks the meter for the next telegram of its reply (REQ_UD2, frame count bit toggled)"));
    Button_export = named(new QPushButton(QStringLiteral("Export"), page), "Button_export");
    Button_export->setToolTip(QStringLiteral("Saves the records and the telegrams as JSON or CSV"));
    Label_records = named(new QLabel(QStringLiteral("No reply yet"), page), "Label_records");
    Label_records->setTextInteractionFlags(Qt::TextSelectableByMouse);
    row->addWidget(Button_next);
    row->addWidget(Button_export);
    row->addWidget(Label_records, 1);
    v->addLayout(row);

    Splitter_records = named(new QSplitter(Qt::Vertical, page), "Splitter_records");
    Tree_records = named(new QTreeWidget(Splitter_records), "Tree_records");
    Tree_records->setColumnCount(RecordColumns);
    Tree_records->setHeaderLabels({QStringLiteral("Telegram"), QStringLiteral("No."),
                                   QStringLiteral("Storage"), QStringLiteral("Tariff"),
                                   QStringLiteral("Subunit"), QStringLiteral("Function"),
                                   QStringLiteral("Quantity"), QStringLiteral("Value"),
                                   QStringLiteral("Unit"), QStringLiteral("Bytes")});
    Tree_records->setAlternatingRowColors(true);
    Tree_records->setUniformRowHeights(true);
    Tree_records->setSelectionMode(QAbstractItemView::SingleSelection);
    const int widths[RecordColumns] = {68, 52, 54, 44, 54, 92, 170, 160, 40, 160};
    for (int c = 0; c < RecordColumns; ++c)
        Tree_records->setColumnWidth(c, widths[c]);

    Table_bytes = named(new QTableView(Splitter_records), "Table_bytes");
    Model_bytes = new MbusByteModel(Table_bytes);
    Model_bytes->setObjectName(QStringLiteral("Model_bytes"));
    Table_bytes->setModel(Model_bytes);
    Table_bytes->setSelectionMode(QAbstractItemView::NoSelection);
    Table_bytes->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Table_bytes->setShowGrid(false);
    Table_bytes->setMouseTracking(true);
    QFont mono(QStringLiteral("Monospace"));
    mono.setStyleHint(QFont::TypeWriter);
    Table_bytes->setFont(mono);
    Table_bytes->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    Table_bytes->horizontalHeader()->setDefaultSectionSize(30);
    Table_bytes->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    Table_bytes->verticalHeader()->setDefaultSectionSize(20);
    Table_bytes->verticalHeader()->setFont(mono);
    Splitter_records->addWidget(Tree_records);
    Splitter_records->addWidget(Table_bytes);
    Splitter_records->setStretchFactor(0, 3);
    Splitter_records->setStretchFactor(1, 2);
    v->addWidget(Splitter_records, 1);

    connect(Button_next, &QPushButton::clicked, this, guarded([this] { readNext(); }));
    connect(Button_export, &QPushButton::clicked, this, guarded([this] { exportRecords(); }));
    connect(Tree_records, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* item) { recordSelected(item); });
}

void MbusPanel::buildMetersPage(QWidget* page) {
    auto* v = new QVBoxLayout(page);
    auto* row = new QHBoxLayout;
    Combo_scan = named(new QComboBox(page), "Combo_scan");
    Combo_scan->addItems({QStringLiteral("Primary addresses 0-250"),
                          QStringLiteral("Secondary addresses (wildcards)")});
    auto* speedLabel = new QLabel(QStringLiteral("Speed"), page);
    Spin_speed = named(new QSpinBox(page), "Spin_speed");
    Spin_speed->setRange(50, 4'000'000);
    Spin_speed->setValue(2400);
    Spin_speed->setSuffix(QStringLiteral(" bit/s"));
    Spin_speed->setToolTip(QStringLiteral("The line speed: the wait for each reply follows it"));
    speedLabel->setBuddy(Spin_speed);
    auto* waitLabel = new QLabel(QStringLiteral("Wait"), page);
    Spin_timeout = named(new QSpinBox(page), "Spin_timeout");
    Spin_timeout->setRange(0, 60'000);
    Spin_timeout->setSingleStep(10);
    Spin_timeout->setSuffix(QStringLiteral(" ms"));
    Spin_timeout->setSpecialValueText(QStringLiteral("from speed"));
    Spin_timeout->setToolTip(QStringLiteral("The wait for one reply; 0 takes it from the speed"));
    waitLabel->setBuddy(Spin_timeout);
    Label_wait = named(new QLabel(page), "Label_wait");
    Button_scan = named(new QPushButton(QStringLiteral("Scan"), page), "Button_scan");
    Button_cancel = named(new QPushButton(QStringLiteral("Cancel"), page), "Button_cancel");
    row->addWidget(Combo_scan);
    row->addWidget(speedLabel);
    row->addWidget(Spin_speed);
    row->addWidget(waitLabel);
    row->addWidget(Spin_timeout);
    row->addWidget(Label_wait);
    row->addStretch(1);
    row->addWidget(Button_scan);
    row->addWidget(Button_cancel);
    v->addLayout(row);

    auto* progressRow = new QHBoxLayout;
    Progress_scan = named(new QProgressBar(page), "Progress_scan");
    Progress_scan->setRange(0, 1);
    Progress_scan->setValue(0);
    Label_scan = named(new QLabel(page), "Label_scan");
    Label_scan->setMinimumWidth(320);
    progressRow->addWidget(Progress_scan, 1);
    progressRow->addWidget(Label_scan);
    v->addLayout(progressRow);

    Tree_meters = named(new QTreeWidget(page), "Tree_meters");
    Tree_meters->setColumnCount(6);
    Tree_meters->setHeaderLabels({QStringLiteral("Address"), QStringLiteral("Id"),
                                  QStringLiteral("Manufacturer"), QStringLiteral("Version"),
                                  QStringLiteral("Medium"), QStringLiteral("Note")});
    Tree_meters->setRootIsDecorated(false);
    Tree_meters->setUniformRowHeights(true);
    Tree_meters->setToolTip(QStringLiteral("Double-click a meter to read it"));
    const int widths[] = {70, 90, 100, 60, 170};
    for (int c = 0; c < 5; ++c)
        Tree_meters->setColumnWidth(c, widths[c]);
    v->addWidget(Tree_meters, 1);

    connect(Button_scan, &QPushButton::clicked, this, guarded([this] { startScan(); }));
    connect(Button_cancel, &QPushButton::clicked, this, guarded([this] { cancelTask(); }));
    connect(Tree_meters, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item) { runGuarded([&] { readMeter(item); }); });
    connect(Spin_speed, &QSpinBox::valueChanged, this, [this] { updateWaitText(); });
    connect(Spin_timeout, &QSpinBox::valueChanged, this, [this] { updateWaitText(); });
}

// ---- Line and port ----------------------------------------------------------------------------

void MbusPanel::setPortOpen(bool open) {
    portOpen_ = open;
    updateButtons();
}

void MbusPanel::setLineSpeed(int baud) {
    if (baud > 0)
        Spin_speed->setValue(baud);
}

int MbusPanel::lineSpeed() const {
    return Spin_speed->value();
}

int MbusPanel::replyWaitMs() const {
    return Spin_timeout->value() > 0 ? Spin_timeout->value() : defaultReplyTimeoutMs(lineSpeed());
}

void MbusPanel::updateWaitText() {
    Label_wait->setText(Spin_timeout->value() > 0
                            ? QString()
                            : QStringLiteral("(%1 ms)").arg(defaultReplyTimeoutMs(lineSpeed())));
}

bool MbusPanel::needPort() {
    if (portOpen_)
        return true;
    showMessage(QStringLiteral("You are not connected to COM port."));
    return false;
}

void MbusPanel::send(const QByteArray& bytes, bool newReply) {
    noteRequest(bytes);
    emit request(bytes, newReply);
}

void MbusPanel::noteRequest(const QByteArray& bytes) {
    const Frame f = parseFrame(bytes).frame;
    if (f.type != FrameType::Short && f.type != FrameType::Long && f.type != FrameType::Control)
        return;
    lastAddress_ = f.a;
    // After SND_NKE a meter waits for the frame count bit set; a request with a valid frame
    // count bit asks the next one to toggle it.
    if (f.c == 0x40)
        nextFcb_ = true;
    else if (f.c & 0x10)
        nextFcb_ = !(f.c & 0x20);
}

void MbusPanel::updateButtons() {
    const bool running = busy();
    const bool more = !s_->telegrams.empty() && s_->telegrams.back().moreRecordsFollow;
    Button_next->setEnabled(more && !running);
    Button_export->setEnabled(!s_->telegrams.empty());
    Button_scan->setEnabled(!running);
    Button_cancel->setEnabled(running);
    Combo_scan->setEnabled(!running);
    Spin_speed->setEnabled(!running);
    Spin_timeout->setEnabled(!running);
}

// ---- Replies ----------------------------------------------------------------------------------

bool MbusPanel::takeTaskBytes(QByteArrayView bytes) {
    if (!s_->driver.running())
        return false;
    s_->driver.received(bytes);
    return true;
}

void MbusPanel::requestSent(const QByteArray& request) {
    noteRequest(request);
    appendNext_ = false;
    reply_.clear();
    watching_ = true;
}

void MbusPanel::watchReply(QByteArrayView bytes) {
    if (!watching_ || bytes.isEmpty())
        return;
    if (reply_.size() + bytes.size() > kMaxReplyBytes) {
        watching_ = false;
        reply_.clear();
        return;
    }
    reply_.append(bytes);
    const ReplyCheck check = checkReply(reply_);
    switch (check.kind) {
        case ReplyKind::Nothing:
        case ReplyKind::Incomplete:
            return;
        case ReplyKind::Frame:
            break;
        case ReplyKind::Ack:
            watching_ = false;
            reply_.clear();
            return;
        case ReplyKind::Garbled:
            watching_ = false;
            reply_.clear();
            if (appendNext_)
                Label_records->setText(QStringLiteral("No next telegram: ") + check.text);
            appendNext_ = false;
            return;
    }
    watching_ = false;
    Telegram t = decodeTelegram(reply_);
    reply_.clear();
    if (appendNext_ && !s_->telegrams.empty()) {
        s_->telegrams.push_back(std::move(t));
        appendNext_ = false;
        fillRecords();
        return;
    }
    appendNext_ = false;
    std::vector<Telegram> one;
    one.push_back(std::move(t));
    showTelegrams(std::move(one));
}

void MbusPanel::showCaptured(const QString& hexDigits) {
    const Result<QByteArray> bytes = parseHexLine(hexDigits);
    if (!bytes) {
        Label_records->setText(QStringLiteral("The captured text is not hex: ") + bytes.error());
        return;
    }
    showCaptured(bytes.value());
}

void MbusPanel::showCaptured(const QByteArray& captured) {
    QByteArray bytes = captured;
    while (bytes.size() > 1 && static_cast<uint8_t>(bytes[0]) == kAck)
        bytes.remove(0, 1);
    if (bytes.isEmpty()) {
        Label_records->setText(QStringLiteral("Nothing captured"));
        return;
    }
    if (!s_->telegrams.empty() && s_->telegrams.back().bytes == bytes) {
        fillRecords();
        return;
    }
    std::vector<Telegram> one;
    one.push_back(decodeTelegram(bytes));
    showTelegrams(std::move(one));
}

void MbusPanel::showTelegrams(std::vector<Telegram> telegrams, const QString& summary) {
    s_->telegrams = std::move(telegrams);
    summary_ = summary;
    fillRecords();
}

// ---- The records view -------------------------------------------------------------------------

void MbusPanel::addHeader(int index, const Telegram& t) {
    auto* group = new QTreeWidgetItem(Tree_records);
    group->setText(ColTelegram, QString::number(index + 1));
    group->setText(ColNumber, QStringLiteral("header"));
    const Header& h = t.header;
    group->setText(ColQuantity,
                   QStringLiteral("Header (%1 frame)").arg(frameTypeName(t.frame.type)));
    QStringList summary;
    if (!h.id.isEmpty())
        summary << h.id;
    if (!h.manufacturer.isEmpty())
        summary << h.manufacturer;
    if (h.medium >= 0)
        summary << h.mediumText;
    group->setText(ColValue, summary.join(QStringLiteral(", ")));
    group->setData(ColTelegram, kTelegramRole, index);
    group->setData(ColTelegram, kOffsetRole, 0);
    group->setData(ColTelegram, kLengthRole, static_cast<int>(t.bytes.size()));
    group->setFirstColumnSpanned(false);

    auto field = [&](const QString& name, const QString& value, ByteRole role) {
        const Span s = spanOf(t, role);
        auto* item = new QTreeWidgetItem(group);
        item->setText(ColTelegram, QString::number(index + 1));
        item->setText(ColQuantity, name);
        item->setText(ColValue, value);
        item->setToolTip(ColValue, value);
        if (s.offset >= 0)
            item->setText(ColBytes, spacedHex(QByteArrayView(t.bytes).sliced(s.offset, s.length)));
        item->setData(ColTelegram, kTelegramRole, index);
        item->setData(ColTelegram, kOffsetRole, std::max(s.offset, 0));
        item->setData(ColTelegram, kLengthRole, s.offset >= 0 ? s.length : 0);
        return item;
    };
    if (t.frame.type == FrameType::Ack) {
        field(QStringLiteral("Acknowledgement"), QStringLiteral("E5"), ByteRole::Ack);
        return;
    }
    field(QStringLiteral("C field"), hexByte(t.frame.c), ByteRole::Control);
    field(QStringLiteral("Address"), QString::number(t.frame.a), ByteRole::Address);
    if (!h.id.isEmpty())
        field(QStringLiteral("Identification number"), h.id, ByteRole::HeaderId);
    if (!h.manufacturer.isEmpty())
        field(QStringLiteral("Manufacturer"),
              QStringLiteral("%1 (0x%2)")
                  .arg(h.manufacturer)
                  .arg(QString::number(h.manufacturerCode, 16)
                           .rightJustified(4, QLatin1Char('0'))
                           .toUpper()),
              ByteRole::HeaderManufacturer);
    if (h.version >= 0)
        field(QStringLiteral("Version"), QString::number(h.version), ByteRole::HeaderVersion);
    if (h.medium >= 0)
        field(QStringLiteral("Medium"), mediumText(h.medium, h.mediumText),
              h.kind == HeaderKind::Fixed ? ByteRole::FixedMediumUnit : ByteRole::HeaderMedium);
    if (h.access >= 0)
        field(QStringLiteral("Access number"), QString::number(h.access), ByteRole::HeaderAccess);
    if (h.status >= 0) {
        const QString bits = h.statusTexts.isEmpty() ? QStringLiteral("no error")
                                                     : h.statusTexts.join(QStringLiteral(", "));
        QTreeWidgetItem* status =
            field(QStringLiteral("Status"), hexByte(h.status) + QStringLiteral(": ") + bits,
                  ByteRole::HeaderStatus);
        for (const QString& bit : h.statusTexts) {
            auto* b = new QTreeWidgetItem(status);
            b->setText(ColTelegram, QString::number(index + 1));
            b->setText(ColValue, bit);
            b->setData(ColTelegram, kTelegramRole, index);
            b->setData(ColTelegram, kOffsetRole, status->data(ColTelegram, kOffsetRole));
            b->setData(ColTelegram, kLengthRole, status->data(ColTelegram, kLengthRole));
        }
    }
    if (h.signature >= 0)
        field(QStringLiteral("Signature"),
              QStringLiteral("0x") +
                  QString::number(h.signature, 16).rightJustified(4, QLatin1Char('0')).toUpper(),
              ByteRole::HeaderSignature);
    if (t.frame.ci >= 0)
        field(QStringLiteral("CI field"), hexByte(t.frame.ci) + QLatin1Char(' ') + t.ciText,
              ByteRole::Ci);
    if (t.frame.checksumOffset >= 0) {
        QString check = t.frame.checksumOk
                            ? QStringLiteral("check sum %1 correct").arg(hexByte(t.frame.checksum))
                            : QStringLiteral("check sum %1 wrong: the bytes add up to %2")
                                  .arg(hexByte(t.frame.checksum), hexByte(t.frame.computedSum));
        if (!t.frame.lengthOk)
            check += QStringLiteral("; length wrong");
        if (!t.frame.stopOk)
            check += QStringLiteral("; no stop byte");
        QTreeWidgetItem* item = field(QStringLiteral("Frame check"), check, ByteRole::Checksum);
        if (!t.frame.checksumOk || !t.frame.lengthOk || !t.frame.stopOk)
            item->setForeground(ColValue, QColor(170, 0, 0));
    }
}

void MbusPanel::fillRecords() {
    Tree_records->clear();
    int records = 0;
    for (std::size_t i = 0; i < s_->telegrams.size(); ++i) {
        addHeader(static_cast<int>(i), s_->telegrams[i]);
        records += static_cast<int>(s_->telegrams[i].records.size());
    }
    if (!s_->telegrams.empty())
        Tree_records->topLevelItem(0)->setExpanded(true);
    for (std::size_t ti = 0; ti < s_->telegrams.size(); ++ti) {
        const Telegram& t = s_->telegrams[ti];
        for (std::size_t ri = 0; ri < t.records.size(); ++ri) {
            const Record& r = t.records[ri];
            auto* item = new QTreeWidgetItem(Tree_records);
            item->setText(ColTelegram, QString::number(ti + 1));
            item->setText(ColNumber, QString::number(ri + 1));
            item->setText(ColStorage, QString::number(r.storage));
            item->setText(ColTariff, QString::number(r.tariff));
            item->setText(ColSubunit, QString::number(r.subunit));
            item->setText(ColFunction, functionName(r.function));
            QString quantity = r.quantity;
            if (quantity.isEmpty() && r.function == Function::More)
                quantity = QStringLiteral("more records follow");
            else if (quantity.isEmpty() && r.function == Function::Manufacturer)
                quantity = QStringLiteral("manufacturer data");
            if (!r.vifeTexts.isEmpty())
                quantity += QStringLiteral(" (") + r.vifeTexts.join(QStringLiteral("; ")) +
                            QLatin1Char(')');
            item->setText(ColQuantity, quantity);
            item->setText(ColValue, r.invalid ? r.value + QStringLiteral(" (invalid)") : r.value);
            item->setText(ColUnit, r.unit);
            const int from = std::clamp(r.offset, 0, static_cast<int>(t.bytes.size()));
            const int length = std::clamp(r.length, 0, static_cast<int>(t.bytes.size()) - from);
            item->setText(ColBytes, spacedHex(QByteArrayView(t.bytes).sliced(from, length)));
            QString tip =
                QStringLiteral("bytes %1-%2, %3").arg(from).arg(from + length - 1).arg(r.type);
            if (!r.note.isEmpty())
                tip += QLatin1Char('\n') + r.note;
            for (int c = 0; c < RecordColumns; ++c)
                item->setToolTip(c, tip);
            if (r.invalid || !r.note.isEmpty())
                item->setForeground(ColValue, QColor(170, 0, 0));
            item->setData(ColTelegram, kTelegramRole, static_cast<int>(ti));
            item->setData(ColTelegram, kOffsetRole, from);
            item->setData(ColTelegram, kLengthRole, length);
        }
    }
    // The faults the decoder met, each at its byte.
    for (std::size_t ti = 0; ti < s_->telegrams.size(); ++ti) {
        const Telegram& t = s_->telegrams[ti];
        if (t.errors.empty())
            continue;
        auto* group = new QTreeWidgetItem(Tree_records);
        group->setText(ColTelegram, QString::number(ti + 1));
        group->setText(ColNumber, QStringLiteral("errors"));
        group->setText(ColQuantity,
                       QStringLiteral("%1 fault(s) in the telegram").arg(t.errors.size()));
        group->setForeground(ColQuantity, QColor(170, 0, 0));
        group->setData(ColTelegram, kTelegramRole, static_cast<int>(ti));
        group->setData(ColTelegram, kOffsetRole, 0);
        group->setData(ColTelegram, kLengthRole, 0);
        for (const DecodeError& e : t.errors) {
            auto* item = new QTreeWidgetItem(group);
            item->setText(ColTelegram, QString::number(ti + 1));
            item->setText(ColQuantity, QStringLiteral("byte %1").arg(e.offset));
            item->setText(ColValue, e.reason);
            item->setToolTip(ColValue, e.reason);
            item->setData(ColTelegram, kTelegramRole, static_cast<int>(ti));
            item->setData(ColTelegram, kOffsetRole, e.offset);
            item->setData(ColTelegram, kLengthRole, e.offset < t.bytes.size() ? 1 : 0);
        }
        group->setExpanded(true);
    }

    QString text = summary_;
    if (s_->telegrams.empty()) {
        if (text.isEmpty())
            text = QStringLiteral("No reply yet");
    } else {
        if (!text.isEmpty())
            text += QStringLiteral(": ");
        const Header& h = s_->telegrams.front().header;
        if (!h.id.isEmpty())
            text += QStringLiteral("meter %1 %2, ").arg(h.id, h.manufacturer);
        text +=
            QStringLiteral("%1 telegram(s), %2 record(s)").arg(s_->telegrams.size()).arg(records);
        if (s_->telegrams.back().moreRecordsFollow)
            text += QStringLiteral("; more records follow");
        int faults = 0;
        for (const Telegram& t : s_->telegrams)
            faults += static_cast<int>(t.errors.size());
        if (faults > 0)
            text += QStringLiteral("; %1 fault(s)").arg(faults);
    }
    Label_records->setText(text);
    Model_bytes->setTelegram(s_->telegrams.empty() ? Telegram() : s_->telegrams.back());
    updateButtons();
}

void MbusPanel::recordSelected(QTreeWidgetItem* item) {
    if (!item)
        return;
    const int t = item->data(ColTelegram, kTelegramRole).toInt();
    if (t < 0 || t >= static_cast<int>(s_->telegrams.size()))
        return;
    if (Model_bytes->bytes() != s_->telegrams[static_cast<std::size_t>(t)].bytes)
        Model_bytes->setTelegram(s_->telegrams[static_cast<std::size_t>(t)]);
    const int offset = item->data(ColTelegram, kOffsetRole).toInt();
    const int length = item->data(ColTelegram, kLengthRole).toInt();
    Model_bytes->setHighlight(offset, length);
    if (length > 0)
        Table_bytes->scrollTo(Model_bytes->indexOfByte(offset));
}

// ---- Read next --------------------------------------------------------------------------------

void MbusPanel::readNext() {
    if (s_->telegrams.empty() || !s_->telegrams.back().moreRecordsFollow || busy())
        return;
    if (!needPort())
        return;
    const int address = lastAddress_ >= 0 ? lastAddress_ : s_->telegrams.back().frame.a;
    const QByteArray bytes = reqUd2(static_cast<uint8_t>(address), nextFcb_);
    reply_.clear();
    watching_ = true;
    appendNext_ = true;
    Label_records->setText(
        QStringLiteral("Asked %1 for telegram %2").arg(address).arg(s_->telegrams.size() + 1));
    send(bytes, true);
}

// ---- Scans and reads --------------------------------------------------------------------------

void MbusPanel::startScan() {
    if (busy() || !needPort())
        return;
    ScanOptions o;
    o.baud = lineSpeed();
    o.timeoutMs = Spin_timeout->value();
    scanSecondary_ = Combo_scan->currentIndex() == 1;
    s_->meters.clear();
    Tree_meters->clear();
    std::unique_ptr<BusTask> task;
    if (scanSecondary_)
        task = std::make_unique<SecondaryScan>(o);
    else
        task = std::make_unique<PrimaryScan>(o);
    runTask(std::move(task), false);
}

void MbusPanel::readMeter(QTreeWidgetItem* item) {
    if (!item || busy())
        return;
    const int index = item->data(ColAddress, kMeterRole).toInt();
    if (index < 0 || index >= static_cast<int>(s_->meters.size()))
        return;
    if (!needPort())
        return;
    const FoundMeter& m = s_->meters[static_cast<std::size_t>(index)];
    ReadTarget target;
    // A meter found by its secondary address is read by it (several meters may share a
    // primary address); one found at a primary address is read there.
    if (scanSecondary_ && !m.id.isEmpty()) {
        target.secondary = true;
        target.address = m.secondary;
        readWhat_ = QStringLiteral("meter %1").arg(m.id);
    } else {
        target.primary = m.primary;
        readWhat_ = QStringLiteral("address %1").arg(m.primary);
    }
    ScanOptions o;
    o.baud = lineSpeed();
    o.timeoutMs = Spin_timeout->value();
    showRecordsPage();
    Label_records->setText(QStringLiteral("Reading %1...").arg(readWhat_));
    runTask(std::make_unique<MeterRead>(target, o), true);
}

void MbusPanel::runTask(std::unique_ptr<BusTask> task, bool read) {
    s_->task = std::move(task);
    taskIsRead_ = read;
    watching_ = false;
    appendNext_ = false;
    reply_.clear();
    Progress_scan->setRange(0, 1);
    Progress_scan->setValue(0);
    s_->driver.setBaud(lineSpeed());
    updateButtons();
    emit busyChanged(true);
    s_->driver.run(s_->task.get());
    updateButtons();
}

void MbusPanel::cancelTask() {
    s_->driver.cancel();
}

void MbusPanel::taskStepped(const QString& what, int done, int total) {
    Progress_scan->setRange(0, std::max(total, 1));
    Progress_scan->setValue(std::clamp(done, 0, std::max(total, 1)));
    Label_scan->setText(QStringLiteral("%1 (%2 of %3)").arg(what).arg(done).arg(total));
    if (!taskIsRead_ && s_->task)
        fillMeters(*s_->task);
}

void MbusPanel::fillMeters(const BusTask& task) {
    const auto* primary = dynamic_cast<const PrimaryScan*>(&task);
    const auto* secondary = dynamic_cast<const SecondaryScan*>(&task);
    const std::vector<FoundMeter>& found = primary ? primary->meters() : secondary->meters();
    if (found.size() == s_->meters.size() &&
        Tree_meters->topLevelItemCount() ==
            static_cast<int>(s_->meters.size() + task.notes().size()))
        return;
    s_->meters = found;
    Tree_meters->clear();
    for (std::size_t i = 0; i < s_->meters.size(); ++i) {
        const FoundMeter& m = s_->meters[i];
        auto* item = new QTreeWidgetItem(Tree_meters);
        item->setText(ColAddress, QString::number(m.primary));
        item->setText(ColId, m.id);
        item->setText(ColManufacturer, m.manufacturer);
        item->setText(ColVersion, versionText(m.version));
        item->setText(ColMedium, mediumText(m.medium, m.mediumText));
        item->setText(ColNote, m.note);
        item->setToolTip(ColNote, m.note);
        item->setData(ColAddress, kMeterRole, static_cast<int>(i));
    }
    // What the scan met on the way (collisions, narrowing, meters found twice), in the list.
    for (const QString& note : task.notes()) {
        auto* item = new QTreeWidgetItem(Tree_meters);
        item->setText(ColAddress, note);
        item->setToolTip(ColAddress, note);
        item->setForeground(ColAddress, QColor(110, 110, 110));
        item->setData(ColAddress, kMeterRole, -1);
        item->setFirstColumnSpanned(true);
    }
}

void MbusPanel::taskFinished(bool cancelled) {
    std::unique_ptr<BusTask> task = std::move(s_->task);
    if (!task) {
        updateButtons();
        return;
    }
    if (taskIsRead_) {
        const auto& read = static_cast<const MeterRead&>(*task);
        QString summary = QStringLiteral("Read %1").arg(readWhat_);
        if (cancelled)
            summary += QStringLiteral(" (cancelled)");
        else if (!read.error().isEmpty())
            summary += QStringLiteral(" (") + read.error() + QLatin1Char(')');
        showTelegrams(read.telegrams(), summary);
        Label_scan->setText(cancelled ? QStringLiteral("Read cancelled") : summary);
    } else {
        fillMeters(*task);
        Label_scan->setText((cancelled ? QStringLiteral("Cancelled: %1 meter(s) found so far")
                                       : QStringLiteral("%1 meter(s) found"))
                                .arg(s_->meters.size()));
    }
    if (!cancelled)
        Progress_scan->setValue(Progress_scan->maximum());
    updateButtons();
    emit busyChanged(false);
}

// ---- Export -----------------------------------------------------------------------------------

void MbusPanel::exportRecords() {
    if (s_->telegrams.empty())
        return;
    FileDialogRequest request;
    request.owner = this;
    request.title = QStringLiteral("Export records");
    request.fileName = QStringLiteral("mbus-records.json");
    request.defaultExtension = QStringLiteral("json");
    request.filters = {{QStringLiteral("JSON"), QStringLiteral("*.json")},
                       {QStringLiteral("CSV"), QStringLiteral("*.csv")}};
    const std::optional<QString> path = dialogs().saveFile(request);
    if (!path || path->isEmpty())
        return;
    const bool csv =
        QFileInfo(*path).suffix().compare(QLatin1String("csv"), Qt::CaseInsensitive) == 0;
    QSaveFile file(*path);
    if (!file.open(QIODevice::WriteOnly)) {
        showMessage(QStringLiteral("Cannot write %1: %2").arg(*path, file.errorString()));
        return;
    }
    file.write(csv ? recordsCsv(s_->telegrams) : telegramsJson(s_->telegrams));
    if (!file.commit())
        showMessage(QStringLiteral("Cannot write %1: %2").arg(*path, file.errorString()));
}

void MbusPanel::showRecordsPage() {
    Tabs_mbus->setCurrentWidget(Page_records);
}

void MbusPanel::showMetersPage() {
    Tabs_mbus->setCurrentWidget(Page_meters);
}

}  // namespace trelmo
