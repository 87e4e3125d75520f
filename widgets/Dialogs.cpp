#include "widgets/Dialogs.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>

namespace trelmo {
namespace {

int g_showing = 0;

struct ShowingScope {
    ShowingScope() { ++g_showing; }
    ~ShowingScope() { --g_showing; }
    ShowingScope(const ShowingScope&) = delete;
    ShowingScope& operator=(const ShowingScope&) = delete;
};

QString filterText(const FileDialogRequest& r) {
    QStringList parts;
    for (const auto& f : r.filters)
        parts << QStringLiteral("%1 (%2)").arg(f.first, f.second);
    return parts.join(QStringLiteral(";;"));
}

class QtDialogs final : public DialogProvider {
  public:
    MsgResult message(const MessageRequest& r) override {
        QMessageBox box(r.owner);
        box.setWindowTitle(r.title.isEmpty() ? applicationTitle() : r.title);
        box.setText(r.text);
        switch (r.icon) {
            case MsgIcon::None:
                box.setIcon(QMessageBox::NoIcon);
                break;
            case MsgIcon::Information:
                box.setIcon(QMessageBox::Information);
                break;
            case MsgIcon::Warning:
                box.setIcon(QMessageBox::Warning);
                break;
            case MsgIcon::Error:
                box.setIcon(QMessageBox::Critical);
                break;
            case MsgIcon::Question:
                box.setIcon(QMessageBox::Question);
                break;
        }
        if (r.buttons == MsgButtons::YesNo) {
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            box.setDefaultButton(QMessageBox::Yes);
            return box.exec() == QMessageBox::Yes ? MsgResult::Yes : MsgResult::No;
        }
        box.setStandardButtons(QMessageBox::Ok);
        box.exec();
        return MsgResult::Ok;
    }

    std::optional<QString> openFile(const FileDialogRequest& r) override {
        return run(r, QFileDialog::AcceptOpen);
    }
    std::optional<QString> saveFile(const FileDialogRequest& r) override {
        return run(r, QFileDialog::AcceptSave);
    }
    std::optional<SaveChoice> saveFileWithChoice(const SaveChoiceRequest& r) override {
        const FileDialogRequest& f = r.file;
        const QFileInfo offered(f.fileName);
        QFileDialog dialog(f.owner, f.title,
                           offered.isAbsolute() ? offered.absolutePath() : lastDir_, filterText(f));
        // The choice sits in the dialog's own layout, so it is Qt's dialog, not the desktop's.
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setDefaultSuffix(f.defaultExtension);
        dialog.selectFile(offered.isAbsolute() ? offered.fileName() : f.fileName);
        auto* choice = new QComboBox(&dialog);
        choice->setObjectName(QStringLiteral("choice"));
        choice->addItems(r.choices);
        choice->setCurrentIndex(r.choice);
        auto* label = new QLabel(r.choiceLabel, &dialog);
        label->setBuddy(choice);
        if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout())) {
            const int row = grid->rowCount();
            grid->addWidget(label, row, 0);
            grid->addWidget(choice, row, 1);
        } else if (dialog.layout()) {
            dialog.layout()->addWidget(label);
            dialog.layout()->addWidget(choice);
        }
        if (dialog.exec() != QDialog::Accepted)
            return std::nullopt;
        const QStringList files = dialog.selectedFiles();
        if (files.isEmpty())
            return std::nullopt;
        lastDir_ = dialog.directory().absolutePath();
        return SaveChoice{files.first(), choice->currentIndex()};
    }
    bool print(QWidget* owner, QPrinter& printer) override {
        QPrintDialog dialog(&printer, owner);
        return dialog.exec() == QDialog::Accepted;
    }

  private:
    // Keeps the folder last used so the next dialog opens there.
    QString lastDir_;

    std::optional<QString> run(const FileDialogRequest& r, QFileDialog::AcceptMode mode) {
        QFileDialog dialog(r.owner, r.title, lastDir_, filterText(r));
        dialog.setAcceptMode(mode);
        dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile
                                                           : QFileDialog::AnyFile);
        dialog.setDefaultSuffix(r.defaultExtension);
        if (!r.fileName.contains(QLatin1Char('*')))
            dialog.selectFile(r.fileName);
        if (dialog.exec() != QDialog::Accepted)
            return std::nullopt;
        const QStringList files = dialog.selectedFiles();
        if (files.isEmpty())
            return QString();
        lastDir_ = dialog.directory().absolutePath();
        return files.first();
    }
};

QtDialogs& qtDialogs() {
    static QtDialogs instance;
    return instance;
}

DialogProvider* g_provider = nullptr;

}  // namespace

std::optional<SaveChoice> DialogProvider::saveFileWithChoice(const SaveChoiceRequest& request) {
    const std::optional<QString> path = saveFile(request.file);
    if (!path)
        return std::nullopt;
    return SaveChoice{*path, request.choice};
}

DialogProvider& dialogs() {
    return g_provider ? *g_provider : qtDialogs();
}

void setDialogProvider(DialogProvider* provider) {
    g_provider = provider;
}

QString applicationTitle() {
    return QStringLiteral("Trelmo");
}

void showErrorBox(const QString& message) {
    showMessage(message, applicationTitle(), MsgIcon::Error);
}

void showMessage(const QString& text, QWidget* owner) {
    showMessage(text, QString(), MsgIcon::None, owner);
}

void showMessage(const QString& text, const QString& title, MsgIcon icon, QWidget* owner) {
    ShowingScope scope;
    dialogs().message({owner, text, title, icon, MsgButtons::Ok});
}

bool askYesNo(const QString& text, const QString& title, MsgIcon icon, QWidget* owner) {
    ShowingScope scope;
    return dialogs().message({owner, text, title, icon, MsgButtons::YesNo}) == MsgResult::Yes;
}

bool messageBoxShowing() {
    return g_showing > 0;
}

}  // namespace trelmo
