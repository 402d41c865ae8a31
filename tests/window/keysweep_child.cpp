// One start of the client on a data folder of its own, its keys in the desktop keyring, for the tests of
// what a start may delete or move there. It prints "swept" once the start's work on the device keys has
// ended and then ends; with "enrol" it goes on to enrol a user instead, and ends only when it is killed (the
// test kills it while the registration is out), or, with "quit" after the PIN, quits as the window's close
// does the moment the enrolment is under way, or, with "end", registers anew when the user is enrolled
// already, says whether the registration completed, and ends. A store whose users cannot be read is
// refused: it prints "store refused" and ends with 66, as the client does.
//   keysweep_child --data <folder> --api <base URL> [enrol <e-mail> <activation code> <PIN> [quit|end]]
#include "api/DevelopmentTrust.h"
#include "api/Environment.h"
#include "flows/CreateAccountViewModel.h"
#include "networking/NetworkingLogger.h"
#include "platform/Console.h"
#include "storage/CoreDataManager.h"
#include "window/Launcher.h"
#include "window/QuorvaleApp.h"

#include <QApplication>
#include <QCoroFuture>
#include <QCoroTask>
#include <QSettings>
#include <QStandardPaths>

#include <cstdio>

#include <sys/resource.h>

namespace {

void say(const char* line) {
    std::printf("%s\n", line);
    std::fflush(stdout);
}

QString optionValue(const QStringList& arguments, const QString& name) {
    const qsizetype at = arguments.indexOf(name);
    return at < 0 || at + 1 >= arguments.size() ? QString() : arguments.at(at + 1);
}

QCoro::Task<> run(QuorvaleApp& app, QStringList enrolment) {
    co_await CoreDataManager::shared().deviceKeysSettled();
    say("swept");
    if (enrolment.size() < 3) {
        // Queued: the sweep may have ended before the event loop started.
        QMetaObject::invokeMethod(
            qApp, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
        co_return;
    }
    // It lives as long as the application: a quit leaves the enrolment where it stands.
    auto* model = new CreateAccountViewModel(&app.repository, app.appViewModel, qApp);
    model->email = enrolment[0];
    model->activationCode = enrolment[1];
    co_await model->validateUser(enrolment[1], enrolment[0]);
    say(model->isUserValidated.get() ? "validated" : "not validated");
    if (enrolment.size() > 3 && enrolment[3] == QLatin1String("quit")) {
        // The enrolment runs up to its first wait on the keyring, then the window closes.
        model->createAccount(enrolment[2]);
        say("quitting");
        QCoreApplication::quit();
        co_return;
    }
    const bool end = enrolment.size() > 3 && enrolment[3] == QLatin1String("end");
    if (end && model->showUserExistWarning.get())
        model->deleteExistingUser();
    co_await model->createAccount(enrolment[2]);
    say("enrolment ended");
    if (end) {
        say(model->isRegistered() ? "registered" : "not registered");
        QCoreApplication::quit();
    }
}

} // namespace

int main(int argc, char* argv[]) {
    // It is killed on purpose; that must not leave core files behind.
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);

    Launcher::nameApplication();
    QApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    const QString data = optionValue(arguments, QStringLiteral("--data"));
    const QString api = optionValue(arguments, QStringLiteral("--api"));
    if (data.isEmpty() || api.isEmpty())
        return 2;
    // Standard error stays with the test rather than going to a documents folder.
    QStandardPaths::setTestModeEnabled(true);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, data + QStringLiteral("/settings"));
    QSettings().setValue(QuorvaleApp::hasRunBeforeKey(), true);
    CoreDataManager::configure({data + QStringLiteral("/QVModel.sqlite")});
    console::setSink([](const QString&) {});
    NetworkingLogger::setOutput([](const QString&) {});
    BuildConfiguration::setShared(std::make_unique<BuildConfiguration>(
        QVariantMap{{"Configuration", "Debug(Development)"}}, BundleInfo::ApiHosts{api, api, api, api, api}));
    DevelopmentTrust::setShared(
        std::make_unique<DevelopmentTrust>(BuildConfiguration::shared(), QList<QSslCertificate>{}));

    try {
        CoreDataManager::shared();
    } catch (const PersistentStoreError&) {
        say("store refused");
        return 66;
    }
    QuorvaleApp app;
    app.appViewModel.setTestMode(true);
    const qsizetype enrol = arguments.indexOf(QStringLiteral("enrol"));
    run(app, enrol < 0 ? QStringList{} : arguments.mid(enrol + 1, 4));
    return application.exec();
}
