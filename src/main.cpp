#include "window/Launcher.h"
#include "window/MainWindow.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    if (!Launcher::checkGraphicalSession(argc, argv))
        return Launcher::noGraphicalSessionExitCode;
    Launcher::nameApplication();
    const std::unique_ptr<QApplication> application = Launcher::startApplication(argc, argv);
    Launcher::Options options;
    options.makeWindow = [](QuorvaleApp& app) {
        return std::make_unique<MainWindow>(app.appViewModel, app.repository);
    };
    Launcher launcher(*application, std::move(options));
    return launcher.exec();
}
