#include "app/MainWindow.h"

void MainWindow::WriteSettings() {}
