#pragma once
// TForm1: the main window of the terminal. It builds and lays out its controls (each with its
// designer name as objectName, terminal/TerminalControls.h) and wires them to the controllers
// of terminal/control, which hold the links, the receive path, the command list and the
// captures. Its handlers only read controls, call a controller and show what comes back; the
// controllers' signals write the controls.
//
// Tests and automation find a control by its objectName and drive it as a user would; what a
// control does not show is read through a controller.

#include <QMainWindow>
#include <QString>
#include <memory>

namespace trelmo {

struct Notice;
struct StartOptions;
struct TerminalControls;
class TerminalControllers;
class CaptureController;
class CommandRunner;
class PaneTools;
class ReceivePath;
class SerialLinkController;
class TcpLinksController;

class TForm1 : public QMainWindow {
    Q_OBJECT
  public:
    // Builds the window, loads the settings file at `settingsPath` and sets the initial state.
    explicit TForm1(const QString& settingsPath, QWidget* parent = nullptr);
    ~TForm1() override;

    const QString& settingsPath() const { return settingsPath_; }

    // The controllers behind the window.
    ReceivePath* receivePath() const;
    SerialLinkController* serialLink() const;
    TcpLinksController* tcpLinks() const;
    CommandRunner* commands() const;
    CaptureController* captures() const;

    // The pane's time stamps, find bar, echo and UTF-8 (terminal/PaneTools.h).
    PaneTools* paneTools() const { return paneTools_; }

    // The byte table window the "More >>" button shows and hides (not owned).
    void setTableWindow(QWidget* window) { tableWindow_ = window; }
    // The table window was closed (by its close box or by "<< More").
    void tableWindowClosed();
    // Whether the table window is shown by the "More >>" button.
    bool tableShown() const { return TableShown; }

    // Puts the command line's options into the window as a user would: the settings boxes
    // (their change handlers run), then the connection asked for.
    void applyStartOptions(const StartOptions& options);

  signals:
    // "About" menu item or the "About the program" button.
    void aboutRequested();
    // The "M-Bus" menu item.
    void mbusRequested();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void wireWindow();
    void wireSerial();
    void wireTcp();
    void wireReceive();
    void wireCommands();
    void wireCaptures();
    void showNotice(const Notice& notice);

    // ---- Start-up and shutdown (TerminalSettings.cpp) -------------------------------------
    // Reads the settings file into the controls and the controllers; any error gives the
    // fallbacks.
    void LoadSettings();
    // Writes the controls' keys in their fixed order, once; false (after showing "Unable to
    // save current settings!") when the file could not be written, and it is then as it was.
    bool SaveSettings();
    // Runs when the window closes, whatever started it: saves the settings, then closes the
    // serial port.
    void FormClose();

    // ---- Handlers --------------------------------------------------------------------------
    void Exit1Click();
    void BitBtn8Click();
    void Timer_TimeTimer();
    void Butt_additionalClick();
    void BitBtn2Click();
    void BitBtn4Click();
    void BitBtn6Click();
    void Savecommands1Click();
    void BitBtn1Click();
    void BitBtn7Click();
    void Button1Click();
    void Butt_printClick();
    void Action_logClick(bool checked);

    std::unique_ptr<TerminalControls> ui_;
    std::unique_ptr<TerminalControllers> c_;
    QString settingsPath_;
    QWidget* tableWindow_ = nullptr;
    PaneTools* paneTools_ = nullptr;
    bool TableShown = false;
    // The name the shared save dialog (text log, BIN file, command list) offers next: the
    // last name chosen in it, "log.txt" at first.
    QString SaveFileName = QStringLiteral("log.txt");
};

}  // namespace trelmo
