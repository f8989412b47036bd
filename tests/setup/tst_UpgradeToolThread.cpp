#include "UpgradeToolThread.h"

#include <QMetaMethod>
#include <QSignalSpy>
#include <QTest>

class TestUpgradeToolThread : public QObject
{
    Q_OBJECT

private slots:
    void signalsInDeclaredOrder();
    void decodeUpdates_data();
    void decodeUpdates();
    void decodeUpdateWithNothingCounted();
    void handOverTicksPassTheTotal();
    void setProgressSendsOnlyWhenAsked();

private:
    static QList<int> sentValues(const QSignalSpy& spy);
};

QList<int> TestUpgradeToolThread::sentValues(const QSignalSpy& spy)
{
    QList<int> values;
    for (const QList<QVariant>& call : spy) {
        if (call.at(0).toInt() != 1000)
            return {-1};
        values.append(call.at(1).toInt());
    }
    return values;
}

void TestUpgradeToolThread::signalsInDeclaredOrder()
{
    const QMetaObject& meta = UpgradeToolThread::staticMetaObject;
    QCOMPARE(meta.className(), "UpgradeToolThread");
    QCOMPARE(meta.superClass(), &QThread::staticMetaObject);

    const QList<QByteArray> expected = {
        "sendFinish(bool)", "sendProgress(int,int)",    "sendNewProcess(QString,QStringList)",
        "sendToUpgrade()",  "sendToUpgradeStatus(int)", "sendShowProgress()"};
    const QList<QList<QByteArray>> names = {
        {"toolLaunched"}, {"total", "progress"}, {"process", "parameter"}, {}, {"status"}, {}};
    QCOMPARE(meta.methodCount() - meta.methodOffset(), expected.size());
    for (int i = 0; i < expected.size(); ++i) {
        const QMetaMethod method = meta.method(meta.methodOffset() + i);
        QCOMPARE(method.methodType(), QMetaMethod::Signal);
        QCOMPARE(method.methodSignature(), expected.at(i));
        QCOMPARE(method.parameterNames(), names.at(i));
    }
    QCOMPARE(int(UpgradeToolThread::UPGRADE_SPACE_NOT_ENOUCH), 1000);
    QCOMPARE(int(UpgradeToolThread::UPGRADE_VIDEO_SOURCE_MISSING), 1001);
}

void TestUpgradeToolThread::decodeUpdates_data()
{
    QTest::addColumn<double>("start");
    QTest::addColumn<int>("videos");
    QTest::addColumn<int>("updates");
    QTest::addColumn<QList<int>>("firstSent");
    QTest::addColumn<int>("lastSent");

    QTest::newRow("24 videos from 400") << 400.0 << 24 << 24 << QList<int>{408, 416, 424, 433} << 600;
    QTest::newRow("late update after 700") << 700.0 << 24 << 1 << QList<int>{708} << 708;
    QTest::newRow("one video") << 400.0 << 1 << 1 << QList<int>{600} << 600;
    QTest::newRow("7 videos") << 0.0 << 7 << 7 << QList<int>{28, 57, 85} << 200;
}

void TestUpgradeToolThread::decodeUpdates()
{
    QFETCH(double, start);
    QFETCH(int, videos);
    QFETCH(int, updates);
    QFETCH(QList<int>, firstSent);
    QFETCH(int, lastSent);

    UpgradeToolThread worker;
    worker.m_progress = start;
    worker.m_videoCount = videos;
    QSignalSpy spy(&worker, &UpgradeToolThread::sendProgress);
    for (int i = 1; i <= updates; ++i)
        worker.updateDecodeProgress(i, updates, QStringLiteral("video%1.mp4").arg(i));

    const QList<int> sent = sentValues(spy);
    QCOMPARE(sent.size(), updates);
    QCOMPARE(sent.mid(0, firstSent.size()), firstSent);
    QCOMPARE(sent.last(), lastSent);
}

void TestUpgradeToolThread::decodeUpdateWithNothingCounted()
{
    UpgradeToolThread worker;
    worker.m_progress = 400.0;
    worker.m_videoCount = 0;
    QSignalSpy spy(&worker, &UpgradeToolThread::sendProgress);
    worker.updateDecodeProgress(1, 1, "extra.mp4");
    QCOMPARE(sentValues(spy), QList<int>{400});
}

void TestUpgradeToolThread::handOverTicksPassTheTotal()
{
    UpgradeToolThread worker;
    worker.setProgress(900.0, true);
    for (int i = 0; i < 10; ++i)
        worker.progressTick(20);
    QSignalSpy spy(&worker, &UpgradeToolThread::sendProgress);
    worker.progressTick(40);
    worker.progressTick(8);
    QCOMPARE(sentValues(spy), QList<int>({1140, 1148}));
    QCOMPARE(worker.m_progress, 1148.0);
}

void TestUpgradeToolThread::setProgressSendsOnlyWhenAsked()
{
    UpgradeToolThread worker;
    QSignalSpy spy(&worker, &UpgradeToolThread::sendProgress);
    worker.setProgress(0.0, true);
    worker.setProgress(1.0, false);
    worker.setProgress(400.0, false);
    worker.addProgress(0.5);
    QCOMPARE(sentValues(spy), QList<int>({0, 400}));
}

QTEST_GUILESS_MAIN(TestUpgradeToolThread)
#include "tst_UpgradeToolThread.moc"
