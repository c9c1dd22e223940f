// The cascading selection lists, the camera step buttons, the wheel guard and the refresh
// behind the password dialog.
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QWheelEvent>
#include <QtTest>

#include "formtestkit.h"
#include "mainform.h"
#include "mymessagedlg.h"
#include "password.h"
#include "sipsession.h"
#include "ui_mainform.h"

using namespace kit;

namespace {

QList<QPair<QString, int>> items(QComboBox* box) {
    QList<QPair<QString, int>> out;
    for (int i = 0; i < box->count(); ++i) {
        out << qMakePair(box->itemText(i), box->itemData(i).toInt());
    }
    return out;
}

QStringList cameraCodes(QComboBox* box) {
    QStringList out;
    for (int i = 0; i < box->count(); ++i) {
        out << box->itemData(i).toString();
    }
    return out;
}

// Station, train and car by index, running the handlers the operator's choices run.
void choose(MainForm* form, int station, int train, int car) {
    Ui::MainForm* ui = form->widgets();
    ui->cbxStation->setCurrentIndex(station);
    form->on_cbxzone1_currentIndexChanged(train);
    ui->cbxzone1->setCurrentIndex(train);
    form->on_cbxzone1_currentIndexChanged(train);
    ui->cbxzone2->setCurrentIndex(car);
    form->on_cbxzone2_currentIndexChanged(car);
}

// Types text into the next password dialog and confirms, or cancels when text is null.
void answerPassword(const char* text) {
    QTimer::singleShot(0, [text] {
        auto* dialog = qobject_cast<PassWord*>(QApplication::activeModalWidget());
        QVERIFY(dialog != nullptr);
        if (text == nullptr) {
            dialog->findChild<QPushButton*>(QStringLiteral("btnCancel"))->click();
            return;
        }
        dialog->findChild<QLineEdit*>(QStringLiteral("lineEdit"))->setText(QString::fromUtf8(text));
        dialog->findChild<QPushButton*>(QStringLiteral("btnSave"))->click();
    });
}

}  // namespace

class TestSelection : public QObject {
    Q_OBJECT
private slots:
    void initialLists();
    void carsFollowStationTypeAndTrain();
    void camerasMatchStationTrainAndCar();
    void wheelNeverChangesAList();
    void stepButtonsStopAtTheEnds();
    void refreshAsksForThePassword();
    void formClosedWhileADialogIsOpen_data();
    void formClosedWhileADialogIsOpen();
    void longNamesAreShownWhole();
};

void TestSelection::initialLists() {
    FormRig rig;
    Ui::MainForm* ui = rig.form()->widgets();
    QCOMPARE(items(ui->cbxLine), (QList<QPair<QString, int>>{{QStringLiteral("3号线"), 0}}));
    QCOMPARE(items(ui->cbxStation), (QList<QPair<QString, int>>{{QStringLiteral("列车"), 0},
                                                                {QStringLiteral("站台5"), 1},
                                                                {QStringLiteral("站台6"), 2}}));
    // Only train numbers (type 99), without gaps.
    QCOMPARE(items(ui->cbxzone1), (QList<QPair<QString, int>>{{"T01", 1}, {"T02", 2}, {"T03", 3}}));
    QCOMPARE(items(ui->cbxSpeed),
             (QList<QPair<QString, int>>{{"0.5", 0}, {"1.0", 1}, {"1.5", 2}, {"2.0", 3}}));
    QCOMPARE(ui->cbxSpeed->currentIndex(), 1);
    QCOMPARE(items(ui->cbxzone2).value(0), qMakePair(QStringLiteral("全部"), 0));
    QCOMPARE(ui->dateEdit_Start->date(), ui->dateEdit_End->date().addDays(-1));
    QCOMPARE(rig.form()->cameraMap().size(), 3);
}

void TestSelection::carsFollowStationTypeAndTrain() {
    FormRig rig;
    MainForm* form = rig.form();
    Ui::MainForm* ui = form->widgets();
    choose(form, 0, 1, 0);  // a train: every car of type 99, whatever the train
    QCOMPARE(items(ui->cbxzone2), (QList<QPair<QString, int>>{{QStringLiteral("全部"), 0},
                                                              {QStringLiteral("1车"), 1},
                                                              {QStringLiteral("2车"), 2}}));
    choose(form, 1, 1, 0);  // a station: zone-2 rows of its type and of the chosen zone 1 (2)
    QCOMPARE(items(ui->cbxzone2),
             (QList<QPair<QString, int>>{{QStringLiteral("全部"), 0}, {"S7", 7}, {"S9", 9}}));
    choose(form, 1, 2, 0);
    QCOMPARE(items(ui->cbxzone2),
             (QList<QPair<QString, int>>{{QStringLiteral("全部"), 0}, {"S8", 8}}));
}

void TestSelection::camerasMatchStationTrainAndCar() {
    FormRig rig;
    MainForm* form = rig.form();
    Ui::MainForm* ui = form->widgets();
    const QString a = QString::fromLatin1(trainCameraId(1, 1, 1, 1));
    const QString b = QString::fromLatin1(trainCameraId(1, 2, 1, 2));
    choose(form, 0, 0, 0);  // train 1, all cars
    QCOMPARE(cameraCodes(ui->cbxCamera), (QStringList{a, b}));
    QCOMPARE(ui->cbxCamera->itemText(0), QStringLiteral("摄像机A"));
    QCOMPARE(ui->cbxCamera->itemData(0, Qt::ForegroundRole).value<QBrush>().color(),
             QColor(0, 200, 0));
    QCOMPARE(ui->cbxCamera->itemData(1, Qt::ForegroundRole).value<QBrush>().color(),
             QColor(200, 0, 0));
    QCOMPARE(form->currentCameras().size(), 2);
    QCOMPARE(form->currentCameras()[1].code, trainCameraId(1, 2, 1, 2));
    choose(form, 0, 0, 2);  // car 2
    QCOMPARE(cameraCodes(ui->cbxCamera), (QStringList{b}));
    choose(form, 0, 1, 0);  // train 2: none
    QCOMPARE(ui->cbxCamera->count(), 0);
    QVERIFY(form->currentCameras().isEmpty());
    choose(form, 1, 1, 1);  // station 5, zone 1 = 2, zone 2 = 7
    QCOMPARE(cameraCodes(ui->cbxCamera),
             (QStringList{QString::fromLatin1(stationCameraId(5, 2, 7, 1, 3))}));
    choose(form, 2, 1, 1);  // station 6 has no camera
    QCOMPARE(ui->cbxCamera->count(), 0);
}

void TestSelection::wheelNeverChangesAList() {
    FormRig rig;
    Ui::MainForm* ui = rig.form()->widgets();
    ui->cbxzone1->setCurrentIndex(1);
    QWheelEvent wheel(QPointF(5, 5), QPointF(5, 5), QPoint(0, -120), QPoint(0, -120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(ui->cbxzone1, &wheel);
    QCOMPARE(ui->cbxzone1->currentIndex(), 1);
    QApplication::sendEvent(ui->cbxSpeed, &wheel);
    QCOMPARE(ui->cbxSpeed->currentIndex(), 1);
}

void TestSelection::stepButtonsStopAtTheEnds() {
    FormRig rig;
    MainForm* form = rig.form();
    Ui::MainForm* ui = form->widgets();
    choose(form, 0, 0, 0);
    QCOMPARE(ui->cbxCamera->currentIndex(), 0);
    QString title;
    QString text;
    answerNextModal(&title, &text);
    ui->btnMoveUp->click();
    QCOMPARE(title, QStringLiteral("CCTV"));
    QCOMPARE(text, QStringLiteral("已到达最顶端！"));
    QCOMPARE(ui->cbxCamera->currentIndex(), 0);
    // The answered notice is gone, not kept as a child of the form.
    QCOMPARE(form->findChildren<CMyMessageDlg*>().size(), 0);

    ui->btnMoveDown->click();
    QCOMPARE(ui->cbxCamera->currentIndex(), 1);
    answerNextModal(&title, &text);
    ui->btnMoveDown->click();
    QCOMPARE(text, QStringLiteral("已到达最底端！"));
    QCOMPARE(ui->cbxCamera->currentIndex(), 1);
    ui->btnMoveUp->click();
    QCOMPARE(ui->cbxCamera->currentIndex(), 0);

    choose(form, 2, 0, 0);  // empty list: nothing at all
    ui->btnMoveDown->click();
    QCOMPARE(form->findChildren<CMyMessageDlg*>().size(), 0);
}

void TestSelection::refreshAsksForThePassword() {
    FormRig rig;
    QVERIFY(rig.logInAndSubscribe());
    ScriptedPlatform& p = rig.platform();
    p.forget();
    answerPassword(nullptr);
    rig.form()->widgets()->btnRefresh->click();
    QCOMPARE(p.count("MESSAGE "), 0);

    answerPassword("  zk-tram9051 ");
    rig.form()->widgets()->btnRefresh->click();
    const QByteArray query = p.waitFor("MESSAGE ");
    QVERIFY(body(query).contains("<CmdType>Catalog</CmdType>"));
    QVERIFY(body(query).contains("<SN>170</SN>"));
}

void TestSelection::formClosedWhileADialogIsOpen_data() {
    QTest::addColumn<QString>("button");
    QTest::newRow("notice at the top of the list") << QStringLiteral("btnMoveUp");
    QTest::newRow("password for a refresh") << QStringLiteral("btnRefresh");
}

// The dialog is a child of the form: closing the form deletes it once, and nothing of the form
// is used after its dialog returns.
void TestSelection::formClosedWhileADialogIsOpen() {
    QFETCH(QString, button);
    FormRig rig;
    choose(rig.form(), 0, 0, 0);
    bool closedInside = false;
    QTimer::singleShot(0, [&] {
        closedInside = QApplication::activeModalWidget() != nullptr;
        rig.closeForm();
    });
    rig.form()->findChild<QPushButton*>(button)->click();
    QVERIFY(closedInside);
    QVERIFY(rig.form() == nullptr);
}

void TestSelection::longNamesAreShownWhole() {
    FormRig rig(FormRig::quietTimings(), true, false);
    // "AB" and 30 two-byte characters: 62 bytes, so byte 39 is inside a character.
    QByteArray name("AB");
    for (int i = 0; i < 30; ++i) {
        name += "\xc9\xe3";  // 摄
    }
    rig.host().addCamera(trainCameraId(1, 1, 1, 9), name, 1, 99, 1, 1);
    rig.create();
    choose(rig.form(), 0, 0, 1);
    QComboBox* cameras = rig.form()->widgets()->cbxCamera;
    QCOMPARE(cameras->itemText(1), QStringLiteral("AB") + QString(30, QChar(0x6444)));
    const QByteArray kept = rig.form()->currentCameras().at(1).name;
    QCOMPARE(kept, name.left(38));  // 39 bytes would split the last character
}

QTEST_MAIN(TestSelection)
#include "tst_selection.moc"
