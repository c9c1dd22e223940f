// The host's reference lists: the operator is told when the host could not read them, and a
// refresh behind the password reads them again once the database is back.
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <cstdio>

#include "formtestkit.h"
#include "mainform.h"
#include "password.h"
#include "ui_mainform.h"
#include "zelqmessagebox.h"

using namespace kit;

namespace {

// The host's side of ReadConfiguration: refuses until its database is back, then hands one
// station, one train and one car.
struct FakeHost {
    bool databaseBack = false;
    StationRow station{99, 99, "New trains"};
    StationList stations{1, &station};
    Zone1Row train{99, 9, "T09"};
    Zone2Row car{99, 9, 4, "C4"};
    CameraList cameras{0, nullptr};
};
FakeHost g_host;

int32_t readConfiguration(init_param* data, ZoneInfo* zones, char* problem, int32_t size, void*) {
    if (!g_host.databaseBack) {
        std::snprintf(problem, static_cast<size_t>(size), "%s",
                      "trains not read: reason: no server <here>");
        return 0;
    }
    problem[0] = '\0';
    if (data != nullptr) {
        data->sipGrpArr = &g_host.stations;
        data->sipCameras = &g_host.cameras;
        *zones = ZoneInfo{1, &g_host.train, 1, &g_host.car};
    }
    return 1;
}

// Refreshes behind the password; notice, when given, receives the text of the notice that
// follows (and closes it).
void refresh(MainForm* form, QString* notice = nullptr) {
    QTimer::singleShot(0, [notice] {
        auto* dialog = qobject_cast<PassWord*>(QApplication::activeModalWidget());
        QVERIFY(dialog != nullptr);
        dialog->findChild<QLineEdit*>(QStringLiteral("lineEdit"))->setText("zk-tram9051");
        dialog->findChild<QPushButton*>(QStringLiteral("btnSave"))->click();
        if (notice != nullptr) {
            answerNextModal(nullptr, notice);
        }
    });
    form->widgets()->btnRefresh->click();
}

QStringList texts(QComboBox* box) {
    QStringList out;
    for (int i = 0; i < box->count(); ++i) {
        out << box->itemText(i);
    }
    return out;
}

}  // namespace

class TestHostConfig : public QObject {
    Q_OBJECT
private slots:
    void unreadListsAreShownAndARefreshReadsThemAgain();
};

void TestHostConfig::unreadListsAreShownAndARefreshReadsThemAgain() {
    FormRig rig(FormRig::quietTimings(), true, false);
    rig.host().api.ReadConfiguration = readConfiguration;
    rig.create();
    MainForm* form = rig.form();
    Ui::MainForm* ui = form->widgets();
    const QString failed =
        QStringLiteral("数据库配置读取失败：trains not read: reason: no server <here>");
    QCOMPARE(ui->labelStatus->text(), failed);
    const QList<ZelQWarningBox*> boxes = form->findChildren<ZelQWarningBox*>();
    QCOMPARE(boxes.size(), 1);
    QVERIFY(boxes[0]->isVisible());
    QVERIFY(boxes[0]->text().contains(QStringLiteral("no server &lt;here&gt;")));
    const QStringList stationsBefore = texts(ui->cbxStation);
    QVERIFY(rig.logIn());  // else the refresh ends with the notice that nobody is logged in

    QString notice;
    refresh(form, &notice);  // still down: the operator is told, the lists stay
    QCOMPARE(notice, failed);
    QCOMPARE(ui->labelStatus->text(), failed);
    QCOMPARE(texts(ui->cbxStation), stationsBefore);

    g_host.databaseBack = true;
    refresh(form);
    QCOMPARE(ui->labelStatus->text(), QStringLiteral("数据库配置已重新读取"));
    QCOMPARE(texts(ui->cbxStation), QStringList{QStringLiteral("New trains")});
    QCOMPARE(texts(ui->cbxzone1), QStringList{QStringLiteral("T09")});
    QCOMPARE(texts(ui->cbxzone2), (QStringList{QStringLiteral("全部"), QStringLiteral("C4")}));
    QCOMPARE(form->cameraMap().size(), 0);
}

QTEST_MAIN(TestHostConfig)
#include "tst_hostconfig.moc"
