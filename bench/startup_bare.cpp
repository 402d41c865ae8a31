// The floor of the start-up benchmark: a bare Qt Widgets window of the client's size and title, built with
// the same compiler, flags and Qt as the client.
#include "FirstPaintProbe.h"

#include <QApplication>
#include <QWidget>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("QuorvaleID"));
    window.setFixedSize(800, 480);
    new FirstPaintProbe(window);
    window.show();
    return application.exec();
}
