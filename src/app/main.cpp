#include "windows/main_window.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("tamPOD"));
    QApplication::setApplicationName(QStringLiteral("tamPOD"));

    tampod::MainWindow window;
    window.show();
    return QApplication::exec();
}
