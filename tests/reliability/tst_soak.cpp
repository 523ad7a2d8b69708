// Two hundred conversions in one run: what the process holds must not grow.
#include "JobHarness.h"

using namespace TestSupport;

class SoakTest : public QObject {
    Q_OBJECT

private slots:
    void twoHundredConversions()
    {
        JobHarness job;
        ProcessResources at20;
        for (int run = 1; run <= 200; ++run) {
            job.Browse("say:  Duration: 00:00:01.00, start: 0;say:frame=1 time=00:00:01.00;create;write:100");
            QCOMPARE(job.TakeTexts(), (Texts{Started, Successful}));
            if (run == 20 || run == 200) {
                // The last run's worker and converter are gone once the job
                // has returned.
                const ProcessResources now = SettledResources();
                qInfo("after run %3d: %d descriptors, %d threads, %d child processes, %ld KiB resident", run,
                      now.Descriptors, now.Threads, now.Children, now.ResidentKiB);
                if (run == 20) {
                    at20 = now;
                } else {
                    QCOMPARE(now.Descriptors, at20.Descriptors);
                    QCOMPARE(now.Threads, at20.Threads);
                    QCOMPARE(now.Children, 0);
                    QVERIFY2(SanitizerBuild || now.ResidentKiB - at20.ResidentKiB < 4096,
                             qPrintable(QString::number(now.ResidentKiB - at20.ResidentKiB)));
                }
            }
        }
    }
};

OZ_TEST_MAIN(SoakTest)
#include "tst_soak.moc"
