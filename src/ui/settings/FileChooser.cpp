#include "ui/settings/FileChooser.h"

#include <QFileDialog>
#include <QPointer>

namespace {

class DialogFileChooser : public FileChooser {
public:
    void chooseSaveFile(QWidget* parent, const QString& proposedName, Done done) override {
        auto* dialog = makeDialog(parent, std::move(done));
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        dialog->setFileMode(QFileDialog::AnyFile);
        dialog->setDefaultSuffix(QStringLiteral("json"));
        dialog->selectFile(proposedName);
        dialog->open();
    }

    void chooseOpenFile(QWidget* parent, Done done) override {
        auto* dialog = makeDialog(parent, std::move(done));
        dialog->setAcceptMode(QFileDialog::AcceptOpen);
        dialog->setFileMode(QFileDialog::ExistingFile);
        dialog->open();
    }

private:
    static QFileDialog* makeDialog(QWidget* parent, Done done) {
        auto* dialog = new QFileDialog(parent);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->setWindowModality(Qt::WindowModal);
        dialog->setNameFilter(QStringLiteral("JSON (*.json)"));
        QObject::connect(
            dialog, &QFileDialog::finished, dialog, [dialog, done = std::move(done)](int result) {
                const QStringList files = dialog->selectedFiles();
                done(result == QDialog::Accepted && !files.isEmpty() ? files.first() : QString());
            });
        return dialog;
    }
};

std::unique_ptr<FileChooser>& chooserSlot() {
    static std::unique_ptr<FileChooser> chooser = std::make_unique<DialogFileChooser>();
    return chooser;
}

} // namespace

FileChooser& FileChooser::current() {
    return *chooserSlot();
}

void FileChooser::setCurrent(std::unique_ptr<FileChooser> chooser) {
    chooserSlot() = chooser ? std::move(chooser) : std::make_unique<DialogFileChooser>();
}
