// Medians of the device-storage operations the flows wait on. Run it through scripts/with-keyring.sh to
// include the desktop keyring; otherwise only the in-memory key store is measured.
//   storage_bench [samples-scale]
#include "AppLogger.h"
#include "Console.h"
#include "CoreDataManager.h"
#include "KeyChain.h"
#include "MemoryKeyStore.h"
#include "SecretServiceKeyStore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>
#include <QUuid>

#include <algorithm>
#include <functional>
#include <vector>

namespace {

QTextStream out(stdout);

double medianMs(int samples, const std::function<void(int)>& run) {
    std::vector<double> times;
    times.reserve(size_t(samples));
    for (int i = 0; i < samples; ++i) {
        QElapsedTimer timer;
        timer.start();
        run(i);
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    const size_t mid = times.size() / 2;
    return times.size() % 2 ? times[mid] : (times[mid - 1] + times[mid]) / 2;
}

void report(const QString& what, int samples, double ms) {
    out << qSetFieldWidth(46) << Qt::left << what << qSetFieldWidth(0) << QStringLiteral("%1 ms  (median of %2)\n")
                                                                      .arg(ms, 9, 'f', 3)
                                                                      .arg(samples);
    out.flush();
}

void benchKeys(const QString& backend, int scale) {
    QStringList tags;
    const auto tag = [&tags] {
        tags << QStringLiteral("bench@example.org||") + QUuid::createUuid().toString(QUuid::WithoutBraces);
        return tags.last();
    };
    const int creations = 10 * scale;
    report(backend + QStringLiteral(": key pair creation"), creations,
           medianMs(creations, [&](int) { KeyChain::getOrCreateKeyPair(tag()); }));
    const QString existing = tags.first();
    const int lookups = 50 * scale;
    report(backend + QStringLiteral(": lookup of an existing key"), lookups,
           medianMs(lookups, [&](int) { KeyChain::getOrCreateKeyPair(existing); }));
    const auto pair = KeyChain::getOrCreateKeyPair(existing);
    const int signs = 200 * scale;
    report(backend + QStringLiteral(": signing one message"), signs, medianMs(signs, [&](int i) {
               KeyChain::signBase64(pair->privateKey, QStringLiteral("suid-1||zid-1||code-%1").arg(i));
           }));
    for (const QString& t : std::as_const(tags))
        KeyChain::keyStore()->remove(t);
}

void benchStore(const QString& dir, int scale) {
    for (const int users : {1, 10, 100}) {
        CoreDataManager store(PersistentContainer::Options{dir + QStringLiteral("/fetch-%1.sqlite").arg(users)});
        for (int i = 0; i < users; ++i) {
            AuthResponse user;
            user.zid = QStringLiteral("zid-%1").arg(i);
            user.suid = QStringLiteral("suid-%1").arg(i);
            user.email = QStringLiteral("user%1@example.org").arg(i);
            user.orgCode = QStringLiteral("ORG");
            user.pin = KeyChain::sha256Hex(QStringLiteral("123456"));
            user.primaryAttr = QStringLiteral("attr-%1").arg(i);
            store.saveAuthResponse(user);
        }
        const int samples = 200 * scale;
        report(QStringLiteral("fetchAuthResponses() with %1 user(s)").arg(users), samples,
               medianMs(samples, [&](int) { store.fetchAuthResponses(); }));
    }
    CoreDataManager store(PersistentContainer::Options{dir + QStringLiteral("/update.sqlite")});
    AuthResponse user;
    user.zid = QStringLiteral("zid-0");
    user.email = QStringLiteral("user@example.org");
    store.saveAuthResponse(user);
    const int samples = 200 * scale;
    report(QStringLiteral("updateAuthResponse(_:) of a stored user"), samples, medianMs(samples, [&](int i) {
               user.invalidAttemptCount = i % 3;
               store.updateAuthResponse(user);
           }));
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    const int scale = std::max(1, argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 1);
    QTemporaryDir dir;
    AppLogger::configure({std::nullopt, dir.filePath(QStringLiteral("Logs/quorvaleapp.log"))});
    console::setSink([](const QString&) {});

    KeyChain::setKeyStore(std::make_shared<MemoryKeyStore>());
    benchKeys(QStringLiteral("memory"), scale);
    if (SecretServiceKeyStore::isAvailable()) {
        KeyChain::setKeyStore(std::make_shared<SecretServiceKeyStore>());
        benchKeys(QStringLiteral("keyring"), scale);
    } else {
        out << "keyring: no Secret Service reachable, skipped\n";
    }
    benchStore(dir.path(), scale);
    return 0;
}
