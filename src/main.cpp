#include "window/Launcher.h"

#include <QApplication>
#include <QWidget>

int main(int argc, char* argv[]) {
    Launcher::nameApplication();
    QApplication application(argc, argv);
    Launcher::Options options;
    options.makeWindow = [](QuorvaleApp&) {
        auto window = std::make_unique<QWidget>();
        window->setWindowTitle(QStringLiteral("QuorvaleID"));
        window->setFixedSize(800, 480);
        return window;
    };
    Launcher launcher(application, std::move(options));
    return launcher.exec();
}
