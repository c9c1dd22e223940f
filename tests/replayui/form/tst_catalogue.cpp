// The catalogue from the platform: camera and monitor write-back to the host, the camera list
// and its online colours.
#include <QEventLoop>
#include <QPointer>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include "formtestkit.h"
#include "mainform.h"
#include "openforms.h"
#include "sipsession.h"
#include "ui_mainform.h"

using namespace kit;

namespace {

const QByteArray kName("\xc9\xe3\xcf\xf1\xbb\xfa", 6);  // GBK for the word camera

QColor itemColour(QComboBox* box, int i) {
    return box->itemData(i, Qt::ForegroundRole).value<QBrush>().color();
}

// Station "列车", train 1, car at carIndex.
void selectTrainCar(MainForm* form, int carIndex) {
    Ui::MainForm* ui = form->widgets();
    ui->cbxStation->setCurrentIndex(0);
    ui->cbxzone1->setCurrentIndex(0);
    form->on_cbxzone1_currentIndexChanged(0);
    ui->cbxzone2->setCurrentIndex(carIndex);
}

QByteArray sendNotify(ScriptedPlatform& p, const QList<QByteArray>& items, int cseq = 20) {
    const QByteArray notify = p.request("NOTIFY", "notify-" + QByteArray::number(cseq), cseq,
                                        catalogueBody("Notify", items));
    p.send(notify);
    return notify;
}

// Host callbacks that do what a host may do inside them.
struct HostMischief {
    ScriptedPlatform* platform = nullptr;
    QList<QByteArray> sendMeanwhile;  // sent by the platform while the host's loop runs
    NxWindowHandle closeHandle = 0;   // CloseDialog'd from inside the callback
    int calls = 0;
};
HostMischief g_mischief;

void addWithNestedLoop(CameraRow*, void*) {
    if (g_mischief.calls++ > 0) {
        return;
    }
    for (const QByteArray& d : g_mischief.sendMeanwhile) {
        g_mischief.platform->send(d);
    }
    // Longer than a receive pass may take.
    QEventLoop loop;
    QTimer::singleShot(50, &loop, &QEventLoop::quit);
    loop.exec();
}

void addThenClose(CameraRow*, void*) {
    ++g_mischief.calls;
    console::closeDialog(g_mischief.closeHandle);
}

// The two-step registration and the SUBSCRIBE answered, for a form the rig did not make.
bool logInByHand(ScriptedPlatform& p) {
    const QByteArray first = p.waitFor("REGISTER ");
    p.send(challenge(p, first));
    const QByteArray second = p.waitFor("REGISTER ");
    p.send(p.reply(second, "200 OK"));
    const QByteArray subscribe = p.waitFor("SUBSCRIBE ");
    p.send(p.reply(subscribe, "200 OK"));
    return !first.isEmpty() && !second.isEmpty() && !subscribe.isEmpty();
}

}  // namespace

class TestCatalogue : public QObject {
    Q_OBJECT
private slots:
    void camerasAndMonitorsAreWrittenBack();
    void answerGoesOutBeforeTheHostWrite();
    void newCamerasJoinTheListInPlace();
    void onlyCatalogueBodiesAreWrittenBack();
    void statusNoticeRecoloursInPlace();
    void nothingBeforeLogin();
    void repeatedPageIsWrittenBackOnce();
    void hostCallbackRunningAnEventLoop();
    void closeDialogFromAHostCallback();
};

void TestCatalogue::camerasAndMonitorsAreWrittenBack() {
    FormRig rig;
    QVERIFY(rig.logInAndSubscribe());
    MainForm* form = rig.form();
    selectTrainCar(form, 1);  // car 1
    QCOMPARE(form->widgets()->cbxCamera->count(), 1);

    ScriptedPlatform& p = rig.platform();
    const QByteArray newId = trainCameraId(1, 1, 1, 5);
    const QByteArray knownId = trainCameraId(1, 1, 1, 1);
    const QByteArray notify = sendNotify(
        p, {catalogueItem(newId, kName + "E", "ON"), catalogueItem(knownId, kName + "A", "OFF"),
            catalogueItem(trainCameraId(0, 0, 21, 7), "dec", "ON", "MON-02"),
            catalogueItem(trainCameraId(0, 0, 21, 8), "dec", "ON", "MON-01"),
            catalogueItem(trainCameraId(1, 1, 17, 9), "alarm", "ON")});
    const QByteArray ok = p.waitFor("SIP/2.0 200 OK");
    QCOMPARE(header(ok, "CSeq"), QByteArray("20 NOTIFY"));
    QCOMPARE(header(ok, "Call-ID"), QByteArray("notify-20"));
    QTRY_COMPARE(rig.host().recorder.count("ModifyMonitor"), 1);

    const Recorder& r = rig.host().recorder;
    QCOMPARE(r.count("AddCameraInfo"), 1);
    QCOMPARE(r.count("ModifyCameraInfo"), 1);
    const HostCall& added = r.calls[0];
    QCOMPARE(added.function, std::string("AddCameraInfo"));
    QCOMPARE(QByteArray(added.camera.F6003_CAMERAGB), newId);
    // Raw GBK bytes reach the host unchanged.
    QCOMPARE(QByteArray(added.camera.F6003_CAMERANAME), kName + "E");
    QCOMPARE(QByteArray(added.camera.F6003_IP), QByteArray("10.1.1.9"));
    QCOMPARE(added.camera.F6003_LINE, 15);
    QCOMPARE(added.camera.F6003_STATION, 99);
    QCOMPARE(added.camera.F6001_ZONE1NO, 1);
    QCOMPARE(added.camera.F6002_ZONE2NO, 1);
    QCOMPARE(added.camera.F6003_DEVTYPE, 1);
    QCOMPARE(added.camera.F6003_STATUS, 1);
    QCOMPARE(r.calls[1].function, std::string("ModifyCameraInfo"));
    QCOMPARE(r.calls[1].camera.F6003_STATUS, 0);

    const HostCall& monitors = r.calls[2];
    QCOMPARE(monitors.monitors.size(), size_t(2));
    QCOMPARE(QByteArray(monitors.monitors[0].F6004_MONITOR), QByteArray("MON-01"));
    QCOMPARE(QByteArray(monitors.monitors[0].F6004_DECODER), trainCameraId(0, 0, 21, 8));
    QCOMPARE(QByteArray(monitors.monitors[1].F6004_MONITOR), QByteArray("MON-02"));
    QCOMPARE(form->monitorMap().size(), 2);

    // The list of car 1 now holds both cameras, coloured by their state.
    QComboBox* cameras = form->widgets()->cbxCamera;
    QCOMPARE(cameras->count(), 2);
    QVERIFY(form->cameraMap().contains(QString::fromLatin1(newId)));
    QCOMPARE(cameras->itemData(0).toString(), QString::fromLatin1(knownId));
    QCOMPARE(cameras->itemText(1), QStringLiteral("摄像机E"));
    QCOMPARE(itemColour(cameras, 0), QColor(200, 0, 0));
    QCOMPARE(itemColour(cameras, 1), QColor(0, 200, 0));
    QCOMPARE(form->currentCameras().size(), 2);
    QVERIFY(!form->cameraMap().contains(QString::fromLatin1(trainCameraId(1, 1, 17, 9))));
    Q_UNUSED(notify);
}

void TestCatalogue::answerGoesOutBeforeTheHostWrite() {
    FormRig rig;
    QVERIFY(rig.logInAndSubscribe());
    rig.platform().forget();
    sendNotify(rig.platform(), {catalogueItem(trainCameraId(2, 1, 2, 1), "x", "ON")}, 31);
    QTRY_COMPARE(rig.host().recorder.count("AddCameraInfo"), 1);
    const HostCall& call = rig.host().recorder.calls.front();
    QVERIFY(call.platformLast.startsWith("SIP/2.0 200 OK"));
    QCOMPARE(header(call.platformLast, "CSeq"), QByteArray("31 NOTIFY"));
}

// A new camera joins the list shown where its code puts it; the operator's camera stays chosen.
void TestCatalogue::newCamerasJoinTheListInPlace() {
    FormRig rig;
    QVERIFY(rig.logInAndSubscribe());
    MainForm* form = rig.form();
    selectTrainCar(form, 0);  // 全部
    QComboBox* cameras = form->widgets()->cbxCamera;
    QCOMPARE(cameras->count(), 2);
    cameras->setCurrentIndex(1);
    const QString chosen = cameras->currentData().toString();
    QSignalSpy rebuilt(cameras->model(), &QAbstractItemModel::rowsRemoved);
    sendNotify(rig.platform(), {catalogueItem(trainCameraId(1, 1, 1, 6), "new", "ON"),
                                catalogueItem(trainCameraId(2, 1, 1, 7), "other", "ON")});
    QTRY_COMPARE(cameras->count(), 3);
    QCOMPARE(cameras->itemData(1).toString(), QString::fromLatin1(trainCameraId(1, 1, 1, 6)));
    QCOMPARE(cameras->currentData().toString(), chosen);
    QCOMPARE(rebuilt.count(), 0);
    QCOMPARE(form->currentCameras().size(), 3);
    QCOMPARE(form->currentCameras()[1].code, trainCameraId(1, 1, 1, 6));
    QCOMPARE(itemColour(cameras, 1), QColor(0, 200, 0));
}

// Keepalive answers, record answers and media status notices are answered and write nothing:
// the catalogue the codec still holds from before is not written over the store again.
void TestCatalogue::onlyCatalogueBodiesAreWrittenBack() {
    FormRig rig;
    QVERIFY(rig.logInAndSubscribe());
    ScriptedPlatform& p = rig.platform();
    p.send(p.request(
        "MESSAGE", "cat-1", 40,
        catalogueBody("Response", {catalogueItem(trainCameraId(3, 1, 1, 1), "n", "ON")})));
    QTRY_COMPARE(rig.host().recorder.count("AddCameraInfo"), 1);
    const QList<QByteArray> others = {
        "<?xml version=\"1.0\"?>\r\n<Notify>\r\n<CmdType>Keepalive</CmdType>\r\n"
        "<DeviceID>01552403048401000001</DeviceID>\r\n</Notify>\r\n",
        "<?xml version=\"1.0\"?>\r\n<Response>\r\n<CmdType>RecordInfo</CmdType>\r\n<SN>7</SN>\r\n"
        "<DeviceID>01509900101001000001</DeviceID>\r\n<SumNum>0</SumNum>\r\n"
        "<RecordList Num=\"0\">\r\n</RecordList>\r\n</Response>\r\n",
        kMediaStatus,
    };
    int cseq = 41;
    for (const QByteArray& content : others) {
        p.send(p.request("MESSAGE", "other-" + QByteArray::number(cseq), cseq, content));
        ++cseq;
    }
    QTRY_COMPARE(p.count("SIP/2.0 200 OK"), 4);  // each MESSAGE answered
    QTest::qWait(50);
    QCOMPARE(rig.host().recorder.calls.size(), size_t(1));
}

// A status notice changes the camera's colour where it is listed, keeps the operator's choice
// and the list as they are, and writes only the status back. Bad notices change nothing.
void TestCatalogue::statusNoticeRecoloursInPlace() {
    FormRig rig;
    QVERIFY(rig.logInAndSubscribe());
    MainForm* form = rig.form();
    selectTrainCar(form, 0);  // 全部: cameras A (online) and B (offline)
    QComboBox* cameras = form->widgets()->cbxCamera;
    QCOMPARE(cameras->count(), 2);
    cameras->setCurrentIndex(1);
    QSignalSpy rebuilt(cameras->model(), &QAbstractItemModel::rowsRemoved);
    QSignalSpy moved(cameras, qOverload<int>(&QComboBox::currentIndexChanged));

    const QByteArray a = trainCameraId(1, 1, 1, 1), b = trainCameraId(1, 2, 1, 2);
    auto notice = [](const QByteArray& id, const QByteArray& event) {
        return "<Item>\r\n<DeviceID>" + id + "</DeviceID>\r\n<Event>" + event +
               "</Event>\r\n</Item>\r\n";
    };
    sendNotify(rig.platform(), {notice(a, "OFF"), notice(b, "ON"),
                                notice(trainCameraId(1, 1, 1, 77), "ON"),  // not known
                                notice(a, "VLOST")});
    QTRY_COMPARE(rig.host().recorder.count("ModifyCameraInfo"), 2);
    QCOMPARE(itemColour(cameras, 0), QColor(200, 0, 0));
    QCOMPARE(itemColour(cameras, 1), QColor(0, 200, 0));
    QCOMPARE(cameras->currentIndex(), 1);
    QCOMPARE(rebuilt.count(), 0);
    QCOMPARE(moved.count(), 0);
    const HostCall& written = rig.host().recorder.calls[0];
    QCOMPARE(QByteArray(written.camera.F6003_CAMERAGB), a);
    QCOMPARE(written.camera.F6003_STATUS, 0);
    QCOMPARE(QByteArray(written.camera.F6003_CAMERANAME), kName + "A");  // only the status
    QVERIFY(!form->cameraMap().contains(QString::fromLatin1(trainCameraId(1, 1, 1, 77))));

    // A status nobody knows keeps the stored one; the rest of the entry is taken.
    sendNotify(rig.platform(), {catalogueItem(b, kName + "B2", "UNKNOWN")}, 21);
    QTRY_COMPARE(rig.host().recorder.count("ModifyCameraInfo"), 3);
    QCOMPARE(rig.host().recorder.calls[2].camera.F6003_STATUS, 1);
    QCOMPARE(QByteArray(rig.host().recorder.calls[2].camera.F6003_CAMERANAME), kName + "B2");
    QCOMPARE(itemColour(cameras, 1), QColor(0, 200, 0));
    QCOMPARE(rig.host().recorder.calls.size(), size_t(3));
}

void TestCatalogue::nothingBeforeLogin() {
    FormRig rig;
    ScriptedPlatform& p = rig.platform();
    QVERIFY(!p.waitFor("REGISTER ").isEmpty());
    QSignalSpy handled(rig.form()->session(), &SipSession::datagramHandled);
    sendNotify(p, {catalogueItem(trainCameraId(1, 1, 1, 7), "x", "ON")});
    QTRY_COMPARE(handled.count(), 1);
    QVERIFY(rig.host().recorder.calls.empty());
    QCOMPARE(p.count("SIP/2.0"), 0);
}

void TestCatalogue::repeatedPageIsWrittenBackOnce() {
    FormRig rig;
    QVERIFY(rig.logInAndSubscribe());
    ScriptedPlatform& p = rig.platform();
    p.forget();
    const QByteArray page = sendNotify(p, {catalogueItem(trainCameraId(2, 1, 1, 3), "x", "ON")});
    const QByteArray ok = p.waitFor("SIP/2.0 200 OK");
    QTRY_COMPARE(rig.host().recorder.count("AddCameraInfo"), 1);
    p.send(page);  // our answer was lost: the platform sends the page again
    QCOMPARE(p.waitFor("SIP/2.0 200 OK"), ok);
    QTest::qWait(50);
    QCOMPARE(rig.host().recorder.calls.size(), size_t(1));
}

// A host callback that runs its own event loop while datagrams arrive must not leave the
// socket deaf afterwards.
void TestCatalogue::hostCallbackRunningAnEventLoop() {
    FormRig rig(FormRig::quietTimings(), true, false);
    rig.host().api.AddCameraInfo = addWithNestedLoop;
    rig.create();
    QVERIFY(rig.logInAndSubscribe());
    ScriptedPlatform& p = rig.platform();
    g_mischief = HostMischief();
    g_mischief.platform = &p;
    for (int i = 0; i < 3; ++i) {
        g_mischief.sendMeanwhile << p.request("MESSAGE", "ka-" + QByteArray::number(i), 60 + i,
                                              QByteArray());
    }
    QSignalSpy handled(rig.form()->session(), &SipSession::datagramHandled);
    sendNotify(p, {catalogueItem(trainCameraId(2, 1, 1, 4), "x", "ON")}, 50);
    QTRY_COMPARE(handled.count(), 4);  // and the three sent meanwhile
    sendNotify(p, {catalogueItem(trainCameraId(2, 1, 1, 5), "y", "ON")}, 51);
    QTRY_COMPARE(handled.count(), 5);
    QCOMPARE(g_mischief.calls, 2);
}

// CloseDialog from inside a host callback: the form goes once its code is off the stack.
void TestCatalogue::closeDialogFromAHostCallback() {
    FormRig rig(FormRig::quietTimings(), true, false);
    rig.host().api.AddCameraInfo = addThenClose;
    QWidget host;
    g_mischief = HostMischief();
    g_mischief.closeHandle = static_cast<NxWindowHandle>(host.winId());
    uiParam placement{g_mischief.closeHandle, 0, 0, 0, 0, 0, 0, 0, 0};
    const SessionTimings timings = FormRig::quietTimings();
    SessionTimings::setOverride(&timings);
    console::showDialog(&placement, &rig.host().data, &rig.host().zones, nullptr, 6,
                        &rig.host().recorder);
    SessionTimings::setOverride(nullptr);
    QPointer<MainForm> form = console::openForms().front().form;
    ScriptedPlatform& p = rig.platform();
    QVERIFY(logInByHand(p));
    QTRY_COMPARE(form->sipStep(), int(SipSession::REG_OK));
    sendNotify(p, {catalogueItem(trainCameraId(2, 1, 1, 6), "x", "ON"),
                   catalogueItem(trainCameraId(2, 1, 1, 7), "y", "ON")});
    QTRY_VERIFY(form.isNull());
    QCOMPARE(g_mischief.calls, 1);  // the session stopped with the form
    QVERIFY(console::openForms().empty());
}

QTEST_MAIN(TestCatalogue)
#include "tst_catalogue.moc"
