#include "app/MainWindow.h"

#include <QApplication>
#include <QPixmap>

#include <cstdio>

// Draws the main window as it looks at start into the PNG file named by the only argument.
int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (argc != 2) {
        fprintf(stderr, "usage: %s OUTPUT.png\n", argv[0]);
        return 2;
    }
    MainWindow window;
    window.show();
    QApplication::processEvents();
    if (!window.grab().save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
