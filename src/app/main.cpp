#include <QApplication>
#include <QMainWindow>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Velmora"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELMORA_VERSION));
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Velmora"));
    window.resize(900, 600);
    window.show();
    return QApplication::exec();
}
