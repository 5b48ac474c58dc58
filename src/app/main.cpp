#include "app/FileLimit.h"
#include "app/VelmoraApp.h"
#include "model/AppSettings.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char* argv[]) {
    raiseOpenFileLimit();
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Velmora"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELMORA_VERSION));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/images/velmora-icon.png")));
    AppSettings::shared();

    VelmoraApp velmora;
    QObject::connect(velmora.mainWindow(), &ContentView::quitRequested, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    velmora.mainWindow()->show();
    return QApplication::exec();
}
