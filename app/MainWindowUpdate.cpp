#include "app/MainWindow.h"

void MainWindow::OpenUpdateFile() {}

void MainWindow::StartUpdate() {}

bool MainWindow::ReadNewUpdateChunk(uint32_t /*uiFileOffset*/, uint16_t /*uiReadLen*/) {
    return false;
}
