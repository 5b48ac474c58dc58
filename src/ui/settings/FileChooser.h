#pragma once

#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

// Where the settings screen asks the user for a file to write or to read. The
// application uses window-modal file dialogs; tests set a chooser of their own.
class FileChooser {
public:
    using Done = std::function<void(const QString& path)>; // empty path: cancelled

    virtual ~FileChooser() = default;
    // A JSON file to write, proposing `proposedName`.
    virtual void chooseSaveFile(QWidget* parent, const QString& proposedName, Done done) = 0;
    // One existing JSON file to read.
    virtual void chooseOpenFile(QWidget* parent, Done done) = 0;

    // The chooser in use (file dialogs unless one was set).
    static FileChooser& current();
    // Replaces the chooser; null restores the file dialogs.
    static void setCurrent(std::unique_ptr<FileChooser> chooser);
};
