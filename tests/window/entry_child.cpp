// The program's entry with a window of the test's own, run as a separate process by the entry tests. It
// keeps its store and settings under --data, its keys in memory, and prints what happens to standard output:
// "started" once the window shows (and a line on standard error), "deepLink <url>" and the window operations
// ("restore", "closeOthers"), and "keyring <operation>" for every use of the key store (never a tag).
//   entry_child --data <folder> [--socket <path>] [--real-keyring] [--as-if-display] [--crash-options <file>]
//               [link]
// With --real-keyring the desktop keyring is checked and holds the keys, for real. The offscreen platform
// counts as no display, so a refusal (no keyring, a client already running on the store, a store that cannot
// be opened) is only printed; with --as-if-display it shows its box, which is photographed, printed as
// "box: <text>" and closed.
#include "app/WindowController.h"
#include "platform/MemoryKeyStore.h"
#include "platform/SecretServiceKeyStore.h"
#include "storage/CoreDataManager.h"
#include "storage/KeyChain.h"
#include "window/Launcher.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QSettings>
#include <QTimer>
#include <QWidget>

#include <cstdio>

#include <sys/resource.h>

namespace {

void say(const QString& line) {
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

QString optionValue(QStringList& arguments, const QString& name) {
    const qsizetype at = arguments.indexOf(name);
    if (at < 0 || at + 1 >= arguments.size())
        return {};
    const QString value = arguments.at(at + 1);
    arguments.remove(at, 2);
    return value;
}

class PrintingWindowController final : public WindowController {
public:
    bool miniaturizeKeyWindow() override {
        say(QStringLiteral("miniaturize"));
        return true;
    }
    bool restoreFirstWindow() override {
        say(QStringLiteral("restore"));
        return true;
    }
    void closeAllButFirstWindow() override { say(QStringLiteral("closeOthers")); }
    void openInBrowser(const QUrl& url) override { say(QStringLiteral("open ") + url.toString()); }
};

// Says which operations the program asks of its key store.
class PrintingKeyStore final : public KeyStore {
public:
    explicit PrintingKeyStore(std::shared_ptr<KeyStore> keys)
        : m_keys(std::move(keys)) {}
    Status lookUp(const QString& tag, std::vector<SecureBytes>& secrets) override {
        say(QStringLiteral("keyring find"));
        return m_keys->lookUp(tag, secrets);
    }
    Status add(const QString& tag, const SecureBytes& privateKeyDer) override {
        say(QStringLiteral("keyring add"));
        return m_keys->add(tag, privateKeyDer);
    }
    Status retag(const QString& from, const QString& to, const Match& which) override {
        say(QStringLiteral("keyring retag"));
        return m_keys->retag(from, to, which);
    }
    Status remove(const QString& tag, const Match& which) override {
        say(QStringLiteral("keyring remove"));
        return m_keys->remove(tag, which);
    }
    QString lastError() const override { return m_keys->lastError(); }

private:
    std::shared_ptr<KeyStore> m_keys;
};

// Photographs the refusal box once it shows, then presses its button.
void answerRefusalBox() {
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, poll, [poll] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            if (!box || !box->isVisible())
                continue;
            const QString folder = QCoreApplication::applicationDirPath() + QStringLiteral("/screenshots");
            QDir().mkpath(folder);
            box->grab().save(folder + QStringLiteral("/%1.png").arg(box->objectName()));
            // One line per box: its own line breaks are printed as "\n".
            say(QStringLiteral("box: ") + QString(box->text()).replace(u'\n', QStringLiteral("\\n")));
            box->button(QMessageBox::Ok)->click();
            poll->stop();
            return;
        }
    });
    poll->start(50);
}

} // namespace

int main(int argc, char* argv[]) {
    // Some runs are killed on purpose; they must not leave core files behind.
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);

    if (!Launcher::checkGraphicalSession(argc, argv))
        return Launcher::noGraphicalSessionExitCode;
    Launcher::nameApplication();
    const std::unique_ptr<QApplication> running = Launcher::startApplication(argc, argv);
    QApplication& application = *running;
    QStringList arguments = application.arguments();
    const QString data = optionValue(arguments, QStringLiteral("--data"));
    if (data.isEmpty())
        return 2;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, data + QStringLiteral("/settings"));
    PersistentContainer::Options store;
    store.storePath = data + QStringLiteral("/QVModel.sqlite");
    CoreDataManager::configure(store);
    const bool realKeyring = arguments.contains(QStringLiteral("--real-keyring"));
    KeyChain::setKeyStore(std::make_shared<PrintingKeyStore>(
        realKeyring ? std::shared_ptr<KeyStore>(std::make_shared<SecretServiceKeyStore>())
                    : std::make_shared<MemoryKeyStore>()));

    Launcher::Options options;
    options.storePath = store.storePath;
    options.socketPath = optionValue(arguments, QStringLiteral("--socket"));
    const QString crashOptions = optionValue(arguments, QStringLiteral("--crash-options"));
    if (!crashOptions.isEmpty())
        options.app.crashReportingOptionsPath = crashOptions;
    if (!realKeyring)
        options.keyringProblem = [] { return std::optional<QString>(); };
    if (arguments.contains(QStringLiteral("--as-if-display"))) {
        options.canShowDialogs = [] { return true; };
        answerRefusalBox();
    }

    PrintingWindowController windows;
    rx::AnyCancellable deepLinks;
    options.makeWindow = [&](QuorvaleApp& app) {
        app.appViewModel.setWindowController(&windows);
        deepLinks = app.appViewModel.deepLink.sink([](const std::optional<QUrl>& link) {
            if (link)
                say(QStringLiteral("deepLink ") + link->toString());
        });
        auto window = std::make_unique<QWidget>();
        window->setWindowTitle(QStringLiteral("QuorvaleID"));
        return window;
    };
    Launcher launcher(application, std::move(options));
    QObject::connect(&launcher, &Launcher::started, [] {
        std::fprintf(stderr, "entry_child: standard error after start-up\n");
        std::fflush(stderr);
        say(QStringLiteral("started"));
    });
    return launcher.exec();
}
