#include "AppLogger.h"
#include "CryptoExportImportManager.h"
#include "KeyChain.h"
#include "MemoryKeyStore.h"
#include "SecretServiceKeyStore.h"
#include "support/ConsoleCapture.h"
#include "support/LockedCollection.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QUuid>

#include <qcoro/qcorotask.h>

// Runs against the in-memory key store, or against the desktop keyring when QUORVALE_TEST_KEYSTORE is
// "secret-service" (the test command starts a private one).
class TestKeyChain : public QObject {
    Q_OBJECT

    bool m_secretService = false;
    std::shared_ptr<MemoryKeyStore> m_memory;
    QTemporaryDir m_dir;
    QStringList m_tags;

    QString freshTag(const QString& first = QStringLiteral("user@example.com")) {
        const QString tag =
            first + QStringLiteral("||") + KeyChain::sha256Hex(QUuid::createUuid().toString());
        m_tags << tag;
        return tag;
    }

    static QByteArray runOpenSsl(const QStringList& arguments, int& exitCode) {
        QProcess openssl;
        openssl.setProcessChannelMode(QProcess::MergedChannels);
        openssl.start(QStringLiteral("openssl"), arguments);
        if (!openssl.waitForFinished(30000)) {
            exitCode = -1;
            return {};
        }
        exitCode = openssl.exitStatus() == QProcess::NormalExit ? openssl.exitCode() : -1;
        return openssl.readAll();
    }

    QString writeFile(const QString& name, const QByteArray& bytes) {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return {};
        file.write(bytes);
        return path;
    }

private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(m_dir.isValid());
        AppLogger::configure({std::nullopt, m_dir.filePath(QStringLiteral("Logs/quorvaleapp.log"))});
        m_secretService = qEnvironmentVariable("QUORVALE_TEST_KEYSTORE") == QLatin1String("secret-service");
        if (m_secretService) {
            if (!SecretServiceKeyStore::isAvailable()) {
                if (qEnvironmentVariable("CI") == QLatin1String("true"))
                    QFAIL(
                        "No Secret Service is reachable; CI must run the keyring tests against a real one.");
                QSKIP("No Secret Service is reachable (run through scripts/with-keyring.sh).");
            }
            KeyChain::setKeyStore(std::make_shared<SecretServiceKeyStore>());
        } else {
            m_memory = std::make_shared<MemoryKeyStore>();
            KeyChain::setKeyStore(m_memory);
        }
    }

    void cleanupTestCase() {
        ConsoleCapture quiet;
        for (const QString& tag : std::as_const(m_tags))
            KeyChain::keyStore()->remove(tag, KeyStore::anyItem);
    }

    void aTagWithoutKeyGetsAFreshPairAndKeepsIt() {
        const QString tag = freshTag();
        QVERIFY(!KeyChain::keyStore()->find(tag));
        const auto first = KeyChain::getOrCreateKeyPair(tag);
        QVERIFY(first);
        QCOMPARE(first->publicKey.bits(), 2048);
        QCOMPARE(first->privateKey.bits(), 2048);
        QVERIFY(KeyChain::keyStore()->find(tag));

        const auto second = KeyChain::getOrCreateKeyPair(tag);
        QVERIFY(second);
        QVERIFY(second->publicKey == first->publicKey);
        if (m_memory)
            QCOMPARE(m_memory->count(tag), 1);
    }

    void retaggingMovesTheEnrolledKey() {
        const QString pinHash = KeyChain::sha256Hex(QUuid::createUuid().toString());
        const QString enrolment = QStringLiteral("typed@example.com||") + pinHash;
        const QString final = QStringLiteral("primary-attr||") + pinHash;
        m_tags << enrolment << final;

        const auto enrolled = KeyChain::getOrCreateKeyPair(enrolment);
        QVERIFY(enrolled);
        QCOMPARE(KeyChain::keyStore()->retag(enrolment, final, KeyStore::anyItem), KeyStore::success);

        const auto underFinal = KeyChain::getOrCreateKeyPair(final);
        QVERIFY(underFinal);
        QVERIFY(underFinal->publicKey == enrolled->publicKey);

        const auto underEnrolment = KeyChain::getOrCreateKeyPair(enrolment);
        QVERIFY(underEnrolment);
        QVERIFY(!(underEnrolment->publicKey == enrolled->publicKey));
    }

    // Two keys under one tag would leave signing to whichever the store returns first.
    void retaggingOntoATagInUseKeepsBothKeys() {
        const QString moving = freshTag(QStringLiteral("typed@example.com"));
        const QString taken = freshTag(QStringLiteral("primary-attr"));
        const auto movingPair = KeyChain::getOrCreateKeyPair(moving);
        const auto takenPair = KeyChain::getOrCreateKeyPair(taken);
        QVERIFY(movingPair && takenPair);

        QCOMPARE(KeyChain::keyStore()->retag(moving, taken, KeyStore::anyItem), KeyStore::duplicateItem);

        for (int round = 0; round < 5; ++round) {
            const auto underTaken = KeyChain::getOrCreateKeyPair(taken);
            QVERIFY(underTaken);
            QVERIFY(underTaken->publicKey == takenPair->publicKey);
        }
        const auto underMoving = KeyChain::getOrCreateKeyPair(moving);
        QVERIFY(underMoving);
        QVERIFY(underMoving->publicKey == movingPair->publicKey);
        if (m_memory)
            QCOMPARE(m_memory->count(taken), 1);
    }

    void retaggingAMissingKeyFails() {
        const QString tag = freshTag();
        QVERIFY(KeyChain::keyStore()->retag(tag, freshTag(), KeyStore::anyItem) != KeyStore::success);
    }

    // A key in a collection that stays locked (its unlock dismissed, or nothing to ask with) is there all the
    // same: nothing may take its tag for an empty one, make a key over it, file one beside it, or say it
    // went.
    void aKeyInALockedCollectionIsNeverTakenForNone_data() {
        QTest::addColumn<QString>("operation");
        QTest::newRow("looked up") << "look up";
        QTest::newRow("looked up beside an open item") << "look up beside";
        QTest::newRow("a key asked for") << "get or create";
        QTest::newRow("another filed under its tag") << "add";
        QTest::newRow("deleted") << "delete";
    }

    void aKeyInALockedCollectionIsNeverTakenForNone() {
        QFETCH(QString, operation);
        if (m_memory)
            QSKIP("Locked collections are the keyring's own.");
        const QString tag = freshTag();
        const QString scratch = freshTag();
        const std::optional<KeyChain::KeyPair> made = KeyChain::getOrCreateKeyPair(scratch);
        QVERIFY(made);
        const std::optional<SecureBytes> original = KeyChain::keyStore()->find(scratch);
        QVERIFY(original);
        KeyChain::keyStore()->remove(scratch, KeyStore::anyItem);
        const SecureBytes open(QByteArrayView("an open item"));
        if (operation == "look up beside")
            QCOMPARE(KeyChain::keyStore()->add(tag, open), KeyStore::success);

        LockedCollection collection;
        QVERIFY2(collection.error().isEmpty(), qPrintable(collection.error()));
        QVERIFY2(collection.file(tag, original->view().toByteArray()), qPrintable(collection.error()));
        QVERIFY2(collection.lock(), qPrintable(collection.error()));
        KeyStore& store = *KeyChain::keyStore();
        ConsoleCapture quiet;
        if (operation.startsWith("look up")) {
            std::vector<SecureBytes> secrets;
            QCOMPARE(store.lookUp(tag, secrets), KeyStore::notAvailable);
            QCOMPARE(secrets.size(), size_t(operation == "look up" ? 0 : 1));
        } else if (operation == "get or create") {
            QVERIFY(!KeyChain::getOrCreateKeyPair(tag));
        } else if (operation == "add") {
            QVERIFY(store.add(tag, SecureBytes(QByteArrayView("another key"))) != KeyStore::success);
        } else {
            QVERIFY(!KeyChain::deleteKnownKey({tag, KeyChain::keyIdentity(made->publicKey)}));
        }
        QVERIFY2(collection.unlock(), qPrintable(collection.error()));
        std::vector<SecureBytes> after;
        QCOMPARE(store.lookUp(tag, after), KeyStore::success);
        QVERIFY(std::any_of(after.begin(), after.end(),
                            [&](const SecureBytes& secret) { return secret.view() == original->view(); }));
    }

    // The keyring daemon ends while the client runs and another starts, unlocked, on the same keyring: the
    // client's next look connects to it afresh and finds the key. The two daemons run on a bus of this
    // test's own, without a display, so that no other test loses its keyring meanwhile.
    void aKeyringThatComesBackIsAskedAgain() {
        if (m_memory)
            QSKIP("The daemon is the keyring's own.");
        QTemporaryDir home;
        QVERIFY(home.isValid());
        QProcess bus;
        bus.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                                  QStringLiteral("--print-address=1")});
        QVERIFY(bus.waitForReadyRead(10000));
        const QString address = QString::fromUtf8(bus.readLine()).trimmed();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"})
            environment.remove(QString::fromLatin1(name));
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
        environment.insert(QStringLiteral("HOME"), home.path());
        environment.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.path());
        const auto startDaemon = [&](QProcess& daemon) {
            daemon.setProcessEnvironment(environment);
            daemon.start(QStringLiteral("gnome-keyring-daemon"),
                         {QStringLiteral("--foreground"), QStringLiteral("--unlock"),
                          QStringLiteral("--components=secrets")});
            if (!daemon.waitForStarted())
                return false;
            daemon.write("quorvale-test-keyring");
            daemon.waitForBytesWritten();
            daemon.closeWriteChannel();
            QProcess owner;
            owner.setProcessEnvironment(environment);
            for (int i = 0; i < 100; ++i) {
                owner.start(QStringLiteral("dbus-send"),
                            {QStringLiteral("--session"), QStringLiteral("--print-reply"),
                             QStringLiteral("--dest=org.freedesktop.DBus"), QStringLiteral("/"),
                             QStringLiteral("org.freedesktop.DBus.NameHasOwner"),
                             QStringLiteral("string:org.freedesktop.secrets")});
                if (owner.waitForFinished() && owner.readAll().contains("boolean true"))
                    return true;
                QThread::msleep(100);
            }
            return false;
        };
        QProcess first;
        QVERIFY(startDaemon(first));
        QProcess client;
        client.setProcessEnvironment(environment);
        client.start(QStringLiteral(QUORVALE_STORAGE_CHILD), {QStringLiteral("keys-again"), freshTag()});
        QVERIFY(client.waitForReadyRead(30000));
        QCOMPARE(client.readLine().trimmed(), QByteArray("pair"));

        first.terminate();
        QVERIFY(first.waitForFinished(10000));
        QProcess second;
        QVERIFY(startDaemon(second));
        client.write("again\n");
        client.waitForBytesWritten();
        QVERIFY(client.waitForFinished(30000));
        QCOMPARE(client.readAll().trimmed(), QByteArray("same pair"));
        second.terminate();
        second.waitForFinished(10000);
        bus.terminate();
        bus.waitForFinished(10000);
    }

    void publicKeyPemHasTheRegistrationShape() {
        const auto pair = KeyChain::getOrCreateKeyPair(freshTag());
        QVERIFY(pair);
        const std::optional<QString> pem = KeyChain::publicKeyString(pair->publicKey);
        QVERIFY(pem);
        QVERIFY(pem->startsWith(QLatin1String("-----BEGIN PUBLIC KEY-----\n")));
        QVERIFY(!pem->endsWith(u'\n'));
        const QStringList lines = pem->split(u'\n');
        QCOMPARE(lines.size(), 9);
        QCOMPARE(lines.last(), QStringLiteral("-----END PUBLIC KEY-----"));
        for (int i = 1; i <= 6; ++i)
            QCOMPARE(lines[i].size(), 64);
        QCOMPARE(lines[7].size(), 8);

        // OpenSSL must read it, and its own DER of the key must be byte for byte ours.
        const QString pemPath = writeFile(QStringLiteral("key.pem"), pem->toLatin1());
        const QString derPath = m_dir.filePath(QStringLiteral("key.der"));
        int exitCode = 0;
        const QByteArray output =
            runOpenSsl({QStringLiteral("pkey"), QStringLiteral("-pubin"), QStringLiteral("-in"), pemPath,
                        QStringLiteral("-outform"), QStringLiteral("DER"), QStringLiteral("-out"), derPath},
                       exitCode);
        QVERIFY2(exitCode == 0, output.constData());
        QFile der(derPath);
        QVERIFY(der.open(QIODevice::ReadOnly));
        const CryptoExportImportManager manager;
        QCOMPARE(der.readAll(), manager.derSubjectPublicKeyInfo(pair->publicKey.externalRepresentation()));
    }

    void derLengthUsesTheShortestForm_data() {
        QTest::addColumn<qsizetype>("length");
        QTest::addColumn<QByteArray>("encoded");
        QTest::newRow("zero") << qsizetype(0) << QByteArray::fromHex("00");
        QTest::newRow("127") << qsizetype(127) << QByteArray::fromHex("7F");
        QTest::newRow("128") << qsizetype(128) << QByteArray::fromHex("8180");
        QTest::newRow("255") << qsizetype(255) << QByteArray::fromHex("81FF");
        QTest::newRow("256") << qsizetype(256) << QByteArray::fromHex("820100");
        QTest::newRow("270") << qsizetype(270) << QByteArray::fromHex("82010E");
        QTest::newRow("65536") << qsizetype(65536) << QByteArray::fromHex("83010000");
    }

    void derLengthUsesTheShortestForm() {
        QFETCH(qsizetype, length);
        QFETCH(QByteArray, encoded);
        QByteArray buffer("prefix");
        QCOMPARE(CryptoExportImportManager().derLength(length, buffer), int(encoded.size()));
        QCOMPARE(buffer, QByteArray("prefix") + encoded);
    }

    void subjectPublicKeyInfoFraming_data() {
        QTest::addColumn<int>("keyBytes");
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<int>("total");
        QTest::newRow("2048-bit key") << 270
                                      << QByteArray::fromHex("3082012230"
                                                             "0D06092A864886F70D0101010500"
                                                             "0382010F00")
                                      << 294;
        QTest::newRow("short lengths") << 10
                                       << QByteArray::fromHex("301C30"
                                                              "0D06092A864886F70D0101010500"
                                                              "030B00")
                                       << 30;
        QTest::newRow("bit string crosses 127") << 126
                                                << QByteArray::fromHex("30819030"
                                                                       "0D06092A864886F70D0101010500"
                                                                       "037F00")
                                                << 147;
    }

    void subjectPublicKeyInfoFraming() {
        QFETCH(int, keyBytes);
        QFETCH(QByteArray, head);
        QFETCH(int, total);
        const QByteArray key(keyBytes, '\x5A');
        const QByteArray der = CryptoExportImportManager().derSubjectPublicKeyInfo(key);
        QCOMPARE(der.size(), total);
        QCOMPARE(der.left(head.size()), head);
        QVERIFY(der.endsWith(key));
    }

    void signaturesVerifyWithOpenSsl_data() {
        QTest::addColumn<QString>("message");
        QTest::newRow("three parts") << QStringLiteral("suid-1||zid-1||QR-CODE-TEXT");
        QTest::newRow("empty last part") << QStringLiteral("suid-1||zid-1||123456||");
        QTest::newRow("non-ASCII") << QStringLiteral("süid||zïd||код||東京");
    }

    void signaturesVerifyWithOpenSsl() {
        QFETCH(QString, message);
        const auto pair = KeyChain::getOrCreateKeyPair(freshTag());
        QVERIFY(pair);
        const std::optional<QString> signature = KeyChain::signBase64(pair->privateKey, message);
        QVERIFY(signature);
        QVERIFY(!signature->contains(u'\n'));
        const QByteArray raw = QByteArray::fromBase64(signature->toLatin1());
        QCOMPARE(raw.size(), 256);
        QVERIFY(pair->publicKey.verifySha256(message.toUtf8(), raw));

        const QString pemPath =
            writeFile(QStringLiteral("sign.pem"), KeyChain::publicKeyString(pair->publicKey)->toLatin1());
        const QString sigPath = writeFile(QStringLiteral("sign.sig"), raw);
        const QString msgPath = writeFile(QStringLiteral("sign.txt"), message.toUtf8());
        int exitCode = 0;
        const QByteArray output =
            runOpenSsl({QStringLiteral("dgst"), QStringLiteral("-sha256"), QStringLiteral("-verify"), pemPath,
                        QStringLiteral("-signature"), sigPath, msgPath},
                       exitCode);
        QVERIFY2(exitCode == 0, output.constData());
        QVERIFY(output.contains("Verified OK"));

        // A signature over other bytes (Latin-1 instead of UTF-8) must not pass.
        if (message.toUtf8() != message.toLatin1())
            QVERIFY(!pair->publicKey.verifySha256(message.toLatin1(), raw));
    }

    void deletingReportsWhetherAKeyWent() {
        const QString tag = freshTag();
        const auto before = KeyChain::getOrCreateKeyPair(tag);
        QVERIFY(before);
        ConsoleCapture capture;
        const KeyChain::KnownKey known{tag, KeyChain::keyIdentity(before->publicKey)};
        QVERIFY(KeyChain::deleteKnownKey(known));
        QVERIFY(KeyChain::deleteKnownKey(known));
        QCOMPARE(capture.lines(),
                 QStringList({QStringLiteral("success deleteUser"), QStringLiteral("deleteUser error")}));
        QVERIFY(!KeyChain::keyStore()->find(tag));
        const auto after = KeyChain::getOrCreateKeyPair(tag);
        QVERIFY(after);
        QVERIFY(!(after->publicKey == before->publicKey));
    }

    // The start-up sweep deletes what this listing names: in the keyring, an item that another program
    // filed under the same attribute names is not the client's to list.
    void sha256HexIsUpperCaseHex_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("hash");
        QTest::newRow("empty") << QString()
                               << QStringLiteral(
                                      "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855");
        QTest::newRow("six digits")
            << QStringLiteral("123456")
            << QStringLiteral("8D969EEF6ECAD3C29A3A629280E686CF0C3F5D5A86AFF3CA12020C923ADC6C92");
        QTest::newRow("non-ASCII is hashed as UTF-8")
            << QStringLiteral("é")
            << QStringLiteral("4A99557E4033C3539DE2EB65472017CAD5F9557F7A0625A09F1C3F6E2BA69C4C");
    }

    void sha256HexIsUpperCaseHex() {
        QFETCH(QString, text);
        QFETCH(QString, hash);
        const QString result = KeyChain::sha256Hex(text);
        QCOMPARE(result, hash);
        QVERIFY(QRegularExpression(QStringLiteral("^[0-9A-F]{64}$")).match(result).hasMatch());
    }

    void generationDoesNotHoldTheCallingThread() {
        const QString tag = freshTag();
        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, this, [&ticks] { ++ticks; });
        ticker.start(1);
        const auto pair = QCoro::waitFor([&]() -> QCoro::Task<std::optional<KeyChain::KeyPair>> {
            QCoro::Task<std::optional<KeyChain::KeyPair>> generation = KeyChain::generateKeyPairAsync();
            const std::optional<KeyChain::KeyPair> made = co_await generation;
            if (!made)
                co_return std::nullopt;
            QCoro::Task<qint32> filing = KeyChain::addKeyPairAsync(tag, *made);
            if (co_await filing != KeyStore::success)
                co_return std::nullopt;
            co_return made;
        }());
        QVERIFY(pair);
        QCOMPARE(pair->publicKey.bits(), 2048);
        QVERIFY(KeyChain::getOrCreateKeyPair(tag)->publicKey == pair->publicKey);
        // RSA-2048 generation takes tens of milliseconds at least; the loop must have kept turning.
        QVERIFY2(ticks > 0, "the event loop did not run while the key was generated");
    }

    void anUnreachableStoreYieldsNoPair() {
        if (!m_memory)
            QSKIP("The keyring itself cannot be switched off from here.");
        // A user entry creates the log file, so that the plain failure entry can land in it.
        AppLogger::shared().log(QStringLiteral("marker"), AppLogger::LogType::info, QStringLiteral("test"));
        ConsoleCapture capture;
        m_memory->setAvailable(false);
        const auto pair = KeyChain::getOrCreateKeyPair(freshTag());
        m_memory->setAvailable(true);
        QVERIFY(!pair);
        QVERIFY(capture.lines().contains(QStringLiteral("\"keychain don\\'t have private key\"")));
        QFile log(*AppLogger::shared().logFilePath());
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(log.readAll().contains("] keychain don't have private key\n"));
    }

    // The program's own key store is the keyring; without one it must fail, not fall back to anything else.
    void withoutAKeyringTheProgramGetsNoPair() {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                   QStringLiteral("unix:path=/nonexistent/quorvale-bus"));
        env.remove(QStringLiteral("DISPLAY"));
        child.setProcessEnvironment(env);
        child.start(QStringLiteral(QUORVALE_STORAGE_CHILD),
                    {QStringLiteral("keys"), QStringLiteral("nobody||HASH")});
        QVERIFY(child.waitForFinished(60000));
        QCOMPARE(child.exitCode(), 0);
        const QList<QByteArray> lines = child.readAllStandardOutput().split('\n');
        QVERIFY(lines.contains("\"keychain don\\'t have private key\""));
        QVERIFY(lines.contains("no pair"));
    }

    void noKeyMaterialReachesTheLogs() {
        ConsoleCapture capture;
        const QString tag = freshTag();
        const auto pair = KeyChain::getOrCreateKeyPair(tag);
        QVERIFY2(pair, qPrintable(capture.lines().join(QStringLiteral(" | ")) + QStringLiteral(" / ") +
                                  KeyChain::keyStore()->lastError()));
        KeyChain::signBase64(pair->privateKey, QStringLiteral("a||b||c"));
        KeyChain::deleteKnownKey({tag, KeyChain::keyIdentity(pair->publicKey)});
        const std::optional<SecureBytes> der = [&] {
            // Make it again to read its stored form; the traces of this round are scanned too.
            KeyChain::getOrCreateKeyPair(tag);
            return KeyChain::keyStore()->find(tag);
        }();
        QVERIFY(der);
        const QByteArray privateBase64 = der->view().toByteArray().toBase64();
        QString everything = capture.lines().join(u'\n');
        if (QFile log(*AppLogger::shared().logFilePath()); log.open(QIODevice::ReadOnly))
            everything += QString::fromUtf8(log.readAll());
        // Any 40-character stretch of the private key's Base64 or hex would give it away.
        for (const QByteArray& encoded : {privateBase64, der->view().toByteArray().toHex()}) {
            for (qsizetype at = 0; at + 40 <= encoded.size(); at += 40)
                QVERIFY(!everything.contains(QString::fromLatin1(encoded.mid(at, 40)), Qt::CaseInsensitive));
        }
        QVERIFY(everything.contains(QStringLiteral("BEGIN PUBLIC KEY")));
    }
};

QTEST_GUILESS_MAIN(TestKeyChain)
#include "tst_keychain.moc"
