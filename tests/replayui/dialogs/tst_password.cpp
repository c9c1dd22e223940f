#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QScreen>
#include <QtTest>

#include "dialog_test_support.h"
#include "password.h"

namespace {

QLineEdit* entry(PassWord& dlg) {
    return dlg.findChild<QLineEdit*>(QStringLiteral("lineEdit"));
}
QPushButton* button(PassWord& dlg, const char* name) {
    return dlg.findChild<QPushButton*>(QString::fromLatin1(name));
}

}  // namespace

class TestPassWord : public QObject {
    Q_OBJECT
private slots:
    void titleIconAndLanguageChange();
    void comparison_data();
    void comparison();
    void rightEntryAccepts();
    void wrongEntryWarnsAndStaysOpen();
    void giveUpRejects_data();
    void giveUpRejects();
    void topBandSwallowedEvenOverOwnButtons();
    void placedOnPointerColumn();
};

void TestPassWord::titleIconAndLanguageChange() {
    PassWord dlg(std::nullopt);
    QCOMPARE(dlg.windowTitle(), QStringLiteral("密码验证"));
    QVERIFY(!dlg.windowIcon().isNull());

    // A language change re-applies the generated captions, the plain title included.
    QEvent change(QEvent::LanguageChange);
    QApplication::sendEvent(&dlg, &change);
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Dialog"));
    QCOMPARE(button(dlg, "btnSave")->text(), QStringLiteral("确认"));
}

void TestPassWord::comparison_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("matches");
    QTest::newRow("exact") << "ZK-TRAM9051" << true;
    QTest::newRow("lower case") << "zk-tram9051" << true;
    QTest::newRow("mixed case") << "Zk-TrAm9051" << true;
    QTest::newRow("blanks around") << "  ZK-TRAM9051   " << true;
    QTest::newRow("tab and newline around") << "\tzk-tram9051\n" << true;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("only blanks") << "    " << false;
    QTest::newRow("blank inside") << "ZK- TRAM9051" << false;
    QTest::newRow("one short") << "ZK-TRAM905" << false;
    QTest::newRow("one more") << "ZK-TRAM90511" << false;
}

void TestPassWord::comparison() {
    QFETCH(QString, text);
    QFETCH(bool, matches);
    QCOMPARE(PassWord::matchesPassword(text), matches);
}

void TestPassWord::rightEntryAccepts() {
    PassWord dlg(std::nullopt);
    whenModal([&dlg] {
        QTest::keyClicks(entry(dlg), QStringLiteral("  zk-tram9051 "));
        QTest::mouseClick(button(dlg, "btnSave"), Qt::LeftButton);
    });
    QCOMPARE(dlg.exec(), int(QDialog::Accepted));
    QVERIFY(!dlg.mouseGuardActive());
}

void TestPassWord::wrongEntryWarnsAndStaysOpen() {
    PassWord dlg(std::nullopt);
    QString boxTitle, boxText, boxButton;
    int boxIcon = -1;
    bool openAfterWarning = false;
    QString keptText;

    whenModal([&] {
        QTest::keyClicks(entry(dlg), QStringLiteral("tram"));
        // The warning runs its own modal loop inside the click; answer it from there.
        whenModal([&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr) {
                return;
            }
            boxTitle = box->windowTitle();
            boxText = box->text();
            boxIcon = box->icon();
            boxButton = box->button(QMessageBox::Ok)->text();
            box->button(QMessageBox::Ok)->click();
        });
        QTest::mouseClick(button(dlg, "btnSave"), Qt::LeftButton);
        openAfterWarning = dlg.isVisible() && dlg.mouseGuardActive();
        keptText = entry(dlg)->text();
        QTest::mouseClick(button(dlg, "btnCancel"), Qt::LeftButton);
    });

    QCOMPARE(dlg.exec(), int(QDialog::Rejected));
    QCOMPARE(boxTitle, QStringLiteral("警告"));
    QCOMPARE(boxIcon, int(QMessageBox::Warning));
    QVERIFY(boxText.contains(QStringLiteral("密码验证错误！")));
    QCOMPARE(boxButton, QStringLiteral("  确  定  "));
    QVERIFY(openAfterWarning);
    QCOMPARE(keptText, QStringLiteral("tram"));
}

void TestPassWord::giveUpRejects_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("cancel") << "cancel";
    QTest::newRow("escape") << "escape";
    QTest::newRow("title bar close") << "close";
}

void TestPassWord::giveUpRejects() {
    QFETCH(QString, how);
    PassWord dlg(std::nullopt);
    whenModal([&dlg, how] {
        QTest::keyClicks(entry(dlg), QStringLiteral("ZK-TRAM9051"));
        if (how == QLatin1String("cancel")) {
            QTest::mouseClick(button(dlg, "btnCancel"), Qt::LeftButton);
        } else if (how == QLatin1String("escape")) {
            QTest::keyClick(entry(dlg), Qt::Key_Escape);
        } else {
            dlg.close();
        }
    });
    QCOMPARE(dlg.exec(), int(QDialog::Rejected));
    // After Escape the guard lives until the dialog goes; the other ways remove it at once.
    if (how != QLatin1String("escape")) {
        QVERIFY(!dlg.mouseGuardActive());
    }
}

void TestPassWord::topBandSwallowedEvenOverOwnButtons() {
    InputRecorder other;
    showAt(&other, QPoint(300, 10));
    {
        PassWord dlg(std::nullopt);
        showAt(&dlg, QPoint(0, 0));
        QPushButton* cancel = button(dlg, "btnCancel");
        QVERIFY(cancel->mapToGlobal(QPoint(0, 0)).y() < 120);

        hoverAt(cancel, cancel->rect().center());
        QTest::mouseClick(cancel, Qt::LeftButton);
        QVERIFY(dlg.isVisible());

        QTest::mouseClick(&other, Qt::LeftButton);
        QTest::mouseClick(&other, Qt::RightButton);
        spontaneousWheel(&other, QPoint(5, 5));
        QCOMPARE(other.leftPresses + other.rightPresses + other.wheels, 0);

        // Below the band the dialog works as usual.
        dlg.move(0, 300);
        QTest::mouseClick(cancel, Qt::LeftButton);
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
    }
    QTest::mouseClick(&other, Qt::LeftButton);
    QCOMPARE(other.leftPresses, 1);
}

void TestPassWord::placedOnPointerColumn() {
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    PassWord dlg(QPoint(screen.width(), 40));
    QCOMPARE(dlg.pos(),
             QPoint(screen.width() / 2 - dlg.width() / 2, (screen.height() - dlg.height()) / 2));
}

QTEST_MAIN(TestPassWord)
#include "tst_password.moc"
