#include "tests/common/DialogRecorder.h"

#include <QPrinter>

namespace trelmo::test {

DialogRecorder::DialogRecorder() {
    setDialogProvider(this);
}
DialogRecorder::~DialogRecorder() {
    setDialogProvider(nullptr);
}

QStringList DialogRecorder::texts() const {
    QStringList out;
    for (const auto& m : messages)
        out << m.text;
    return out;
}

QString DialogRecorder::lastText() const {
    return messages.empty() ? QString() : messages.back().text;
}

MsgResult DialogRecorder::message(const MessageRequest& request) {
    messages.push_back(request);
    if (onMessage)
        onMessage(request);
    if (request.buttons == MsgButtons::Ok)
        return MsgResult::Ok;
    if (yesNoAnswers.empty())
        return defaultYesNo;
    const MsgResult answer = yesNoAnswers.front();
    yesNoAnswers.pop_front();
    return answer;
}

std::optional<QString> DialogRecorder::openFile(const FileDialogRequest& request) {
    openRequests.push_back(request);
    if (openAnswers.empty())
        return std::nullopt;
    auto answer = openAnswers.front();
    openAnswers.pop_front();
    return answer;
}

std::optional<QString> DialogRecorder::saveFile(const FileDialogRequest& request) {
    saveRequests.push_back(request);
    if (failNextSave) {
        failNextSave = false;
        throw DialogError("the save dialog cannot be shown");
    }
    if (saveAnswers.empty())
        return std::nullopt;
    auto answer = saveAnswers.front();
    saveAnswers.pop_front();
    return answer;
}

std::optional<SaveChoice> DialogRecorder::saveFileWithChoice(const SaveChoiceRequest& request) {
    saveChoiceRequests.push_back(request);
    if (failNextSave) {
        failNextSave = false;
        throw DialogError("the save dialog cannot be shown");
    }
    if (saveChoiceAnswers.empty())
        return std::nullopt;
    auto answer = saveChoiceAnswers.front();
    saveChoiceAnswers.pop_front();
    return answer;
}

bool DialogRecorder::print(QWidget*, QPrinter& printer) {
    ++printDialogs;
    if (printToPdf.isEmpty())
        return false;
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(printToPdf);
    return true;
}

}  // namespace trelmo::test
