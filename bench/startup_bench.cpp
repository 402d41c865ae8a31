// Start-up: the time from process start to the first painted frame, and the peak resident memory by then,
// of the client next to a bare Qt Widgets window built the same way. Both are started alternately in one
// run; medians and the client's ratios to the bare window are printed.
// Both draw on Qt's offscreen platform unless QT_QPA_PLATFORM names another (xcb, say, on a desktop), so
// that it also runs where there is no display.
//   startup_bench [rounds]   (run it inside scripts/with-keyring.sh: the client checks the keyring)
#include <QCoreApplication>
#include <QProcess>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <optional>
#include <vector>

namespace {

struct Sample {
    double milliseconds;
    long peakKiB;
};

long long realtimeNs() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

std::optional<Sample> startOnce(const QString& program) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // The client's start-up requests fail at once instead of reaching a service.
    environment.insert(QStringLiteral("QUORVALE_DEV_API_HOST"), QStringLiteral("127.0.0.1:9"));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    const long long started = realtimeNs();
    process.start(program, {});
    if (!process.waitForFinished(60000))
        return std::nullopt;
    for (const QByteArray& line : process.readAllStandardOutput().split('\n')) {
        if (!line.startsWith("painted "))
            continue;
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() != 3)
            return std::nullopt;
        return Sample{double(fields[1].toLongLong() - started) / 1e6, fields[2].toLong()};
    }
    std::fprintf(stderr, "%s painted nothing: %s\n", qPrintable(program), process.readAllStandardError().constData());
    return std::nullopt;
}

template <typename T> T median(std::vector<T> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 15;
    const QString folder = QCoreApplication::applicationDirPath();
    const QString client = folder + QStringLiteral("/startup_client");
    const QString bare = folder + QStringLiteral("/startup_bare");

    // One unmeasured start each: the first client run also wipes the store and creates its files.
    startOnce(bare);
    startOnce(client);

    std::vector<double> clientMs, bareMs;
    std::vector<long> clientKiB, bareKiB;
    for (int round = 0; round < rounds; ++round) {
        const auto b = startOnce(bare);
        const auto c = startOnce(client);
        if (!b || !c)
            return 1;
        bareMs.push_back(b->milliseconds);
        bareKiB.push_back(b->peakKiB);
        clientMs.push_back(c->milliseconds);
        clientKiB.push_back(c->peakKiB);
    }
    const double cMs = median(clientMs), bMs = median(bareMs);
    const long cKiB = median(clientKiB), bKiB = median(bareKiB);
    std::printf("platform: %s, %d rounds, medians\n", qPrintable(qEnvironmentVariable("QT_QPA_PLATFORM")), rounds);
    std::printf("%-12s %10s %14s\n", "", "first frame", "peak RSS");
    std::printf("%-12s %8.1f ms %11ld kB\n", "bare window", bMs, bKiB);
    std::printf("%-12s %8.1f ms %11ld kB\n", "client", cMs, cKiB);
    std::printf("%-12s %9.2fx %12.2fx\n", "ratio", cMs / bMs, double(cKiB) / double(bKiB));
    return 0;
}
