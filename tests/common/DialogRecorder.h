#pragma once
// Answers every modal box and dialog of the program from a script and records what was
// shown. Installs itself on construction and restores the Qt dialogs on destruction.

#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include "widgets/Dialogs.h"

namespace trelmo::test {

class DialogRecorder : public DialogProvider {
  public:
    DialogRecorder();
    ~DialogRecorder() override;
    DialogRecorder(const DialogRecorder&) = delete;
    DialogRecorder& operator=(const DialogRecorder&) = delete;

    // Every message box shown, in order.
    std::vector<MessageRequest> messages;
    // Texts of the message boxes, in order.
    QStringList texts() const;
    // The last text shown, empty when none.
    QString lastText() const;
    void clear() { messages.clear(); }

    // Answers for Yes/No boxes, used in order; when empty, `defaultYesNo`.
    std::deque<MsgResult> yesNoAnswers;
    MsgResult defaultYesNo = MsgResult::No;

    // Answers for the file dialogs, in order (nullopt = cancel). When empty: cancel.
    std::deque<std::optional<QString>> openAnswers;
    std::deque<std::optional<QString>> saveAnswers;
    std::vector<FileDialogRequest> openRequests;
    std::vector<FileDialogRequest> saveRequests;
    // Answers for the save dialogs that also ask how to write (nullopt = cancel), in order;
    // when empty: cancel.
    std::deque<std::optional<SaveChoice>> saveChoiceAnswers;
    std::vector<SaveChoiceRequest> saveChoiceRequests;
    // When set, the next save dialog throws DialogError instead of answering.
    bool failNextSave = false;

    // When not empty, the print dialog is accepted and the printer prints to this PDF.
    QString printToPdf;
    int printDialogs = 0;

    // Called for each message before it is answered (may, e.g., record program state).
    std::function<void(const MessageRequest&)> onMessage;

    MsgResult message(const MessageRequest& request) override;
    std::optional<QString> openFile(const FileDialogRequest& request) override;
    std::optional<QString> saveFile(const FileDialogRequest& request) override;
    std::optional<SaveChoice> saveFileWithChoice(const SaveChoiceRequest& request) override;
    bool print(QWidget* owner, QPrinter& printer) override;
};

}  // namespace trelmo::test
