// A second client process for the storage tests: writes users in a burst, reporting each write that
// returned; only opens a store (to watch the ways opening can stop the program); or asks the program's own
// key store for a key pair.
//   storage_child burst <store> <prefix> <count>
//   storage_child open <store> [<model resource>]
//   storage_child keys <tag>
// With "keys-again" it asks once more after a line on its standard input, and says whether it got the same
// key: the test restarts the keyring daemon in between.
//   storage_child keys-again <tag>
#include "Console.h"
#include "CoreDataManager.h"
#include "KeyChain.h"

#include <QCoreApplication>

#include <cstdio>

#include <sys/resource.h>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3)
        return 2;
    if (args[1] == QLatin1String("keys")) {
        const auto pair = KeyChain::getOrCreateKeyPair(args[2]);
        console::print(pair ? u"pair" : u"no pair");
        return 0;
    }
    if (args[1] == QLatin1String("keys-again")) {
        console::setSink([](const QString&) {});
        const auto first = KeyChain::getOrCreateKeyPair(args[2]);
        std::printf("%s\n", first ? "pair" : "no pair");
        std::fflush(stdout);
        char line[16];
        if (!std::fgets(line, sizeof(line), stdin))
            return 2;
        const auto again = KeyChain::getOrCreateKeyPair(args[2]);
        const bool same = first && again &&
                          KeyChain::keyIdentity(first->publicKey) == KeyChain::keyIdentity(again->publicKey);
        std::printf("%s\n", same ? "same pair" : again ? "another pair" : "no pair");
        return 0;
    }
    console::setSink([](const QString&) {});
    // This process is stopped and killed on purpose; it must not leave core files behind.
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    PersistentContainer::Options options{args[2]};
    if (args[1] == QLatin1String("open")) {
        if (args.size() > 3)
            options.modelResource = args[3];
        CoreDataManager store(options);
        return 0;
    }
    if (args[1] == QLatin1String("burst") && args.size() == 5) {
        CoreDataManager store(options);
        const int count = args[4].toInt();
        for (int i = 0; i < count; ++i) {
            AuthResponse user;
            user.zid = args[3] + QString::number(i);
            user.suid = QStringLiteral("suid");
            user.email = QStringLiteral("burst@example.org");
            user.orgCode = args[3];
            user.invalidAttemptCount = i;
            store.updateAuthResponse(user);
            std::printf("%d\n", i);
            std::fflush(stdout);
        }
        return 0;
    }
    return 2;
}
