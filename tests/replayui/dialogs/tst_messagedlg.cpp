#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QScreen>
#include <QtTest>

#include "dialog_test_support.h"
#include "dialogplacement.h"
#include "mymessagedlg.h"

// A parent that can close an open notice, as a form declaring the signal would.
class ClosingParent : public QWidget {
    Q_OBJECT
signals:
    void closeMessageDlgSignal();
};

namespace {

QPushButton* button(CMyMessageDlg& dlg, const char* name) {
    return dlg.findChild<QPushButton*>(QString::fromLatin1(name));
}
QLabel* label(CMyMessageDlg& dlg, const char* name) {
    return dlg.findChild<QLabel*>(QString::fromLatin1(name));
}

QList<int> emitted(const QSignalSpy& spy) {
    QList<int> out;
    for (const QList<QVariant>& args : spy) {
        out << args.at(0).toInt();
    }
    return out;
}

}  // namespace

class TestMessageDlg : public QObject {
    Q_OBJECT
private slots:
    void showInformationOnlyYes();
    void showQuestionBothButtons();
    void escapeDoesNotClose();
    void answers_data();
    void answers();
    void parentWithoutSignalIsFine();
    void placementColumns_data();
    void placementColumns();
    void placedOnPointerColumn_data();
    void placedOnPointerColumn();
    void pointerOverButtonEdgesIncluded();
    void topBandSwallowedWhileOpen();
    void leftClickPassesOverBtnYes();
};

void TestMessageDlg::showInformationOnlyYes() {
    CMyMessageDlg dlg(std::nullopt, nullptr, QStringLiteral("CCTV"), QStringLiteral("x"));
    bool yesShown = false, noShown = true, picture = false;
    whenModal([&] {
        yesShown = button(dlg, "btnYes")->isVisible();
        noShown = button(dlg, "btnNo")->isVisible();
        picture = !label(dlg, "labelPic")->pixmap(Qt::ReturnByValue).isNull();
        button(dlg, "btnYes")->click();
    });
    QCOMPARE(dlg.showInformation(), int(QDialog::Accepted));
    QVERIFY(yesShown);
    QVERIFY(!noShown);
    QVERIFY(picture);
}

void TestMessageDlg::showQuestionBothButtons() {
    CMyMessageDlg dlg(std::nullopt, nullptr, QStringLiteral("CCTV"), QStringLiteral("x"));
    bool yesShown = false, noShown = false, picture = false;
    whenModal([&] {
        yesShown = button(dlg, "btnYes")->isVisible();
        noShown = button(dlg, "btnNo")->isVisible();
        picture = !label(dlg, "labelPic")->pixmap(Qt::ReturnByValue).isNull();
        button(dlg, "btnNo")->click();
    });
    QCOMPARE(dlg.showQuestion(), int(QDialog::Rejected));
    QVERIFY(yesShown && noShown && picture);
}

void TestMessageDlg::escapeDoesNotClose() {
    CMyMessageDlg dlg(std::nullopt, nullptr, QStringLiteral("CCTV"), QStringLiteral("x"));
    QSignalSpy spy(&dlg, &CMyMessageDlg::btnClickedSignal);
    bool openAfterEscape = false;
    whenModal([&] {
        QTest::keyClick(&dlg, Qt::Key_Escape);
        QTest::keyClick(button(dlg, "btnYes"), Qt::Key_Escape);
        openAfterEscape = dlg.isVisible();
        button(dlg, "btnYes")->click();
    });
    QCOMPARE(dlg.showInformation(), int(QDialog::Accepted));
    QVERIFY(openAfterEscape);
    QCOMPARE(emitted(spy), QList<int>{1});
}

void TestMessageDlg::answers_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("result");
    QTest::addColumn<QList<int>>("expected");
    QTest::newRow("yes") << "yes" << int(QDialog::Accepted) << QList<int>{1};
    QTest::newRow("no") << "no" << int(QDialog::Rejected) << QList<int>{0};
    QTest::newRow("title bar close") << "close" << int(QDialog::Rejected) << QList<int>{0};
    QTest::newRow("parent closes") << "parent" << int(QDialog::Rejected) << QList<int>{};
}

void TestMessageDlg::answers() {
    QFETCH(QString, how);
    QFETCH(int, result);
    QFETCH(QList<int>, expected);

    ClosingParent parent;
    auto* dlg =
        new CMyMessageDlg(std::nullopt, &parent, QStringLiteral("CCTV"), QStringLiteral("x"));
    QSignalSpy spy(dlg, &CMyMessageDlg::btnClickedSignal);
    whenModal([&] {
        if (how == QLatin1String("yes")) {
            QTest::mouseClick(button(*dlg, "btnYes"), Qt::LeftButton);
        } else if (how == QLatin1String("no")) {
            QTest::mouseClick(button(*dlg, "btnNo"), Qt::LeftButton);
        } else if (how == QLatin1String("close")) {
            dlg->close();
        } else {
            emit parent.closeMessageDlgSignal();
        }
    });
    QCOMPARE(dlg->showQuestion(), result);
    QCOMPARE(emitted(spy), expected);
    QVERIFY(!dlg->mouseGuardActive());
    QVERIFY(!dlg->pointerOverButton());
}

void TestMessageDlg::parentWithoutSignalIsFine() {
    QWidget parent;
    auto* dlg =
        new CMyMessageDlg(QPoint(10, 10), &parent, QStringLiteral("CCTV"), QStringLiteral("x"));
    whenModal([dlg] { button(*dlg, "btnYes")->click(); });
    QCOMPARE(dlg->showInformation(), int(QDialog::Accepted));
    // The dialog stays a child of its parent and goes with it.
    QCOMPARE(dlg->parentWidget(), &parent);
}

void TestMessageDlg::placementColumns_data() {
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("columns");
    QTest::addColumn<int>("left");
    // Screens 1000 wide, desktop 800 high, dialog 400 x 180: column n has its left at 1000n+300.
    QTest::newRow("x = 1") << 1 << 2 << 300;
    QTest::newRow("x = W") << 1000 << 2 << 300;
    QTest::newRow("x = W + 1") << 1001 << 2 << 1300;
    QTest::newRow("x = 2W") << 2000 << 2 << 1300;
    QTest::newRow("x = 0 stays on the first") << 0 << 2 << 300;
    QTest::newRow("x < 0 stays on the first") << -250 << 2 << 300;
    QTest::newRow("beyond the last screen") << 2500 << 2 << 1300;
    QTest::newRow("one screen") << 1500 << 1 << 300;
}

void TestMessageDlg::placementColumns() {
    QFETCH(int, x);
    QFETCH(int, columns);
    QFETCH(int, left);
    const QPoint p = pointerPlacement(QPoint(x, 999), 1000, 800, columns, QSize(400, 180));
    QCOMPARE(p, QPoint(left, 310));
}

void TestMessageDlg::placedOnPointerColumn_data() {
    QTest::addColumn<int>("x");
    const int w = QGuiApplication::primaryScreen()->geometry().width();
    QTest::newRow("x = 1") << 1;
    QTest::newRow("x = W") << w;
}

void TestMessageDlg::placedOnPointerColumn() {
    QFETCH(int, x);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    CMyMessageDlg dlg(QPoint(x, 5), nullptr, QStringLiteral("CCTV"), QStringLiteral("x"));
    QCOMPARE(dlg.pos(), QPoint(screen.width() / 2 - 200, (screen.height() - 180) / 2));
}

void TestMessageDlg::pointerOverButtonEdgesIncluded() {
    CMyMessageDlg dlg(std::nullopt, nullptr, QStringLiteral("CCTV"), QStringLiteral("x"));
    dlg.show();
    const QRect yes = button(dlg, "btnYes")->geometry();
    const QRect no = button(dlg, "btnNo")->geometry();

    hoverAt(&dlg, QPoint(yes.x() + yes.width(), yes.y() + yes.height()));
    QVERIFY(dlg.pointerOverButton());
    hoverAt(&dlg, QPoint(yes.x() + yes.width() + 1, yes.y()));
    QCOMPARE(dlg.pointerOverButton(), no.contains(QPoint(yes.x() + yes.width() + 1, yes.y())));
    hoverAt(&dlg, QPoint(yes.x() - 1, yes.y()));
    QVERIFY(!dlg.pointerOverButton());

    // Over the button itself the move reaches the dialog through the tracking button.
    hoverAt(button(dlg, "btnNo"), QPoint(2, 2));
    QVERIFY(dlg.pointerOverButton());
    button(dlg, "btnNo")->hide();
    hoverAt(&dlg, no.center());
    QVERIFY(!dlg.pointerOverButton());
}

void TestMessageDlg::topBandSwallowedWhileOpen() {
    InputRecorder top, below;
    showAt(&top, QPoint(500, 0));
    showAt(&below, QPoint(500, 120));
    {
        CMyMessageDlg dlg(std::nullopt, nullptr, QStringLiteral("CCTV"), QStringLiteral("x"));
        QTest::mouseClick(&top, Qt::LeftButton, {}, QPoint(5, 119));
        QTest::mouseClick(&top, Qt::RightButton, {}, QPoint(5, 5));
        QTest::mouseDClick(&top, Qt::LeftButton, {}, QPoint(5, 5));
        spontaneousWheel(&top, QPoint(5, 5));
        QCOMPARE(top.leftPresses + top.leftReleases + top.rightPresses + top.wheels, 0);

        // Middle button and the row just below the band are not touched.
        QTest::mouseClick(&top, Qt::MiddleButton, {}, QPoint(5, 5));
        QCOMPARE(top.middlePresses, 1);
        QTest::mouseClick(&below, Qt::LeftButton, {}, QPoint(5, 0));
        spontaneousWheel(&below, QPoint(5, 0));
        QCOMPARE(below.leftPresses, 1);
        QCOMPARE(below.wheels, 1);

        // Answering the notice ends the guard.
        whenModal([&dlg] { button(dlg, "btnYes")->click(); });
        dlg.showInformation();
        QTest::mouseClick(&top, Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(top.leftPresses, 1);
    }
    // A notice destroyed without an answer leaves no guard behind either.
    { CMyMessageDlg dlg(std::nullopt, nullptr, QStringLiteral("CCTV"), QStringLiteral("x")); }
    QTest::mouseClick(&top, Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(top.leftPresses, 2);
}

void TestMessageDlg::leftClickPassesOverBtnYes() {
    InputRecorder top;
    showAt(&top, QPoint(500, 0));
    CMyMessageDlg dlg(std::nullopt, nullptr, QStringLiteral("CCTV"), QStringLiteral("x"));
    QSignalSpy spy(&dlg, &CMyMessageDlg::btnClickedSignal);
    // The buttons sit at the foot of the notice: lift it partly above the desktop.
    showAt(&dlg, QPoint(0, -100));
    QPushButton* yes = button(dlg, "btnYes");
    QVERIFY(yes->mapToGlobal(QPoint(0, 0)).y() < 120);

    // Before the pointer was seen over the button, the click is swallowed.
    QTest::mouseClick(yes, Qt::LeftButton);
    QVERIFY(spy.isEmpty());

    hoverAt(yes, QPoint(3, 3));
    QVERIFY(dlg.pointerOverButton());
    // Right clicks and wheel turns stay swallowed; left clicks go through.
    QTest::mouseClick(&top, Qt::RightButton, {}, QPoint(5, 5));
    spontaneousWheel(&top, QPoint(5, 5));
    QCOMPARE(top.rightPresses + top.wheels, 0);
    QTest::mouseClick(yes, Qt::LeftButton);
    QCOMPARE(emitted(spy), QList<int>{1});
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
}

QTEST_MAIN(TestMessageDlg)
#include "tst_messagedlg.moc"
