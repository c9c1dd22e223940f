// The record list of the chosen camera and span against a scripted platform: the query, its
// paged answer (every page answered, a stale one ignored), the timeline the slider shows, and
// what Play makes of it; then the notices and keys of the form.
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QtTest>

#include "formtestkit.h"
#include "mainform.h"
#include "recordtimelineslider.h"
#include "sipsession.h"
#include "ui_mainform.h"

using namespace kit;

namespace {

using Span = QPair<QDateTime, QDateTime>;
using Pieces = QVector<QString>;  // "HH:mm-HH:mm recorded|gap" (day of month before each time)

QDateTime at(int day, int hour, int minute) {
    return QDateTime(QDate(2024, 3, day), QTime(hour, minute));
}

SessionTimings recordTimings(int answerMs = 5000) {
    SessionTimings t = FormRig::quietTimings();
    t.recordQueryDelayMs = 0;
    t.recordAnswerMs = answerMs;
    return t;
}

void chooseSpan(FormRig& rig, const Span& span) {
    Ui::MainForm* ui = rig.form()->widgets();
    ui->dateEdit_Start->setDate(span.first.date());
    ui->timeEdit_Start->setTime(span.first.time());
    ui->dateEdit_End->setDate(span.second.date());
    ui->timeEdit_End->setTime(span.second.time());
}

QByteArray element(const QByteArray& body, const QByteArray& name) {
    const int open = body.indexOf("<" + name + ">");
    const int close = body.indexOf("</" + name + ">");
    return open < 0 || close < 0 ? QByteArray()
                                 : body.mid(open + name.size() + 2, close - open - name.size() - 2);
}

QByteArray local(const QDateTime& t) {
    return t.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toLatin1();
}

// A Response page of a record answer, as a platform writes it.
QByteArray recordPage(const QByteArray& sn, int sumNum, const QVector<Span>& items) {
    QByteArray out =
        "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n<Response>\r\n"
        "<CmdType>RecordInfo</CmdType>\r\n<SN>" +
        sn + "</SN>\r\n<DeviceID>" + trainCameraId(1, 1, 1, 1) + "</DeviceID>\r\n<SumNum>" +
        QByteArray::number(sumNum) + "</SumNum>\r\n<RecordList Num=\"" +
        QByteArray::number(items.size()) + "\">\r\n";
    for (const Span& s : items) {
        out += "<Item>\r\n<DeviceID>" + trainCameraId(1, 1, 1, 1) +
               "</DeviceID>\r\n<Name>r</Name>"
               "\r\n<StartTime>" +
               local(s.first) + "</StartTime>\r\n<EndTime>" + local(s.second) +
               "</EndTime>\r\n<Secrecy>0</Secrecy>\r\n<Type>time</Type>\r\n</Item>\r\n";
    }
    return out + "</RecordList>\r\n</Response>\r\n";
}

Pieces shown(const MainForm* form) {
    Pieces out;
    for (const recordquery::TimelinePiece& p :
         form->widgets()->horizontalSlider->timeline().pieces()) {
        const auto text = [](int64_t t) {
            return QDateTime::fromSecsSinceEpoch(t).toString(QStringLiteral("d HH:mm"));
        };
        out << QStringLiteral("%1-%2 %3")
                   .arg(text(p.start), text(p.end), p.recorded ? "recorded" : "gap");
    }
    return out;
}

// Answers `count` modal dialogs one after the other, keeping the notice texts they showed; gives
// up with the form.
void answerModals(QObject* form, int count, QStringList* texts) {
    auto* timer = new QTimer(form);
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [=, answered = 0, ticks = 0]() mutable {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (dialog != nullptr && dialog->isVisible()) {
            auto* label = dialog->findChild<QLabel*>(QStringLiteral("labelContent"));
            *texts << (label != nullptr ? label->text() : dialog->metaObject()->className());
            dialog->done(QDialog::Accepted);
            ++answered;
        }
        if (answered == count || ++ticks > 500) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start();
}

const QString kNothingRecorded = QStringLiteral("所选时段内没有录像！");
const QString kNotLoggedIn = QStringLiteral("尚未登录视频平台，请稍后再试！");

}  // namespace

class TestRecordTimeline : public QObject {
    Q_OBJECT
private slots:
    void pagedAnswerAcrossTheDailyGap();
    void playChecksTheRecordings_data();
    void playChecksTheRecordings();
    void controlsBeforeLogin_data();
    void controlsBeforeLogin();
    void keepaliveLeavesARefusalShown();
    void spaceAndEscape();
    void bandLiesUnderTheHandle();
};

// Every page is answered; one with an earlier SN changes nothing; the timeline is known once
// every announced item arrived.
void TestRecordTimeline::pagedAnswerAcrossTheDailyGap() {
    FormRig rig(recordTimings());
    QVERIFY(rig.readyToPlay());
    ScriptedPlatform& p = rig.platform();
    chooseSpan(rig, {at(5, 0, 0), at(6, 12, 0)});
    const QByteArray query = p.waitFor("MESSAGE ");
    const QByteArray xml = body(query);
    QCOMPARE(element(xml, "CmdType"), QByteArray("RecordInfo"));
    QCOMPARE(element(xml, "DeviceID"), trainCameraId(1, 1, 1, 1));
    QCOMPARE(element(xml, "StartTime"), QByteArray("2024-03-05T00:00:00"));
    QCOMPARE(element(xml, "EndTime"), QByteArray("2024-03-06T12:00:00"));
    p.send(p.reply(query, "200 OK"));
    const QByteArray sn = element(xml, "SN");

    const struct {
        const char* name;
        QByteArray sn;
        QVector<Span> items;
        bool known;
    } pages[] = {
        {"an earlier query's page",
         QByteArray::number(sn.toUInt() - 1),
         {{at(5, 0, 0), at(6, 12, 0)}},
         false},
        {"first page", sn, {{at(4, 3, 10), at(6, 3, 0)}}, false},
        {"second page", sn, {{at(6, 3, 10), at(7, 3, 0)}}, true},
    };
    int cseq = 40;
    for (const auto& page : pages) {
        const QByteArray callId = "record-" + QByteArray::number(cseq);
        p.send(p.request("MESSAGE", callId, cseq++, recordPage(page.sn, 2, page.items)));
        const QByteArray ok = p.waitFor("SIP/2.0 200 OK");
        QVERIFY2(header(ok, "Call-ID") == callId, page.name);
        QVERIFY2(rig.form()->widgets()->horizontalSlider->timeline().known() == page.known,
                 page.name);
    }
    QCOMPARE(shown(rig.form()), (Pieces{"5 00:00-6 03:00 recorded", "6 03:00-6 03:10 gap",
                                        "6 03:10-6 12:00 recorded"}));
    // Another span is not known until its own answer arrives.
    rig.form()->widgets()->timeEdit_End->setTime(QTime(13, 0));
    QVERIFY(!rig.form()->widgets()->horizontalSlider->timeline().known());
    QVERIFY(element(body(p.waitFor("MESSAGE ")), "SN") != sn);
}

void TestRecordTimeline::playChecksTheRecordings_data() {
    QTest::addColumn<Span>("span");
    QTest::addColumn<bool>("answered");
    QTest::addColumn<QVector<Span>>("items");
    QTest::addColumn<Span>("played");     // what the INVITE asks for; null: refused
    QTest::addColumn<bool>("catalogue");  // a catalogue page rebuilds the camera list meanwhile
    QTest::newRow("wholly in the daily gap")
        << Span{at(6, 3, 1), at(6, 3, 9)} << true << QVector<Span>{} << Span{} << false;
    QTest::newRow("starts in the gap: from the first recording")
        << Span{at(6, 3, 5), at(6, 4, 0)} << true << QVector<Span>{{at(6, 3, 10), at(6, 4, 0)}}
        << Span{at(6, 3, 10), at(6, 4, 0)} << false;
    QTest::newRow("recorded throughout, the camera list rebuilt meanwhile")
        << Span{at(6, 10, 0), at(6, 11, 0)} << true << QVector<Span>{{at(6, 10, 0), at(6, 11, 0)}}
        << Span{at(6, 10, 0), at(6, 11, 0)} << true;
    QTest::newRow("no answer: played as chosen")
        << Span{at(6, 3, 1), at(6, 3, 9)} << false << QVector<Span>{}
        << Span{at(6, 3, 1), at(6, 3, 9)} << false;
}

// Play pressed at once waits for the record list, then decides.
void TestRecordTimeline::playChecksTheRecordings() {
    QFETCH(Span, span);
    QFETCH(bool, answered);
    QFETCH(QVector<Span>, items);
    QFETCH(Span, played);
    QFETCH(bool, catalogue);
    FormRig rig(recordTimings(300));
    QVERIFY(rig.readyToPlay());
    ScriptedPlatform& p = rig.platform();
    chooseSpan(rig, span);
    rig.form()->widgets()->btnPlay->click();
    const QByteArray query = p.waitFor("MESSAGE ");
    QVERIFY(!query.isEmpty());
    QCOMPARE(p.count("INVITE "), 0);
    QStringList notices;
    answerModals(rig.form(), 1, &notices);
    if (catalogue) {
        p.send(p.request(
            "NOTIFY", "catalogue-1", 1,
            catalogueBody("Notify", {catalogueItem(trainCameraId(1, 1, 1, 1), "A", "ON")})));
        QVERIFY(!p.waitFor("SIP/2.0 200 OK").isEmpty());
    }
    if (answered) {
        p.send(p.reply(query, "200 OK"));
        p.send(p.request("MESSAGE", "record-1", 1,
                         recordPage(element(body(query), "SN"), items.size(), items)));
    }
    if (played.first.isNull()) {
        QTRY_COMPARE(notices, QStringList{kNothingRecorded});
        QCOMPARE(rig.form()->widgets()->horizontalSlider->timeline().pieces().size(), size_t(1));
        QCOMPARE(p.count("INVITE "), 0);
        return;
    }
    const QByteArray invite = p.waitFor("INVITE ");
    QVERIFY(body(invite).contains("t=" + QByteArray::number(played.first.toSecsSinceEpoch()) + " " +
                                  QByteArray::number(played.second.toSecsSinceEpoch()) + "\r\n"));
    QCOMPARE(rig.form()->widgets()->horizontalSlider->timeline().known(), answered);
    QVERIFY(notices.isEmpty());
}

void TestRecordTimeline::controlsBeforeLogin_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<QStringList>("dialogs");
    for (const char* button : {"btnPlay", "btnPause", "btnStop"}) {
        QTest::newRow(button) << QString::fromLatin1(button) << QStringList{kNotLoggedIn};
    }
    // The lists are read again behind the password; only the catalogue needs the login.
    QTest::newRow("btnRefresh") << QStringLiteral("btnRefresh")
                                << QStringList{QStringLiteral("PassWord"), kNotLoggedIn};
}

void TestRecordTimeline::controlsBeforeLogin() {
    QFETCH(QString, button);
    QFETCH(QStringList, dialogs);
    FormRig rig;
    Ui::MainForm* ui = rig.form()->widgets();
    ui->cbxStation->setCurrentIndex(0);
    ui->cbxzone2->setCurrentIndex(1);
    QVERIFY(!rig.platform().waitFor("REGISTER ").isEmpty());
    QStringList shownDialogs;
    answerModals(rig.form(), dialogs.size(), &shownDialogs);
    rig.form()->findChild<QPushButton*>(button)->click();
    QTRY_COMPARE(shownDialogs, dialogs);
    QCOMPARE(rig.platform().count(), 1);  // the first REGISTER only
}

// Only a control's own answer replaces its refusal; the keepalive's does not.
void TestRecordTimeline::keepaliveLeavesARefusalShown() {
    FormRig rig;
    QVERIFY(rig.readyToPlay());
    ScriptedPlatform& p = rig.platform();
    rig.form()->widgets()->btnPlay->click();
    p.send(p.reply(p.waitFor("INVITE "), "486 Busy Here"));
    const QString refused = QStringLiteral("控制状态反馈- 486 Busy Here");
    QTRY_COMPARE(rig.form()->widgets()->labelStatus->text(), refused);
    QSignalSpy handled(rig.form()->session(), &SipSession::datagramHandled);
    rig.form()->session()->sendKeepalive();
    p.send(p.reply(p.waitFor("MESSAGE "), "200 OK"));
    QTRY_COMPARE(handled.count(), 1);
    QCOMPARE(rig.form()->widgets()->labelStatus->text(), refused);
}

void TestRecordTimeline::spaceAndEscape() {
    FormRig rig;
    QVERIFY(rig.readyToPlay());
    ScriptedPlatform& p = rig.platform();
    MainForm* form = rig.form();
    QTest::keyClick(form, Qt::Key_Space);
    p.send(p.reply(p.waitFor("INVITE "), "200 OK", QByteArray(), kPlaybackSdp, "APPLICATION/SDP"));
    QVERIFY(!p.waitFor("ACK ").isEmpty());
    QTest::keyClick(form, Qt::Key_Space);
    QVERIFY(body(p.waitFor("INFO ")).startsWith("PAUSE "));
    QTest::keyClick(form, Qt::Key_Space);
    QVERIFY(body(p.waitFor("INFO ")).startsWith("PLAY "));
    QTest::keyClick(form, Qt::Key_Escape);
    QVERIFY(!p.waitFor("BYE ").isEmpty());
    QCOMPARE(form->sipStep(), int(SipSession::REG_OK));
}

// The band is painted in the groove, the handle and ticks over it; time maps to the handle's
// positions.
void TestRecordTimeline::bandLiesUnderTheHandle() {
    RecordTimelineSlider slider;
    slider.setOrientation(Qt::Horizontal);
    slider.setTickPosition(QSlider::TicksBelow);
    slider.resize(965, 26);
    const int64_t day = at(6, 0, 0).toSecsSinceEpoch();
    slider.setTimeline(recordquery::Timeline::of(day, day + 86400, {{day + 43200, day + 86400}}));
    slider.setValue(25);
    const QImage shot = slider.grab().toImage();
    const auto xOf = [&](int value) {  // the handle's centre at that value
        return QStyle::sliderPositionFromValue(0, 99, value, slider.width() - 16) + 8;
    };
    int band = -1;
    for (int y = 0; y < shot.height() && band < 0; ++y) {
        band = shot.pixelColor(xOf(75), y) == RecordTimelineSlider::kRecordedColour ? y : -1;
    }
    QVERIFY(band >= 0);
    QCOMPARE(shot.pixelColor(xOf(10), band), RecordTimelineSlider::kGapColour);
    QCOMPARE(shot.pixelColor(xOf(45), band), RecordTimelineSlider::kGapColour);
    QCOMPARE(shot.pixelColor(xOf(55), band), RecordTimelineSlider::kRecordedColour);
    const QColor handle = shot.pixelColor(xOf(25), band);
    QVERIFY(handle != RecordTimelineSlider::kGapColour);
    QVERIFY(handle != RecordTimelineSlider::kRecordedColour);
}

QTEST_MAIN(TestRecordTimeline)
#include "tst_recordtimeline.moc"
