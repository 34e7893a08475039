#include "windows/main_window.h"

namespace tampod {

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("tamPOD"));
    resize(960, 600);
}

} // namespace tampod
