#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTimer>
#include <QtTest>

#include "ScriptRunner.h"

// A scripted operator session against a small form with the object names the console uses.
class ScriptRunnerTest : public QObject {
    Q_OBJECT
    QWidget* form = nullptr;
    QComboBox* combo = nullptr;
    QLabel* status = nullptr;
    QSlider* slider = nullptr;
    QPushButton* play = nullptr;

    int run(const QString& script, int timeoutMs = 10000) {
        ScriptRunner runner(form);
        if (!runner.load(script))
            return -1;
        QSignalSpy done(&runner, &ScriptRunner::finished);
        runner.start();
        if (!done.wait(timeoutMs))
            return -2;
        return done.takeFirst().at(0).toInt();
    }

private slots:
    void init() {
        form = new QWidget;
        combo = new QComboBox(form);
        combo->setObjectName("cbxCamera");
        status = new QLabel(form);
        status->setObjectName("labelStatus");
        slider = new QSlider(Qt::Horizontal, form);
        slider->setObjectName("horizontalSlider");
        slider->setRange(0, 100);
        play = new QPushButton("播   放", form);
        play->setObjectName("btnPlay");
        form->show();
    }
    void cleanup() { delete form; }

    void rejectsUnknownActionsAndMissingArguments() {
        ScriptRunner r(form);
        QVERIFY(!r.load("click btnPlay\nfly away"));
        QVERIFY(r.errorText().contains("line 2"));
        QVERIFY(!r.load("select cbxCamera"));
        QVERIFY(r.load("# comment\n\nwait-status 登录状态反馈- 200 OK\nquit 3"));
        QCOMPARE(r.steps().size(), 2);
        QCOMPARE(r.steps()[0].args, QStringList{"登录状态反馈- 200 OK"});
    }

    void expandsEnvironmentVariables() {
        qputenv("NX_SCRIPT_TEST", "cam 2");
        ScriptRunner r(form);
        QVERIFY(r.load("select cbxCamera ${NX_SCRIPT_TEST}"));
        QCOMPARE(r.steps()[0].args, (QStringList{"cbxCamera", "cam 2"}));
    }

    void selectWaitsForItemsThatArriveLater() {
        QTimer::singleShot(100, combo, [this] { combo->addItems({"cam 1", "cam 2"}); });
        QCOMPARE(run("select cbxCamera cam 2\nselect cbxCamera #0"), 0);
        QCOMPARE(combo->currentIndex(), 0);
    }

    void waitTimesOutWithFailure() { QCOMPARE(run("timeout 200\nwait-status never"), 1); }

    void waitsForStatusSetLater() {
        QTimer::singleShot(50, status, [this] { status->setText("登录状态反馈- 200 OK"); });
        QCOMPARE(run("wait-status 200 OK\nexpect-text labelStatus 登录"), 0);
        QCOMPARE(run("expect-text labelStatus 订阅"), 1);
    }

    void clickAndSliderReachTheForm() {
        QSignalSpy clicked(play, &QPushButton::clicked);
        QSignalSpy released(slider, &QSlider::sliderReleased);
        QCOMPARE(run("click btnPlay\nslider horizontalSlider 50\nwait 50"), 0);
        QCOMPARE(clicked.count(), 1);
        QCOMPARE(released.count(), 1);
        QCOMPARE(slider->value(), 50);
    }

    void closesTheModalDialogAClickOpens() {
        connect(play, &QPushButton::clicked, form, [this] {
            QMessageBox box(QMessageBox::Warning, "CCTV", "开始时间不能晚于结束时间！",
                            QMessageBox::Ok, form);
            box.exec();
            status->setText("closed");
        });
        QCOMPARE(run("click btnPlay\ndialog 开始时间\nwait-status closed"), 0);
    }

    void waitFileCountsMatchingLines() {
        QTemporaryFile log;
        QVERIFY(log.open());
        log.write("EVENT registered\nother\n");
        log.flush();
        QTimer::singleShot(300, this, [&log] {
            log.write("EVENT registered\n");
            log.flush();
        });
        const QString script = QString("wait-file %1 2 EVENT registered").arg(log.fileName());
        QCOMPARE(run(script), 0);
        QCOMPARE(
            run("timeout 600\n" + QString("wait-file %1 3 EVENT registered").arg(log.fileName())),
            1);
    }

    void timelineWaitsUntilItIsKnown() {
        slider->setProperty("timeline", "unknown");
        QTimer::singleShot(100, slider, [this] { slider->setProperty("timeline", "a b gap"); });
        QTemporaryDir dir;
        QCOMPARE(run("timeline horizontalSlider " + dir.filePath("t.txt")), 0);
        QFile saved(dir.filePath("t.txt"));
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), QByteArray("a b gap\n"));
    }

    void propertiesAreWaitedForKeptAndCompared() {
        slider->setValue(20);
        QTimer::singleShot(100, slider, [this] { slider->setValue(35); });
        QCOMPARE(run("keep-property horizontalSlider value NX_KEPT\n"
                     "wait-property horizontalSlider value >= ${NX_KEPT}+15\n"
                     "expect-property horizontalSlider value ~ ${NX_KEPT}+10 5\n"
                     "expect-property horizontalSlider value != 20"),
                 0);
        QCOMPARE(qgetenv("NX_KEPT"), QByteArray("20"));
        const struct {
            const char* script;
        } failing[] = {
            {"expect-property horizontalSlider value ~ 30 4"},
            {"expect-property horizontalSlider value < 35"},
            {"expect-property horizontalSlider nosuch = 1"},
            {"wait-property horizontalSlider value == 35"},  // no such comparison
            {"wait-property horizontalSlider value = 35+"},  // no such number
            {"timeout 200\nwait-property horizontalSlider value > 35"},
        };
        for (const auto& row : failing)
            QVERIFY2(run(row.script) == 1, row.script);
    }

    void savesComboItemsWithTheirColours() {
        combo->addItem("A", "c1");
        combo->addItem("B b", "c2");
        combo->setItemData(1, QBrush(QColor(0, 200, 0)), Qt::ForegroundRole);
        QTemporaryFile out;
        QVERIFY(out.open());
        QCOMPARE(run(QString("save-items cbxCamera %1").arg(out.fileName())), 0);
        QCOMPARE(out.readAll(), QByteArray("c1 - A\nc2 #00c800 B b\n"));
        QTimer::singleShot(200, this, [this] {
            combo->setItemData(0, QBrush(QColor(160, 160, 160)), Qt::ForegroundRole);
        });
        QCOMPARE(run("wait-colour cbxCamera c1 #a0a0a0"), 0);
    }

    void quitCodeIsTheExitCode() { QCOMPARE(run("quit 7\nclick btnPlay"), 7); }
};

QTEST_MAIN(ScriptRunnerTest)
#include "tst_scriptrunner.moc"
