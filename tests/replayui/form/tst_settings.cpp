// Where the console finds its settings file and how it reads it.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "replaysettings.h"

namespace rs = replay_settings;

namespace {

QString writeIni(const QString& dir, const QByteArray& text) {
    QDir().mkpath(dir);
    const QString path = dir + QStringLiteral("/Q7cctvUi_replay.ini");
    QFile f(path);
    f.open(QFile::WriteOnly);
    f.write(text);
    return path;
}

}  // namespace

class TestSettings : public QObject {
    Q_OBJECT
private slots:
    void rootFromEnvironment();
    void fileLookupFallsBackToTheProgramFolder();
    void valuesAndDefaults();
    void timingGroupSetsThePeriods();
    void colourListsNeedThreeEntries();
};

void TestSettings::rootFromEnvironment() {
    QCOMPARE(rs::platformRoot({"PATH=/bin", "HOME=/root"}), QString());
    // The last entry wins; lower case does not count.
    QCOMPARE(rs::platformRoot({"NXROOT=/a", "nxroot=/b", "NXROOT=/c"}), QStringLiteral("/c"));
    QCOMPARE(rs::platformRoot({"NXROOT=/x/NXROOT=y"}), QStringLiteral("/x/y"));
}

void TestSettings::fileLookupFallsBackToTheProgramFolder() {
    QTemporaryDir root;
    QTemporaryDir exe;
    const QString besideExe = exe.path() + QStringLiteral("/Q7cctvUi_replay.ini");
    QCOMPARE(rs::locateFile(QString(), exe.path()), besideExe);
    QCOMPARE(rs::locateFile(root.path(), exe.path()), besideExe);  // no cfg file under the root
    const QString underRoot = writeIni(root.path() + QStringLiteral("/cfg"), "metro=1\n");
    QCOMPARE(rs::locateFile(root.path(), exe.path()), underRoot);
    QVERIFY(!underRoot.contains(QLatin1Char('\\')));
}

void TestSettings::valuesAndDefaults() {
    const ReplaySettings none = rs::load(QStringLiteral("/nonexistent/Q7cctvUi_replay.ini"));
    QVERIFY(!none.fromFile);
    QCOMPARE(none.platPort, 5061);
    QCOMPARE(none.hostSipPort, 7610);
    QCOMPARE(none.password, QStringLiteral("482913"));

    QTemporaryDir dir;
    const QString path = writeIni(dir.path(),
                                  "[LoginInfo]\nPlatIP=10.0.0.2\nPlatPort=5070\nHostIP=10.0.0.9\n"
                                  "HostSIPPort=7700\nUserName=ops\nSN=abc\n");
    const ReplaySettings s = rs::load(path);
    QVERIFY(s.fromFile);
    QCOMPARE(s.platIp, QStringLiteral("10.0.0.2"));
    QCOMPARE(s.platPort, 5070);
    QCOMPARE(s.hostIp, QStringLiteral("10.0.0.9"));
    QCOMPARE(s.hostSipPort, 7700);
    QCOMPARE(s.userName, QStringLiteral("ops"));
    QCOMPARE(s.password, QStringLiteral("482913"));  // absent: the default
    QCOMPARE(s.sn, 0);                               // does not convert
    QCOMPARE(s.metroLine, 0);                        // absent
    QCOMPARE(s.onlineColor, QColor(34, 177, 76));
    QCOMPARE(s.timings.keepaliveMs, SessionTimings().keepaliveMs);  // no [Timing]: the defaults
}

// Compressed timers for test and soak runs; a value out of range keeps the default and is said.
void TestSettings::timingGroupSetsThePeriods() {
    QTemporaryDir dir;
    const ReplaySettings s =
        rs::load(writeIni(dir.path(),
                          "[Timing]\nKeepaliveMs=500\nReloginMs=3000\nT1Ms=abc\nT2Ms=0\n"
                          "SubscribeRetryMs=250\n"));
    QCOMPARE(s.timings.keepaliveMs, 500);
    QCOMPARE(s.timings.reloginMs, 3000);
    QCOMPARE(s.timings.subscribeRetryMs, 250);
    QCOMPARE(s.timings.t1Ms, SessionTimings().t1Ms);
    QCOMPARE(s.timings.t2Ms, SessionTimings().t2Ms);
    QCOMPARE(s.timings.registerMs, SessionTimings().registerMs);
    QCOMPARE(s.problems.size(), 2);
    QVERIFY(s.problems[0].contains(QStringLiteral("T1Ms=abc")));
}

void TestSettings::colourListsNeedThreeEntries() {
    QTemporaryDir dir;
    const ReplaySettings two = rs::load(
        writeIni(dir.path() + "/a", "cameraOnlineColor=1, 2\ncameraOfflineColor=1,2,3,4\n"));
    QCOMPARE(two.onlineColor, QColor(34, 177, 76, 255));
    QCOMPARE(two.offlineColor, QColor(255, 0, 0, 255));
    const ReplaySettings three =
        rs::load(writeIni(dir.path() + "/b", "cameraOnlineColor=10, 20, x\nmetro=7\n"));
    QCOMPARE(three.onlineColor, QColor(10, 20, 0, 255));
    QCOMPARE(three.metroLine, 7);
}

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
