#pragma once
// The one seam through which every modal box and common dialog is shown.
//
// Production code calls the free functions below; they forward to the installed
// DialogProvider. The default provider shows real QMessageBox / QFileDialog /
// QPrintDialog windows; tests install a recorder that answers from a script and
// keeps a log of what was shown, so no test ever blocks on a modal box.

#include <QString>
#include <QStringList>
#include <optional>
#include <stdexcept>

class QWidget;
class QPrinter;

namespace trelmo {

enum class MsgIcon { None, Information, Warning, Error, Question };
enum class MsgButtons { Ok, YesNo };
enum class MsgResult { Ok, Yes, No };

struct MessageRequest {
    QWidget* owner = nullptr;
    QString text;
    QString title;  // empty: the application's title
    MsgIcon icon = MsgIcon::None;
    MsgButtons buttons = MsgButtons::Ok;
};

struct FileDialogRequest {
    QWidget* owner = nullptr;
    QString title;
    QString fileName;          // initial file name ("log.txt", "*.txt")
    QString defaultExtension;  // without the dot ("txt")
    // Filter entries as (description, pattern) pairs, e.g. {"txt", "*.txt"}.
    QList<QPair<QString, QString>> filters;
};

// A save dialog that also asks how the file is to be written: a short list of ways under the
// file name (the log to file: raw bytes or text lines).
struct SaveChoiceRequest {
    FileDialogRequest file;  // fileName may be a whole path: the dialog opens in its folder
    QString choiceLabel;     // "Write:"
    QStringList choices;
    int choice = 0;  // the one offered
};

struct SaveChoice {
    QString path;
    int choice = 0;
};

// Raised by a provider when a dialog cannot be shown at all.
class DialogError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class DialogProvider {
  public:
    virtual ~DialogProvider() = default;
    virtual MsgResult message(const MessageRequest& request) = 0;
    // The chosen path, or nullopt when the user cancelled. May throw DialogError.
    virtual std::optional<QString> openFile(const FileDialogRequest& request) = 0;
    virtual std::optional<QString> saveFile(const FileDialogRequest& request) = 0;
    // The chosen path and way, or nullopt when cancelled. May throw DialogError. By default
    // the plain save dialog, keeping the choice offered.
    virtual std::optional<SaveChoice> saveFileWithChoice(const SaveChoiceRequest& request);
    // Lets the user pick and set up a printer; false when cancelled.
    virtual bool print(QWidget* owner, QPrinter& printer) = 0;
};

// The provider in force (the Qt one unless a test installed another).
DialogProvider& dialogs();
// Installs a provider (not owned); nullptr restores the Qt provider.
void setDialogProvider(DialogProvider* provider);

// The title of plain message boxes.
QString applicationTitle();

// A plain modal message box with an OK button and no icon.
void showMessage(const QString& text, QWidget* owner = nullptr);
// A box with a title, an icon and OK.
void showMessage(const QString& text, const QString& title, MsgIcon icon, QWidget* owner = nullptr);
// The default error display: a modal box with the error's message, the application's title
// and an error icon (what the program connects to the error sink of core/Guard.h).
void showErrorBox(const QString& message);
// A Yes/No question; true for Yes.
bool askYesNo(const QString& text, const QString& title, MsgIcon icon, QWidget* owner = nullptr);

// True while a box shown through this seam is open (used to hold back timers).
bool messageBoxShowing();

}  // namespace trelmo
