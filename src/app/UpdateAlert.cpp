#include "app/UpdateAlert.h"

#include "model/AppLanguage.h"
#include "services/UpdateCheckService.h"
#include "ui/WebLinks.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

QMessageBox* presentUpdateResult(const UpdateCheckResult& result, QWidget* parent, const QUrl& downloadUrl) {
    using Kind = UpdateCheckResult::Kind;
    auto* box = new QMessageBox(parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(parent != nullptr ? Qt::WindowModal : Qt::ApplicationModal);
    box->setTextFormat(Qt::PlainText);

    QString title;
    QString message;
    switch (result.kind) {
    case Kind::upToDate:
        box->setIcon(QMessageBox::Information);
        title = localizedText("Keine Updates verfügbar", "No Updates Available");
        message = localizedText("Du verwendest bereits die aktuelle Version ",
                                "You are already using the latest version ") +
                  result.text + QLatin1Char('.');
        box->addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
        break;
    case Kind::updateAvailable: {
        box->setIcon(QMessageBox::Information);
        title = localizedText("Update verfügbar — Version ", "Update Available — Version ") + result.text;
        message = localizedText("Eine neue Version von Velmora ist verfügbar.",
                                "A new version of Velmora is available.");
        if (result.notes && !result.notes->isEmpty()) {
            message += QStringLiteral("\n\n") + *result.notes;
        }
        QPushButton* download =
            box->addButton(localizedText("Herunterladen", "Download"), QMessageBox::AcceptRole);
        box->addButton(localizedText("Später", "Later"), QMessageBox::RejectRole);
        box->setDefaultButton(download);
        QObject::connect(download, &QPushButton::clicked, box,
                         [downloadUrl] { WebLinks::open(downloadUrl); });
        break;
    }
    case Kind::networkError:
        box->setIcon(QMessageBox::Warning);
        title = localizedText("Update-Prüfung fehlgeschlagen", "Update Check Failed");
        message = localizedText("Server nicht erreichbar. Bitte Internetverbindung prüfen.\n\n",
                                "Server not reachable. Please check your internet connection.\n\n") +
                  result.text;
        box->addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
        break;
    case Kind::parseError:
        box->setIcon(QMessageBox::Warning);
        title = localizedText("Update-Prüfung fehlgeschlagen", "Update Check Failed");
        message = localizedText("Die Versionsinformation konnte nicht gelesen werden.",
                                "The version information could not be read.");
        box->addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
        break;
    }
    box->setText(title);
    box->setInformativeText(message);
    // The informative label would otherwise guess rich text and open links.
    if (auto* informative = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"))) {
        informative->setTextFormat(Qt::PlainText);
        informative->setOpenExternalLinks(false);
        informative->setTextInteractionFlags(Qt::TextSelectableByMouse);
    }
    box->open();
    return box;
}
