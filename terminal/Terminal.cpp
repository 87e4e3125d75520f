#include "terminal/Terminal.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QEvent>
#include <QFileInfo>
#include <QFont>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QStringListModel>
#include <QTimer>
#include <QToolButton>
#include <optional>

#include "core/Guard.h"
#include "core/LocaleText.h"
#include "terminal/PaneTools.h"
#include "terminal/PortList.h"
#include "terminal/Printout.h"
#include "terminal/ReceivePaneView.h"
#include "terminal/StartOptions.h"
#include "terminal/TerminalControls.h"
#include "terminal/TerminalInput.h"
#include "terminal/control/Controllers.h"
#include "widgets/Dialogs.h"
#include "widgets/dsLeds.h"

namespace trelmo {
namespace {

const QString kAnyFile = QStringLiteral("*.txt");

// Runs a combo box's change handler for a user's edit or choice (not for text set by code,
// such as the settings load).
template <typename F>
void onUserChange(QComboBox* box, QObject* context, F handler) {
    auto wrapped = guarded(handler);
    QObject::connect(box->lineEdit(), &QLineEdit::textEdited, context, wrapped);
    QObject::connect(box, &QComboBox::activated, context, wrapped);
}

// Calls `enter` for each Enter typed into the command line. The filter sits on the combo box:
// typed keys reach the box first (it is the focus widget) and are handed to its line edit by a
// direct call that no filter on the line edit would see; a key sent to the line edit itself
// comes back to the box because the line edit leaves Enter unaccepted. Either way the box's
// filter sees each Enter once (the line edit's returnPressed may fire twice).
class EnterKeyFilter : public QObject {
  public:
    EnterKeyFilter(QObject* parent, std::function<void()> enter)
        : QObject(parent), enter_(std::move(enter)) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
                runGuarded(enter_);
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    std::function<void()> enter_;
};

// Passes a field's printable keys through its key rule; control keys (Enter, paste and copy
// shortcuts, focus keys) keep their usual meaning.
class PrintableKeyFilter : public QObject {
  public:
    PrintableKeyFilter(QObject* parent, void (*rule)(QChar&)) : QObject(parent), rule_(rule) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<const QKeyEvent*>(event);
            const bool shortcut =
                key->modifiers() & (Qt::ControlModifier | Qt::MetaModifier | Qt::AltModifier);
            if (!shortcut && key->text().size() == 1 && key->text().at(0).isPrint()) {
                QChar typed = key->text().at(0);
                runGuarded([&] { rule_(typed); });
                if (typed == QChar(27))
                    return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    void (*rule_)(QChar&);
};

TdsLed* lampOf(const TerminalControls& ui, Lamp lamp) {
    switch (lamp) {
        case Lamp::TxD:
            return ui.led_TxD;
        case Lamp::RxD:
            return ui.led_RxD;
        case Lamp::RTS:
            return ui.led_RTS;
        case Lamp::DTR:
            return ui.led_DTR;
        case Lamp::RI:
            break;
    }
    return ui.led_RI;
}

}  // namespace

TForm1::TForm1(const QString& settingsPath, QWidget* parent)
    : QMainWindow(parent), ui_(std::make_unique<TerminalControls>()), settingsPath_(settingsPath) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Trelmo and LAN v3.1.2"));
    ui_->build(this);
    c_ = std::make_unique<TerminalControllers>(this);

    wireWindow();
    wireReceive();
    wireSerial();
    wireTcp();
    wireCommands();
    wireCaptures();
    paneTools_ = new PaneTools(this, ui_->Tools1, ui_->PopupMenu1, ui_->Memo_receive, *c_->receive);

    LoadSettings();

    // The initial state: nothing connected, lamps off.
    c_->serial->showClosedStatus();
    TableShown = false;
    for (TdsLed* led : {ui_->led_TxD, ui_->led_RxD, ui_->led_RTS, ui_->led_DTR, ui_->led_RI})
        led->setLedOn(false);

    // The clock labels hold the time from the start: a capture saved in the first second has
    // its date and time too.
    Timer_TimeTimer();
    ui_->Timer_Time->start();
}

TForm1::~TForm1() {
    // The views go before the models they show; the links before the receive path.
    delete centralWidget();
    c_.reset();
}

ReceivePath* TForm1::receivePath() const {
    return c_->receive.get();
}
SerialLinkController* TForm1::serialLink() const {
    return c_->serial.get();
}
TcpLinksController* TForm1::tcpLinks() const {
    return c_->tcp.get();
}
CommandRunner* TForm1::commands() const {
    return c_->runner.get();
}
CaptureController* TForm1::captures() const {
    return c_->capture.get();
}

void TForm1::showNotice(const Notice& notice) {
    QWidget* owner = notice.overWindow ? this : nullptr;
    if (notice.icon == Notice::Icon::Error || !notice.title.isEmpty())
        showMessage(notice.text, notice.title,
                    notice.icon == Notice::Icon::Error ? MsgIcon::Error : MsgIcon::None, owner);
    else
        showMessage(notice.text, owner);
}

// ---- Wiring -----------------------------------------------------------------------------

void TForm1::wireWindow() {
    TerminalControls& ui = *ui_;
    connect(ui.Exit1, &QAction::triggered, this, guarded([this] { Exit1Click(); }));
    connect(ui.BitBtn8, &QToolButton::clicked, this, guarded([this] { BitBtn8Click(); }));
    connect(ui.Timer_Time, &QTimer::timeout, this, guarded([this] { Timer_TimeTimer(); }));
    connect(ui.Check_crc, &QCheckBox::toggled, this,
            guarded([this] { ui_->lab_crc->setVisible(ui_->Check_crc->isChecked()); }));
    connect(ui.Butt_additional, &QPushButton::clicked, this,
            guarded([this] { Butt_additionalClick(); }));
    connect(ui.BitBtn5, &QToolButton::clicked, this, [this] { emit aboutRequested(); });
    connect(ui.About1, &QAction::triggered, this, [this] { emit aboutRequested(); });
    connect(ui.MBus1, &QAction::triggered, this, [this] { emit mbusRequested(); });
}

void TForm1::wireReceive() {
    TerminalControls& ui = *ui_;
    ReceivePath* receive = c_->receive.get();
    ui.Memo_receive->setModel(&receive->pane());
    connect(ui.Check_hex, &QCheckBox::toggled, receive, &ReceivePath::setHexMode);
    connect(receive, &ReceivePath::lampChanged, ui.led_RxD, &TdsLed::setLedOnCoalesced);
    connect(receive, &ReceivePath::receivedLabelChanged, ui.Label_rec, &QLabel::setText);
    connect(receive, &ReceivePath::sentLabelChanged, ui.Label_send, &QLabel::setText);
    connect(receive, &ReceivePath::checkSumLabelChanged, ui.lab_crc, &QLabel::setText);
    connect(receive, &ReceivePath::parityLabelChanged, ui.Lab_Parity, &QLabel::setText);
    connect(receive, &ReceivePath::lineInfoChanged, ui.StatusBar1Panel1, &QLabel::setText);
    connect(receive, &ReceivePath::countersPanelChanged, ui.StatusBar1Panel2, &QLabel::setText);
    connect(ui.Butt_Clear, &QToolButton::clicked, receive,
            guarded([receive] { receive->clear(); }));
    connect(ui.Clear1, &QAction::triggered, receive, guarded([receive] { receive->clear(); }));
}

void TForm1::wireSerial() {
    TerminalControls& ui = *ui_;
    SerialLinkController* serial = c_->serial.get();
    connect(serial, &SerialLinkController::statusChanged, this, [this](const QString& text) {
        ui_->Label_com_status->setText(text);
        ui_->showLinkStatus(text);
    });
    connect(serial, &SerialLinkController::openChanged, this, [this](bool open) {
        for (QWidget* w :
             {static_cast<QWidget*>(ui_->Combo_com), static_cast<QWidget*>(ui_->Combo_speed),
              static_cast<QWidget*>(ui_->Combo_parity), static_cast<QWidget*>(ui_->Combo_databits),
              static_cast<QWidget*>(ui_->Combo_stopbit), static_cast<QWidget*>(ui_->Edit_delay)})
            w->setEnabled(!open);
    });
    connect(serial, &SerialLinkController::lampChanged, this,
            [this](Lamp lamp, bool on) { lampOf(*ui_, lamp)->setLedOn(on); });
    connect(serial, &SerialLinkController::notice, this, &TForm1::showNotice);
    connect(ui.Action_reopen, &QAction::toggled, this, [this](bool on) {
        c_->serial->setReopen(on);
        c_->tcp->setReopen(on);
    });

    // The key rule of Combo_speed holds for whatever is typed or pasted, whatever the box
    // holds already (a loaded "fast" does not let letters in); a paste of a number and Enter
    // keep working.
    applyInputRules(ui.Combo_speed->lineEdit(), 7, Combo_speedKeyPress);

    connect(ui.BitBtn2, &QToolButton::clicked, this, guarded([this] { BitBtn2Click(); }));
    connect(ui.Connecttoserial1, &QAction::triggered, this, guarded([this] { BitBtn2Click(); }));
    onUserChange(ui.Combo_com, this,
                 [this, serial] { serial->chooseComName(ui_->Combo_com->currentText()); });
    onUserChange(ui.Combo_speed, this,
                 [this, serial] { serial->chooseSpeed(ui_->Combo_speed->currentText()); });
    onUserChange(ui.Combo_parity, this,
                 [this, serial] { serial->chooseParity(ui_->Combo_parity->currentText()); });
    onUserChange(ui.Combo_databits, this,
                 [this, serial] { serial->chooseDataBits(ui_->Combo_databits->currentText()); });
    onUserChange(ui.Combo_stopbit, this,
                 [this, serial] { serial->chooseStopBits(ui_->Combo_stopbit->currentText()); });
    connect(ui.CheckBox1, &QCheckBox::toggled, serial,
            guarded([this, serial] { serial->setRtsLine(ui_->CheckBox1->isChecked()); }));
    connect(ui.CheckBox2, &QCheckBox::toggled, serial,
            guarded([this, serial] { serial->setDtrLine(ui_->CheckBox2->isChecked()); }));
    connect(ui.Check_Rts, &QCheckBox::toggled, serial, &SerialLinkController::setRtsControl);
}

void TForm1::wireTcp() {
    TerminalControls& ui = *ui_;
    TcpLinksController* tcp = c_->tcp.get();
    connect(tcp, &TcpLinksController::statusChanged, this,
            [this](const QString& text) { ui_->showLinkStatus(text); });
    connect(tcp, &TcpLinksController::clientCaptionChanged, ui.Butt_connect, &QPushButton::setText);
    connect(tcp, &TcpLinksController::listenerCaptionChanged, ui.BitBtn3, &QPushButton::setText);
    connect(tcp, &TcpLinksController::beep, this, [] { QApplication::beep(); });
    connect(ui.Edit_ip, &QLineEdit::textChanged, tcp, &TcpLinksController::setHostText);
    connect(ui.Edit_port, &QLineEdit::textChanged, tcp, &TcpLinksController::setPortText);
    connect(ui.UD_ipTime, &QSpinBox::valueChanged, tcp, &TcpLinksController::setTimeoutRounds);
    tcp->setTimeoutRounds(ui.UD_ipTime->value());

    auto toggleClient = guarded([tcp] { tcp->toggleClient(); });
    auto toggleListener = guarded([tcp] { tcp->toggleListener(); });
    connect(ui.Butt_connect, &QPushButton::clicked, tcp, toggleClient);
    connect(ui.ConnecttCP1, &QAction::triggered, tcp, toggleClient);
    connect(ui.BitBtn3, &QPushButton::clicked, tcp, toggleListener);
    connect(ui.ListenTCP1, &QAction::triggered, tcp, toggleListener);

    // Typing is filtered key by key; a paste must hold only what typing could have given, and
    // what the user inserts stops at 15 and 5 characters (a loaded host or port stays whole).
    applyInputRules(ui.Edit_ip, 15, Edit_ipKeyPress);
    applyInputRules(ui.Edit_port, 5, Edit_portKeyPress);
    // The up-down box takes the keys and hands them to its edit; its own validator (digits in
    // range) checks a paste.
    ui.UD_ipTime->installEventFilter(new KeyRuleFilter(ui.UD_ipTime, Edit_ipTimeKeyPress));
}

void TForm1::wireCommands() {
    TerminalControls& ui = *ui_;
    CommandRunner* commands = c_->runner.get();
    // The history grows only by sends: Enter must not insert, and repeats are kept.
    ui.Edit_send->setModel(commands->history());
    ui.Edit_send->setInsertPolicy(QComboBox::NoInsert);
    ui.Edit_send->setDuplicatesEnabled(true);
    // No inline completion from the history: Enter sends exactly what was typed ("AT" must not
    // become "AT+CGMI", nor "#7E" the "#7e" sent before).
    ui.Edit_send->setCompleter(nullptr);
    // Typing and pasting stop at 1024 characters; a command placed by the program (from a
    // command file) is taken whole and sent in full.
    new TypedInputValidator(ui.Edit_send->lineEdit(), 1024);
    ui.Edit_send->installEventFilter(new EnterKeyFilter(ui.Edit_send, [this] { BitBtn4Click(); }));
    connect(ui.BitBtn4, &QPushButton::clicked, this, guarded([this] { BitBtn4Click(); }));

    connect(ui.BitBtn6, &QToolButton::clicked, this, guarded([this] { BitBtn6Click(); }));
    connect(ui.Opencommandfile1, &QAction::triggered, this, guarded([this] { BitBtn6Click(); }));
    connect(ui.Savecommands1, &QAction::triggered, this, guarded([this] { Savecommands1Click(); }));
    connect(ui.BitBtn1, &QPushButton::clicked, this, guarded([this] { BitBtn1Click(); }));
    ui.Edit_delay_command->installEventFilter(
        new PrintableKeyFilter(ui.Edit_delay_command, Edit_delay_commandKeyPress));

    commands->setModalQuery([] { return messageBoxShowing(); });
    connect(ui.Edit_send, &QComboBox::editTextChanged, commands, &CommandRunner::setCommandLine);
    connect(ui.Combo_eol, &QComboBox::currentTextChanged, commands, &CommandRunner::setLineEnding);
    connect(ui.Check_repeat, &QCheckBox::toggled, this, guarded([this] {
                CommandRunner& runner = *c_->runner;
                if (!ui_->Check_repeat->isChecked())
                    runner.stopRepeat();
                else if (!runner.repeating() && !runner.startRepeat(ui_->Edit_repeat->value()))
                    ui_->Check_repeat->setChecked(false);
            }));
    connect(ui.Edit_repeat, &QSpinBox::valueChanged, commands, &CommandRunner::setRepeatPeriod);
    connect(commands, &CommandRunner::repeatChanged, ui.Check_repeat, &QCheckBox::setChecked);
    connect(commands, &CommandRunner::repeatCountChanged, ui.Label_repeat, [this](int count) {
        ui_->Label_repeat->setText(QStringLiteral("%1 sent").arg(count));
    });
    connect(commands, &CommandRunner::lampChanged, this,
            [this](Lamp lamp, bool on) { lampOf(*ui_, lamp)->setLedOn(on); });
    connect(commands, &CommandRunner::notice, this, &TForm1::showNotice);
    connect(commands, &CommandRunner::commandLineChanged, ui.Edit_send, &QComboBox::setEditText);
    connect(commands, &CommandRunner::batchCaptionChanged, ui.BitBtn1, &QPushButton::setText);
    connect(commands, &CommandRunner::commandsLoaded, ui.Memo2, [this](const QStringList& list) {
        ui_->Memo2->setPlainText(list.join(QLatin1Char('\n')));
    });
}

void TForm1::wireCaptures() {
    TerminalControls& ui = *ui_;
    connect(c_->capture.get(), &CaptureController::notice, this, &TForm1::showNotice);
    // The text log's lines carry the time stamps while the pane shows them.
    connect(c_->receive.get(), &ReceivePath::timeStampsChanged, c_->capture.get(),
            &CaptureController::setLogLineTimes);
    auto saveLog = guarded([this] { BitBtn7Click(); });
    auto saveBin = guarded([this] { Button1Click(); });
    auto print = guarded([this] { Butt_printClick(); });
    connect(ui.BitBtn7, &QToolButton::clicked, this, saveLog);
    connect(ui.Save1, &QAction::triggered, this, saveLog);
    connect(ui.Save2, &QAction::triggered, this, saveLog);
    connect(ui.Button1, &QPushButton::clicked, this, saveBin);
    connect(ui.SaveinBIN1, &QAction::triggered, this, saveBin);
    connect(ui.SaveinBIN2, &QAction::triggered, this, saveBin);
    connect(ui.Butt_print, &QToolButton::clicked, this, print);
    connect(ui.Print1, &QAction::triggered, this, print);

    // The log to file: the item asks for the file and starts, or stops; its check mark and
    // the log panel follow the controller.
    CaptureController* captures = c_->capture.get();
    connect(ui.Action_log, &QAction::triggered, this,
            [this](bool checked) { runGuarded([&] { Action_logClick(checked); }); });
    connect(captures, &CaptureController::loggingChanged, ui.Action_log, &QAction::setChecked);
    connect(captures, &CaptureController::logStatusChanged, this, [this](const QString& text) {
        const LogWriter* log = c_->capture->logWriter();
        ui_->StatusBar1Panel4->setText(text);
        ui_->StatusBar1Panel4->setToolTip(log ? log->path() : QString());
        ui_->StatusBar1Panel4->setVisible(!text.isEmpty());
    });
}

// ---- Handlers of the window ------------------------------------------------------------------

void TForm1::Exit1Click() {
    if (c_->serial->portOpen())
        c_->serial->closeOnExit();
    close();
}

void TForm1::BitBtn8Click() {
    if (askYesNo(QStringLiteral("Are you sure you want to exit?"),
                 QStringLiteral("Exit Confirmation"), MsgIcon::Warning, this)) {
        close();
    }
}

void TForm1::Timer_TimeTimer() {
    const QDateTime moment = now();
    const QString time = longTimeText(moment.time());
    const QString date = shortDateText(moment.date());
    ui_->Label_Time->setText(time);
    ui_->Label_Date->setText(date);
    ui_->StatusBar1Panel3->setText(time + QStringLiteral("  ") + date);
}

void TForm1::Butt_additionalClick() {
    if (TableShown) {
        if (tableWindow_)
            tableWindow_->close();
        TableShown = false;
        ui_->Butt_additional->setText(QStringLiteral("More >>"));
    } else {
        if (tableWindow_) {
            tableWindow_->show();
            tableWindow_->raise();
        }
        TableShown = true;
        ui_->Butt_additional->setText(QStringLiteral("<< More"));
    }
}

void TForm1::tableWindowClosed() {
    TableShown = false;
    ui_->Butt_additional->setText(QStringLiteral("More >>"));
}

void TForm1::closeEvent(QCloseEvent* event) {
    runGuarded([this] { FormClose(); });
    event->accept();
}

// ---- Handlers that hand over to a controller ---------------------------------------------------

void TForm1::BitBtn2Click() {
    c_->serial->toggle(ui_->Combo_com->currentText(), ui_->Combo_speed->currentText());
}

void TForm1::BitBtn4Click() {
    c_->runner->send(ui_->Edit_send->currentText());
}

void TForm1::BitBtn1Click() {
    c_->runner->toggleBatch(ui_->UpDown_delay_command->value());
}

namespace {

// The texts of a capture's header: date and time from the clock labels, the settings from the
// boxes.
CaptureHeader captureHeader(const TerminalControls& ui) {
    CaptureHeader header;
    header.date = ui.Label_Date->text();
    header.time = ui.Label_Time->text();
    header.port = ui.Combo_com->currentText();
    header.speed = ui.Combo_speed->currentText();
    header.dataBits = ui.Combo_databits->currentText();
    header.parity = ui.Combo_parity->currentText();
    header.stopBits = ui.Combo_stopbit->currentText();
    return header;
}

// The shared save dialog; the chosen name is offered the next time. May throw DialogError.
std::optional<QString> showSaveFile(QWidget* owner, QString& fileName) {
    FileDialogRequest request;
    request.owner = owner;
    request.title = QStringLiteral("Save Log file");
    request.fileName = fileName;
    request.defaultExtension = QStringLiteral("txt");
    request.filters = {{QStringLiteral("txt"), QStringLiteral("*.txt")}};
    std::optional<QString> chosen = dialogs().saveFile(request);
    if (chosen && !chosen->isEmpty())
        fileName = *chosen;
    return chosen;
}

// The save dialog for the text log and the command list: a dialog that cannot be shown is
// reported in the error box and gives no name.
std::optional<QString> showSaveFileReported(QWidget* owner, QString& fileName) {
    try {
        return showSaveFile(owner, fileName);
    } catch (const DialogError&) {
        showMessage(QStringLiteral("File cannot be written or open!\nContact administrator."),
                    QStringLiteral("Error saving file"), MsgIcon::Error, owner);
        return std::nullopt;
    }
}

bool chosenFile(const std::optional<QString>& name) {
    return name && !name->isEmpty() && *name != kAnyFile;
}

}  // namespace

void TForm1::BitBtn6Click() {
    FileDialogRequest request;
    request.owner = this;
    request.title = QStringLiteral("Open command file");
    request.fileName = kAnyFile;
    request.defaultExtension = QStringLiteral("txt");
    request.filters = {{QStringLiteral("txt"), QStringLiteral("*.txt")},
                       {QStringLiteral("csv"), QStringLiteral("*.csv")}};
    const std::optional<QString> chosen = dialogs().openFile(request);
    if (!chosenFile(chosen))
        return;
    const QFileInfo info(*chosen);
    if (!info.exists() || info.isDir()) {
        showMessage(QStringLiteral("No such file"), this);
        return;
    }
    // The list is replaced; the command line's own text is kept.
    const QString current = ui_->Edit_send->currentText();
    c_->runner->loadCommandFile(*chosen);
    ui_->Edit_send->setEditText(current);
}

void TForm1::Savecommands1Click() {
    const std::optional<QString> name = showSaveFileReported(this, SaveFileName);
    if (!name || name->isEmpty())
        return;
    c_->runner->saveCommandFile(*name);
}

void TForm1::BitBtn7Click() {
    const std::optional<QString> name = showSaveFileReported(this, SaveFileName);
    if (!chosenFile(name))
        return;
    c_->capture->saveTextLog(*name, captureHeader(*ui_));
}

void TForm1::Button1Click() {
    const std::optional<QString> name = showSaveFile(this, SaveFileName);
    if (!chosenFile(name))
        return;
    c_->capture->saveBin(*name, captureHeader(*ui_));
}

void TForm1::Action_logClick(bool checked) {
    CaptureController& captures = *c_->capture;
    if (!checked) {
        captures.stopLog();
        return;
    }
    SaveChoiceRequest request;
    request.file.owner = this;
    request.file.title = QStringLiteral("Log to file");
    request.file.fileName = captures.suggestedLogPath();
    request.file.defaultExtension = QStringLiteral("log");
    request.file.filters = {{QStringLiteral("Log files"), QStringLiteral("*.log")},
                            {QStringLiteral("All files"), QStringLiteral("*")}};
    request.choiceLabel = QStringLiteral("Write:");
    request.choices = {QStringLiteral("Raw bytes, exactly as received"),
                       QStringLiteral("Text lines, as the pane shows them")};
    request.choice = captures.logMode() == LogMode::Text ? 1 : 0;
    std::optional<SaveChoice> chosen;
    try {
        chosen = dialogs().saveFileWithChoice(request);
    } catch (const DialogError&) {
        showMessage(QStringLiteral("File cannot be written or open!\nContact administrator."),
                    QStringLiteral("Error saving file"), MsgIcon::Error, this);
    }
    if (!chosen || chosen->path.isEmpty()) {
        ui_->Action_log->setChecked(false);
        return;
    }
    const LogMode mode = chosen->choice == 1 ? LogMode::Text : LogMode::Raw;
    captures.setLogFolder(QFileInfo(chosen->path).absolutePath());
    captures.setLogMode(mode);
    captures.startLog(chosen->path, mode);
}

void TForm1::Butt_printClick() {
    QPrinter printer(QPrinter::HighResolution);
    if (!dialogs().print(this, printer))
        return;
    // The application's font, at the printer's resolution: lines are as far apart as it needs.
    const QFont font;
    printLayout(printer, c_->capture->printout(captureHeader(*ui_), pageMetrics(printer, font)),
                font);
}

}  // namespace trelmo
