#pragma once

#include <QUrl>

class QMessageBox;
class QWidget;
struct UpdateCheckResult;

// Shows the outcome of an update check in a message box, window-modal on
// `parent` (opened with open(), deleted when closed), and returns it. Every
// text is plain: release notes and error texts come from outside. For an
// available update, "Download" opens `downloadUrl` (a fixed address, never
// one from the server's answer).
QMessageBox* presentUpdateResult(const UpdateCheckResult& result, QWidget* parent, const QUrl& downloadUrl);
