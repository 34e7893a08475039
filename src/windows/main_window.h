#pragma once

#include <QMainWindow>

namespace tampod {

// The main window. Its content comes with the application shell.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);
};

} // namespace tampod
