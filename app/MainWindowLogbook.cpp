#include "app/MainWindow.h"

#include "common/JulianDate.h"

#include <stdio.h>

namespace {

// Three base-36 characters and the terminator. GetIGCFileName forms its serial text here too.
char szIGCSerial[4];

// Base-36 digits; the closing '~' is never reached.
const char kszSerialDigits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ~";

} // namespace

void MainWindow::EmptyLogbook() {}

void MainWindow::DownloadFlight() {}

const char* MainWindow::GetIGCSerial(uint32_t uiSerial) const {
    // Only the low three base-36 digits fit the file name.
    const uint32_t uiRest = uiSerial % 46656u;
    szIGCSerial[0] = kszSerialDigits[uiRest / 1296u];
    szIGCSerial[1] = kszSerialDigits[uiRest % 1296u / 36u];
    szIGCSerial[2] = kszSerialDigits[uiRest % 36u];
    szIGCSerial[3] = '\0';
    return szIGCSerial;
}

const char* MainWindow::GetIGCFileName(uint32_t uiDt, uint8_t byDailyNr, uint32_t uiSerial) const {
    static char szFileName[35];
    const common::JulianDate date(uiDt);
    // The long IGC name: date, manufacturer code, serial and the flight's number of the day.
    snprintf(szFileName, sizeof(szFileName), "%04u-%02u-%02u-VNK-%s-%02u.igc",
             static_cast<unsigned>(date.Year()), static_cast<unsigned>(date.Month()),
             static_cast<unsigned>(date.Day()), GetIGCSerial(uiSerial), static_cast<unsigned>(byDailyNr));
    return szFileName;
}
