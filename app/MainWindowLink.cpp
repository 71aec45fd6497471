#include "app/MainWindow.h"

#include <QComboBox>

void MainWindow::EverySecond() {}

void MainWindow::ReadCOMData() {}

void MainWindow::Connect() {}

void MainWindow::RefreshCOMList() {
    pPortCombo->clear();
    EnumeratePorts();
}
