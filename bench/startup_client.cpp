// The client as the program's own entry starts it (single instance, keyring check, application, window),
// ending at its first painted frame.
#include "FirstPaintProbe.h"

#include "window/Launcher.h"
#include "window/MainWindow.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    Launcher::nameApplication();
    QApplication application(argc, argv);
    Launcher::Options options;
    options.makeWindow = [](QuorvaleApp& app) {
        auto window = std::make_unique<MainWindow>(app.appViewModel, app.repository);
        new FirstPaintProbe(*window);
        return window;
    };
    Launcher launcher(application, std::move(options));
    return launcher.exec();
}
