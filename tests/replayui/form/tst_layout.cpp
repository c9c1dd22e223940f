// The form's widget tree as laid out, rendered offscreen; the picture is kept as an artifact.
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QtTest>

#include "formtestkit.h"
#include "mainform.h"
#include "myscreenlabel.h"
#include "ui_mainform.h"

using namespace kit;

namespace {

struct Placed {
    const char* name;
    const char* parent;
    QRect rect;
};

const Placed kLayout[] = {
    {"grpboxSel", "MainForm", {1115, 240, 341, 416}},
    {"label_6", "grpboxSel", {20, 40, 41, 16}},
    {"cbxLine", "grpboxSel", {80, 30, 201, 32}},
    {"label_7", "grpboxSel", {20, 115, 41, 16}},
    {"label_8", "grpboxSel", {20, 340, 51, 16}},
    {"cbxStation", "grpboxSel", {80, 105, 201, 32}},
    {"cbxCamera", "grpboxSel", {80, 330, 201, 32}},
    {"btnMoveUp", "grpboxSel", {290, 313, 38, 31}},
    {"btnMoveDown", "grpboxSel", {290, 350, 38, 34}},
    {"btnRefresh", "grpboxSel", {290, 30, 38, 32}},
    {"label_10", "grpboxSel", {20, 190, 51, 16}},
    {"label_11", "grpboxSel", {20, 265, 51, 16}},
    {"cbxzone1", "grpboxSel", {80, 180, 201, 32}},
    {"cbxzone2", "grpboxSel", {80, 255, 201, 32}},
    {"label_15", "MainForm", {1115, 665, 71, 16}},
    {"labelStatus", "MainForm", {1195, 665, 231, 18}},
    {"groupBox", "MainForm", {1115, 60, 341, 161}},
    {"dateEdit_Start", "groupBox", {80, 50, 110, 26}},
    {"label_12", "groupBox", {34, 110, 41, 16}},
    {"label_9", "groupBox", {34, 55, 41, 16}},
    {"label_13", "groupBox", {98, 25, 66, 16}},
    {"label_14", "groupBox", {235, 25, 66, 16}},
    {"dateEdit_End", "groupBox", {80, 105, 110, 26}},
    {"timeEdit_Start", "groupBox", {210, 50, 111, 26}},
    {"timeEdit_End", "groupBox", {210, 105, 111, 26}},
    {"btnPause", "MainForm", {1115, 15, 75, 31}},
    {"btnStop", "MainForm", {1250, 15, 75, 31}},
    {"btnPlay", "MainForm", {1380, 15, 75, 31}},
    {"cbxSpeed", "MainForm", {1035, 628, 60, 26}},
    {"label_16", "MainForm", {1005, 628, 31, 26}},
    {"horizontalSlider", "MainForm", {20, 628, 965, 26}},
    {"lbStartTime", "MainForm", {4, 658, 70, 21}},
    {"lbEndTime", "MainForm", {960, 658, 68, 20}},
    {"lblTV1Split1", "MainForm", {20, 15, 1080, 600}},
};

}  // namespace

class TestLayout : public QObject {
    Q_OBJECT
private slots:
    void geometryMatchesTheLayout();
    void sizesCaptionsAndStyle();
    void languageChangeReappliesCaptions();
};

void TestLayout::geometryMatchesTheLayout() {
    FormRig rig;
    MainForm* form = rig.form();
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form));
    for (const Placed& p : kLayout) {
        QWidget* w = form->findChild<QWidget*>(QString::fromLatin1(p.name));
        QVERIFY2(w != nullptr, p.name);
        QCOMPARE(w->parentWidget()->objectName(), QString::fromLatin1(p.parent));
        QVERIFY2(w->geometry() == p.rect, p.name);
    }
    const QString dir = QStringLiteral(QUORLA_ARTIFACT_DIR);
    QDir().mkpath(dir);
    const QString png = dir + QStringLiteral("/mainform.png");
    QVERIFY(form->grab().save(png));
    QVERIFY(QFileInfo(png).size() > 0);
}

void TestLayout::sizesCaptionsAndStyle() {
    FormRig rig;
    MainForm* form = rig.form();
    Ui::MainForm* ui = form->widgets();
    QCOMPARE(form->objectName(), QStringLiteral("MainForm"));
    QCOMPARE(form->windowTitle(), QStringLiteral("Form"));
    QCOMPARE(form->size(), QSize(1480, 700));
    QCOMPARE(form->minimumSize(), QSize(1480, 700));
    QCOMPARE(form->maximumSize(), QSize(16777215, 1700));
    form->resize(800, 400);
    QCOMPARE(form->size(), QSize(1480, 700));
    QVERIFY(form->windowFlags() & Qt::FramelessWindowHint);

    QCOMPARE(ui->btnPause->text(), QStringLiteral("暂   停"));
    QCOMPARE(ui->btnStop->text(), QStringLiteral("停   止"));
    QCOMPARE(ui->btnPlay->text(), QStringLiteral("播   放"));
    QCOMPARE(ui->grpboxSel->title(), QStringLiteral("视频选择"));
    QCOMPARE(ui->groupBox->title(), QStringLiteral("时间选择"));
    QCOMPARE(ui->dateEdit_Start->displayFormat(), QStringLiteral("yyyy/MM/dd"));
    QCOMPARE(ui->timeEdit_End->displayFormat(), QStringLiteral("HH:mm:ss"));
    QVERIFY(ui->dateEdit_Start->calendarPopup());
    QCOMPARE(ui->horizontalSlider->tickPosition(), QSlider::TicksBelow);
    QVERIFY(!ui->horizontalSlider->hasTracking());
    QCOMPARE(ui->horizontalSlider->pageStep(), 0);
    QCOMPARE(ui->horizontalSlider->maximum(), 99);
    QCOMPARE(ui->btnMoveUp->iconSize(), QSize(38, 34));
    QCOMPARE(ui->btnRefresh->iconSize(), QSize(38, 32));
    QVERIFY(!ui->btnMoveDown->icon().isNull());

    QVERIFY(form->styleSheet().contains(QStringLiteral("#MainForm")));
    QVERIFY(ui->btnPlay->styleSheet().contains(
        QStringLiteral("stop:0 rgba(200,208,241,255), stop:1 rgba(237,239,241,255)")));
    QVERIFY(ui->btnMoveUp->styleSheet().startsWith(QStringLiteral("QPushButton { ")));
    QVERIFY(form->screenLabel() != nullptr);
}

void TestLayout::languageChangeReappliesCaptions() {
    FormRig rig;
    Ui::MainForm* ui = rig.form()->widgets();
    ui->labelStatus->setText(QStringLiteral("x"));
    ui->btnPlay->setText(QStringLiteral("y"));
    ui->label_16->setText(QStringLiteral("z"));
    QEvent change(QEvent::LanguageChange);
    QCoreApplication::sendEvent(rig.form(), &change);
    QCOMPARE(ui->btnPlay->text(), QStringLiteral("播   放"));
    QCOMPARE(ui->label_16->text(), QStringLiteral("倍速"));
    QVERIFY(ui->labelStatus->text().isEmpty());
}

QTEST_MAIN(TestLayout)
#include "tst_layout.moc"
