// Command files, batch sending, and clearing, saving and printing the capture.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QPushButton>
#include <QSpinBox>
#include <QStringListModel>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <optional>

#include "core/Guard.h"
#include "widgets/Dialogs.h"
#include "core/capture/CaptureFiles.h"
#include "core/commands/CommandFile.h"
#include "core/receive/PaneModel.h"
#include "terminal/PrintLayout.h"
#include "terminal/Terminal.h"
#include "core/receive/ByteTableModel.h"

namespace {

const QString kRunIdle = QStringLiteral("Send all commands with delay in ms");
const QString kRunStop = QStringLiteral("Stop sending commands");
const QString kAnyFile = QStringLiteral("*.txt");

// While a message box is open a run polls at this pace at the fastest, so that a zero
// command delay does not spin inside the box's event loop.
constexpr int kHoldPollMs = 50;

// The receive pane as the capture files read it.
class PaneSource : public trelmo::CapturePaneSource {
  public:
    explicit PaneSource(const trelmo::PaneModel& pane) : pane_(pane) {}
    qsizetype paneLineCount() const override { return pane_.lineCount(); }
    QString paneLine(qsizetype i) const override { return pane_.line(static_cast<int>(i)); }

  private:
    const trelmo::PaneModel& pane_;
};

// The byte table as its grid shows it.
class TableSource : public trelmo::CaptureTableSource {
  public:
    explicit TableSource(const trelmo::ByteTableModel& table) : table_(table) {}
    qsizetype gridRowCount() const override { return table_.gridRowCount(); }
    QString cellText(int column, qsizetype gridRow) const override {
        return table_.gridCell(column, static_cast<int>(gridRow));
    }

  private:
    const trelmo::ByteTableModel& table_;
};

// The header texts: date and time from the clock labels, the settings from the combo boxes.
trelmo::CaptureHeader captureHeader(const TForm1& form) {
    trelmo::CaptureHeader header;
    header.date = form.Label_Date->text();
    header.time = form.Label_Time->text();
    header.port = form.Combo_com->currentText();
    header.speed = form.Combo_speed->currentText();
    header.dataBits = form.Combo_databits->currentText();
    header.parity = form.Combo_parity->currentText();
    header.stopBits = form.Combo_stopbit->currentText();
    return header;
}

// The shared save dialog; the chosen name is offered the next time. May throw.
std::optional<QString> showSaveFile(TForm1& form) {
    trelmo::FileDialogRequest request;
    request.owner = &form;
    request.title = QStringLiteral("Save Log file");
    request.fileName = form.SaveFileName;
    request.defaultExtension = QStringLiteral("txt");
    request.filters = {{QStringLiteral("txt"), QStringLiteral("*.txt")}};
    std::optional<QString> chosen = trelmo::dialogs().saveFile(request);
    if (chosen && !chosen->isEmpty())
        form.SaveFileName = *chosen;
    return chosen;
}

// The save dialog for the text log and the command list: a dialog that cannot be shown is
// reported in the error box and gives no name.
std::optional<QString> showSaveFileReported(TForm1& form) {
    try {
        return showSaveFile(form);
    } catch (const std::exception&) {
        trelmo::showMessage(
            QStringLiteral("File cannot be written or open!\nContact administrator."),
            QStringLiteral("Error saving file"), trelmo::MsgIcon::Error, &form);
        return std::nullopt;
    }
}

// Passes Edit_delay_command's printable keys through its key filter; control keys (Enter,
// paste and copy shortcuts, focus keys) keep their usual meaning.
class DelayKeyFilter : public QObject {
  public:
    explicit DelayKeyFilter(TForm1* form) : QObject(form), form_(form) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<const QKeyEvent*>(event);
            const bool shortcut =
                key->modifiers() & (Qt::ControlModifier | Qt::MetaModifier | Qt::AltModifier);
            if (!shortcut && key->text().size() == 1 && key->text().at(0).isPrint()) {
                QChar typed = key->text().at(0);
                trelmo::runGuarded([&] { form_->Edit_delay_commandKeyPress(typed); });
                if (typed == QChar(27))
                    return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    TForm1* form_;
};

}  // namespace

void TForm1::connectFileHandlers() {
    using trelmo::guarded;
    connect(BitBtn6, &QToolButton::clicked, this, guarded([this] { BitBtn6Click(); }));
    connect(Opencommandfile1, &QAction::triggered, this,
            guarded([this] { Opencommandfile1Click(); }));
    connect(Savecommands1, &QAction::triggered, this, guarded([this] { Savecommands1Click(); }));
    connect(BitBtn1, &QPushButton::clicked, this, guarded([this] { BitBtn1Click(); }));
    connect(Timer_autoSend, &QTimer::timeout, this, guarded([this] { Timer_autoSendTimer(); }));
    Edit_delay_command->installEventFilter(new DelayKeyFilter(this));

    connect(Butt_Clear, &QToolButton::clicked, this, guarded([this] { Butt_ClearClick(); }));
    connect(Clear1, &QAction::triggered, this, guarded([this] { Clear1Click(); }));
    connect(BitBtn7, &QToolButton::clicked, this, guarded([this] { BitBtn7Click(); }));
    connect(Save1, &QAction::triggered, this, guarded([this] { Save1Click(); }));
    connect(Save2, &QAction::triggered, this, guarded([this] { Save2Click(); }));
    connect(Button1, &QPushButton::clicked, this, guarded([this] { Button1Click(); }));
    connect(SaveinBIN1, &QAction::triggered, this, guarded([this] { SaveinBIN1Click(); }));
    connect(SaveinBIN2, &QAction::triggered, this, guarded([this] { SaveinBIN2Click(); }));
    connect(Butt_print, &QToolButton::clicked, this, guarded([this] { Butt_printClick(); }));
    connect(Print1, &QAction::triggered, this, guarded([this] { Print1Click(); }));
}

// ---- Command files -------------------------------------------------------------------------

void TForm1::BitBtn6Click() {
    trelmo::FileDialogRequest request;
    request.owner = this;
    request.title = QStringLiteral("Open command file");
    request.fileName = kAnyFile;
    request.defaultExtension = QStringLiteral("txt");
    request.filters = {{QStringLiteral("txt"), QStringLiteral("*.txt")},
                       {QStringLiteral("csv"), QStringLiteral("*.csv")}};
    const std::optional<QString> chosen = trelmo::dialogs().openFile(request);
    if (!chosen || chosen->isEmpty() || *chosen == kAnyFile)
        return;
    const QFileInfo info(*chosen);
    if (!info.exists() || info.isDir()) {
        trelmo::showMessage(QStringLiteral("No such file"), this);
        return;
    }
    const QStringList commands = trelmo::readCommandFile(*chosen);
    const QString current = Edit_send->currentText();
    if (auto* list = qobject_cast<QStringListModel*>(Edit_send->model()))
        list->setStringList(commands);
    else {
        Edit_send->clear();
        Edit_send->addItems(commands);
    }
    Edit_send->setEditText(current);
    Memo2->setPlainText(commands.join(QLatin1Char('\n')));
}

void TForm1::Savecommands1Click() {
    const std::optional<QString> name = showSaveFileReported(*this);
    if (!name || name->isEmpty())
        return;
    QStringList commands;
    commands.reserve(Edit_send->count());
    for (int i = 0; i < Edit_send->count(); ++i)
        commands.append(Edit_send->itemText(i));
    try {
        trelmo::writeCommandFile(*name, commands);
    } catch (const std::exception&) {
        trelmo::showMessage(QStringLiteral("Commands not saved, not permission"), this);
    }
}

// ---- Batch sending -------------------------------------------------------------------------

void TForm1::BitBtn1Click() {
    if (BitBtn1->text() == kRunStop) {
        Timer_autoSend->stop();
        BatchSending = false;
        ++batchRun_;
        BitBtn1->setText(kRunIdle);
        return;
    }
    if (!AnyLinkActive()) {
        trelmo::showMessage(
            QStringLiteral("You are not connected to serial port or through TCP..."), this);
        return;
    }
    BatchSending = true;
    BatchIndex = 0;
    ++batchRun_;
    batchDelay_ = UpDown_delay_command->value();
    Timer_autoSend->setInterval(batchDelay_);
    BitBtn1->setText(kRunStop);
    Timer_autoSend->start();
}

void TForm1::Timer_autoSendTimer() {
    if (batchTickBusy_ || !BatchSending)
        return;
    if (trelmo::messageBoxShowing()) {
        // Hold the run until the box is closed.
        Timer_autoSend->start(std::max(batchDelay_, kHoldPollMs));
        return;
    }
    const int run = batchRun_;
    // No tick while this one sends: a box the send opens holds the run.
    Timer_autoSend->stop();
    batchTickBusy_ = true;
    const QString command = BatchIndex >= 0 && BatchIndex < Edit_send->count()
                                ? Edit_send->itemText(BatchIndex)
                                : QString();
    Edit_send->setEditText(command);
    trelmo::runGuarded([this] { BitBtn4Click(); });
    batchTickBusy_ = false;
    if (run != batchRun_ || !BatchSending)
        return;  // stopped (or restarted) while the command was being sent
    BatchIndex += 1;
    if (BatchIndex > Edit_send->count() - 1) {
        BatchSending = false;
        BatchIndex = 0;
        ++batchRun_;
        BitBtn1->setText(kRunIdle);
        return;
    }
    Timer_autoSend->start(batchDelay_);
}

void TForm1::Edit_delay_commandKeyPress(QChar& Key) {
    const char16_t c = Key.unicode();
    const bool passes = (c >= u'0' && c <= u'9') || c == 8 || c == 10 || c == 13;
    if (!passes)
        Key = QChar(27);
}

// ---- Clearing, saving and printing the capture ---------------------------------------------

void TForm1::Butt_ClearClick() {
    Pane->clear();
    Recv.PendingLine.clear();
    Recv.LineIndex = 0;
    Recv.ReceivedCount = 0;
    Table->clear();
    StatusBar1Panel1->clear();
    Label_rec->setText(trelmo::ReceiveFormatter::receivedLabel(0));
    ShowCounters();
}

void TForm1::BitBtn7Click() {
    const std::optional<QString> name = showSaveFileReported(*this);
    if (!name || name->isEmpty() || *name == kAnyFile)
        return;
    try {
        trelmo::saveTextLog(*name, captureHeader(*this), PaneSource(*Pane), TableSource(*Table),
                            Check_hex->isChecked());
    } catch (const std::exception&) {
        trelmo::showMessage(QStringLiteral("Exception - unsuccesfull save!"), this);
    }
}

void TForm1::Button1Click() {
    const std::optional<QString> name = showSaveFile(*this);
    if (!name || name->isEmpty() || *name == kAnyFile)
        return;
    try {
        trelmo::saveBinFile(*name, captureHeader(*this), TableSource(*Table));
    } catch (const std::exception& e) {
        trelmo::showMessage(
            QStringLiteral("Error saving in bin, exception - ") + QString::fromUtf8(e.what()),
            this);
    }
}

void TForm1::Butt_printClick() {
    QPrinter printer(QPrinter::HighResolution);
    if (!trelmo::dialogs().print(this, printer))
        return;
    trelmo::printLayout(printer,
                        trelmo::makePrintLayout(captureHeader(*this), TableSource(*Table)));
}
