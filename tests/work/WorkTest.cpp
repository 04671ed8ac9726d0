#include "norvale/core/work/HandOver.h"
#include "norvale/core/work/OrderedDelivery.h"
#include "norvale/core/work/Run.h"
#include "norvale/core/work/WorkerPools.h"

#include <QFile>
#include <QTest>

#include <numeric>
#include <thread>

using namespace norvale;
using work::OrderedDelivery;

class WorkTest final : public QObject {
    Q_OBJECT

private slots:
    // Reports reach the receiver's thread in the order their places were
    // held, however the workers that fill them finish.
    void deliversInQueueOrder_data()
    {
        QTest::addColumn<int>("reports");
        QTest::addColumn<bool>("byWorkers");
        QTest::newRow("filled in order on this thread") << 20 << false;
        QTest::newRow("filled last first by the pool's workers") << 400 << true;
    }

    void deliversInQueueOrder()
    {
        QFETCH(int, reports);
        QFETCH(bool, byWorkers);
        OrderedDelivery delivery;
        QObject receiver;
        QList<int> received;
        QList<qint64> places;
        for (int i = 0; i < reports; ++i)
            places.append(delivery.hold());
        QCOMPARE(delivery.held(), reports);

        const auto fill = [&](int i) {
            delivery.fill(places[i], work::Run::queuedTo(&receiver, [&received, i] { received.append(i); }));
        };
        for (int i = 0; i < reports; ++i) {
            const int which = byWorkers ? reports - 1 - i : i;
            if (byWorkers)
                workpools::lookups().start([&fill, which] { fill(which); });
            else
                fill(which);
        }
        QTRY_COMPARE(received.size(), reports);
        workpools::lookups().waitForDone();
        QList<int> expected(reports);
        std::iota(expected.begin(), expected.end(), 0);
        QCOMPARE(received, expected);
        QCOMPARE(delivery.held(), 0);
    }

    // Given-up places and everything queued behind them are never posted,
    // filled later or not; after close() nothing is.
    void givesUpAndCloses()
    {
        OrderedDelivery delivery;
        QObject receiver;
        QList<int> received;
        const auto report = [&](int i) { return work::Run::queuedTo(&receiver, [&received, i] { received.append(i); }); };
        QList<qint64> places;
        for (int i = 0; i < 5; ++i)
            places.append(delivery.hold());
        delivery.fill(places[0], report(0));
        delivery.fill(places[1], report(1));
        delivery.fill(places[3], report(3));  // waits for place 2
        delivery.skipHeld();
        QCOMPARE(delivery.held(), 0);
        delivery.fill(places[2], report(2));
        delivery.fill(places[4], report(4));
        delivery.push(report(9));
        delivery.close();
        delivery.push(report(10));
        delivery.postNow(report(11));

        // Queued calls to one receiver arrive in order: once this one is
        // there, everything posted before it is too.
        bool last = false;
        work::postTo(&receiver, [&last] { last = true; });
        QTRY_VERIFY(last);
        QCOMPARE(received, QList<int>({0, 1, 9}));
    }

    // A thread that asks for short slices gets them and keeps its priority,
    // a worker's too. Kernels before 6.12 show no slice per thread.
    void shortSlicesKeepThePriority()
    {
        // The scheduler's own account of the calling thread: "name : value".
        const auto scheduling = [](const char *name) {
            QFile sched(QStringLiteral("/proc/thread-self/sched"));
            if (!sched.open(QIODevice::ReadOnly))
                return QByteArray();
            for (const QByteArray &line : sched.readAll().split('\n')) {
                if (line.startsWith(name) && line.mid(qstrlen(name)).trimmed().startsWith(':'))
                    return line.mid(line.indexOf(':') + 1).trimmed();
            }
            return QByteArray();
        };
        QByteArray sliceBefore, sliceAfter, prioBefore, prioAfter;
        std::thread([&] {
            workpools::lowerThisThread();
            sliceBefore = scheduling("se.slice");
            prioBefore = scheduling("prio");
            workpools::askShortSlices();
            sliceAfter = scheduling("se.slice");
            prioAfter = scheduling("prio");
        }).join();
        if (sliceBefore.isEmpty())
            QSKIP("this kernel keeps no time slice per thread");
        QCOMPARE(sliceAfter.toULongLong(), workpools::promptSliceNs);
        QCOMPARE(prioBefore, QByteArray("139"));  // nice 19
        QCOMPARE(prioAfter, prioBefore);
    }
};

QTEST_GUILESS_MAIN(WorkTest)
#include "WorkTest.moc"
