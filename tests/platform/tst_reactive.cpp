#include "Published.h"
#include "Publisher.h"
#include "Subject.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTest>
#include <QThread>

#include <stdexcept>

using namespace rx;

namespace {

QString errorText(const Error& error) {
    if (!error)
        return QStringLiteral("finished");
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    }
}

// Everything a subscriber was given, in order.
struct Recorder {
    QStringList events;
    AnyCancellable token;

    template <typename T> void subscribe(const Publisher<T>& publisher) {
        token = publisher.sink([this](const T& v) { events << QString::number(v); },
                               [this](Error e) { events << QStringLiteral("end:") + errorText(e); });
    }
};

class Counter : public ObservableObject {
public:
    Published<int> count{*this, 1};
};

} // namespace

class TestReactive : public QObject {
    Q_OBJECT

private slots:
    void publishedWriteNoticeThenDeliveryThenStore() {
        Counter counter;
        QStringList events;
        auto notice = counter.objectWillChange().sink(
            [&](Void) { events << QStringLiteral("notice, stored %1").arg(counter.count.get()); });
        auto values = counter.count.sink(
            [&](int v) { events << QStringLiteral("value %1, stored %2").arg(v).arg(counter.count.get()); });
        QCOMPARE(events, QStringList{"value 1, stored 1"});

        counter.count = 2;
        counter.count.modify([](int& c) { c += 10; });
        QCOMPARE(events, (QStringList{"value 1, stored 1", "notice, stored 1", "value 2, stored 1",
                                      "notice, stored 2", "value 12, stored 2"}));
        QCOMPARE(counter.count.get(), 12);
    }

    void subscribingDeliversTheCurrentValueAtOnce() {
        Published<int> published(5);
        CurrentValueSubject<int> subject(7);
        subject.send(8);
        Recorder fromPublished, fromSubject;
        fromPublished.subscribe(published.publisher());
        fromSubject.subscribe(subject.eraseToAnyPublisher());
        QCOMPARE(fromPublished.events, QStringList{"5"});
        QCOMPARE(fromSubject.events, QStringList{"8"});

        published = 6;
        subject.send(9);
        QCOMPARE(fromPublished.events, (QStringList{"5", "6"}));
        QCOMPARE(fromSubject.events, (QStringList{"8", "9"}));
    }

    void aSendFromInsideADeliveryLosesNoValue() {
        CurrentValueSubject<int> subject(0);
        auto resend = subject.sink([&](int v) {
            if (v == 1)
                subject.send(2);
        });
        Recorder later;
        later.subscribe(subject.eraseToAnyPublisher());
        subject.send(1);
        QVERIFY2(later.events.contains("1"), qPrintable(later.events.join(',')));
        QVERIFY(later.events.contains("2"));
        QCOMPARE(subject.value(), 2);
    }

    void aStreamEndsOnce() {
        PassthroughSubject<int> subject;
        Recorder early;
        early.subscribe(subject.eraseToAnyPublisher().map([](int v) { return v * 10; }));
        subject.send(1);
        subject.sendCompletion(std::make_exception_ptr(std::runtime_error("broken")));
        subject.sendCompletion();
        subject.send(2);
        QCOMPARE(early.events, (QStringList{"10", "end:broken"}));

        Recorder late;
        late.subscribe(subject.eraseToAnyPublisher());
        QCOMPARE(late.events, QStringList{"end:broken"});
    }

    void cancellingStopsDelivery_data() {
        QTest::addColumn<bool>("dropToken");
        QTest::addColumn<bool>("onMainThread");
        QTest::newRow("cancel") << false << false;
        QTest::newRow("drop the token") << true << false;
        QTest::newRow("cancel with deliveries queued") << false << true;
        QTest::newRow("drop the token with deliveries queued") << true << true;
    }

    void cancellingStopsDelivery() {
        QFETCH(bool, dropToken);
        QFETCH(bool, onMainThread);
        PassthroughSubject<int> subject;
        auto publisher = subject.eraseToAnyPublisher();
        if (onMainThread)
            publisher = publisher.receiveOnMainThread();
        QStringList events;
        auto tracker = std::make_shared<int>(0);
        auto token = std::make_unique<AnyCancellable>(
            publisher.sink([&events, tracker](int v) { events << QString::number(v); },
                           [&events](Error) { events << QStringLiteral("end"); }));

        subject.send(1);
        if (onMainThread)
            QCoreApplication::sendPostedEvents();
        subject.send(2);
        if (dropToken)
            token.reset();
        else
            token->cancel();
        subject.send(3);
        subject.sendCompletion();
        QCoreApplication::sendPostedEvents();

        // A delivery queued before the cancel is dropped too.
        QCOMPARE(events, onMainThread ? QStringList{"1"} : (QStringList{"1", "2"}));
        QVERIFY(!subject.hasSubscribers());
        // The handlers' captures are freed, not only silenced.
        QCOMPARE(tracker.use_count(), 1L);
    }

    // Regression guard: a handler that drops its own subscription must not free the code it runs in.
    void aHandlerMayEndItsOwnSubscription() {
        Published<int> published(0);
        std::optional<AnyCancellable> token;
        QList<int> seen;
        token = published.publisher().map([](int v) { return v + 1; }).sink([&](int v) {
            if (v == 2)
                token.reset();
            seen << v; // the handler's captures are still there after the reset
        });
        published = 1;
        published = 2;
        published = 3;
        QCOMPARE(seen, (QList<int>{1, 2}));
    }

    void mainThreadDeliveryKeepsOrderAndHopsThreads() {
        PassthroughSubject<int> subject;
        QList<int> values;
        QList<QThread*> threads;
        bool finished = false;
        auto token = subject.eraseToAnyPublisher().receiveOnMainThread().sink(
            [&](int v) {
                values << v;
                threads << QThread::currentThread();
            },
            [&](Error e) { finished = !e; });

        std::unique_ptr<QThread> worker(QThread::create([subject] {
            for (int i = 0; i < 50; ++i)
                subject.send(i);
            subject.sendCompletion();
        }));
        worker->start();
        QVERIFY(worker->wait(5000));
        QVERIFY(values.isEmpty());
        QTRY_VERIFY(finished);
        QCOMPARE(values.size(), 50);
        for (int i = 0; i < 50; ++i)
            QCOMPARE(values[i], i);
        QVERIFY(std::all_of(threads.begin(), threads.end(),
                            [](QThread* t) { return t == QCoreApplication::instance()->thread(); }));
    }

    void aThrowingTransformFailsAndReleasesTheUpstream() {
        PassthroughSubject<int> subject;
        Recorder recorder;
        recorder.subscribe(subject.eraseToAnyPublisher()
                               .tryMap([](int v) {
                                   if (v == 2)
                                       throw std::runtime_error("no twos");
                                   return v;
                               })
                               .mapError([](const Error& e) {
                                   return std::runtime_error(errorText(e).toStdString() + "!");
                               }));
        subject.send(1);
        subject.send(2);
        subject.send(3);
        QCOMPARE(recorder.events, (QStringList{"1", "end:no twos!"}));
        QVERIFY(!subject.hasSubscribers());
    }

    // The retry shape of the request layer: on failure, a retrier's value starts the work again.
    void catchWithFlatMapRetriesUntilTheBudgetIsSpent_data() {
        QTest::addColumn<int>("succeedOnAttempt");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("first try") << 1 << QStringList{"1", "end:finished"};
        QTest::newRow("third try") << 3 << QStringList{"3", "end:finished"};
        QTest::newRow("never") << 0 << QStringList{"end:attempt 3"};
    }

    void catchWithFlatMapRetriesUntilTheBudgetIsSpent() {
        QFETCH(int, succeedOnAttempt);
        QFETCH(QStringList, expected);
        int attempts = 0;
        std::function<Publisher<int>(int)> attempt = [&](int retriesLeft) -> Publisher<int> {
            const int n = ++attempts;
            Publisher<int> work = n == succeedOnAttempt
                                      ? just(n)
                                      : fail<int>(std::runtime_error("attempt " + std::to_string(n)));
            return work.catchError([&, retriesLeft](Error e) -> Publisher<int> {
                if (retriesLeft > 1)
                    return just(Void{}).receiveOnMainThread().flatMap(
                        [&, retriesLeft](Void) { return attempt(retriesLeft - 1); });
                std::rethrow_exception(e);
            });
        };
        Recorder recorder;
        recorder.subscribe(attempt(3));
        QTRY_COMPARE(recorder.events, expected);
        QCOMPARE(attempts, succeedOnAttempt ? succeedOnAttempt : 3);
    }

    void mergeEndsWhenBothHaveEnded() {
        PassthroughSubject<int> a, b;
        Recorder recorder;
        recorder.subscribe(merge(a.eraseToAnyPublisher(), b.eraseToAnyPublisher()));
        a.send(1);
        b.send(2);
        a.sendCompletion();
        b.send(3);
        QCOMPARE(recorder.events, (QStringList{"1", "2", "3"}));
        b.sendCompletion();
        QCOMPARE(recorder.events, (QStringList{"1", "2", "3", "end:finished"}));

        PassthroughSubject<int> c, d;
        Recorder failing;
        failing.subscribe(merge(c.eraseToAnyPublisher(), d.eraseToAnyPublisher()));
        c.sendCompletion(std::make_exception_ptr(std::runtime_error("c failed")));
        d.send(4);
        QCOMPARE(failing.events, QStringList{"end:c failed"});
        QVERIFY(!d.hasSubscribers());
    }

    void flatMapWaitsForItsInnerStreams() {
        PassthroughSubject<int> outer;
        PassthroughSubject<int> inner;
        Recorder recorder;
        recorder.subscribe(outer.eraseToAnyPublisher().flatMap(
            [&](int v) { return merge(just(v), inner.eraseToAnyPublisher()); }));
        outer.send(1);
        outer.send(2);
        inner.send(7);
        outer.sendCompletion();
        QCOMPARE(recorder.events, (QStringList{"1", "2", "7", "7"}));
        inner.sendCompletion();
        QCOMPARE(recorder.events.last(), QStringLiteral("end:finished"));
    }

    void aDroppedChainFreesEverything() {
        PassthroughSubject<int> subject;
        auto tracker = std::make_shared<int>(0);
        {
            auto token = subject.eraseToAnyPublisher()
                             .flatMap([tracker](int v) { return merge(just(v), just(v + *tracker)); })
                             .catchError([tracker](Error) { return just(*tracker); })
                             .receiveOnMainThread()
                             .sink([tracker](int) {});
            subject.send(1);
            QVERIFY(tracker.use_count() > 1);
        }
        QCoreApplication::sendPostedEvents();
        QCOMPARE(tracker.use_count(), 1L);
        QVERIFY(!subject.hasSubscribers());
    }
};

QTEST_GUILESS_MAIN(TestReactive)
#include "tst_reactive.moc"
