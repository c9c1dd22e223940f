#include <QAbstractButton>
#include <QTimer>
#include <QtTest>

#include <memory>

#include "zelqmessagebox.h"

namespace {

enum class Kind { Warning, Information, Confirm };

std::unique_ptr<QMessageBox> makeBox(Kind kind, const QString& text) {
    switch (kind) {
        case Kind::Warning: {
            auto box = std::make_unique<ZelQWarningBox>();
            box->setMessageText(text);
            return box;
        }
        case Kind::Information: {
            auto box = std::make_unique<ZelQInformationBox>();
            box->setMessageText(text);
            return box;
        }
        case Kind::Confirm: {
            auto box = std::make_unique<ZelQConfirmBox>();
            box->setMessageText(text);
            return box;
        }
    }
    return nullptr;
}

QString span(const QString& inner) {
    return QStringLiteral("<span style=\"font-size: 10pt; color: black;\">") + inner +
           QStringLiteral("</span>");
}

}  // namespace

Q_DECLARE_METATYPE(Kind)

class TestMessageBox : public QObject {
    Q_OBJECT
private slots:
    void look_data();
    void look();
    void messageTextIsBlackSpanUnescaped_data();
    void messageTextIsBlackSpanUnescaped();
    void confirmReturnsPressedButton_data();
    void confirmReturnsPressedButton();
};

void TestMessageBox::look_data() {
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<int>("icon");
    QTest::addColumn<QString>("title");
    QTest::addColumn<int>("buttons");
    QTest::addColumn<QString>("cancelText");

    QTest::newRow("warning") << Kind::Warning << int(QMessageBox::Warning) << "警告"
                             << int(QMessageBox::Ok) << QString();
    QTest::newRow("information") << Kind::Information << int(QMessageBox::Information) << "提 示"
                                 << int(QMessageBox::Ok) << QString();
    // The confirmation box keeps the Information icon, not the Question one.
    QTest::newRow("confirm") << Kind::Confirm << int(QMessageBox::Information) << "提示"
                             << int(QMessageBox::Ok | QMessageBox::Cancel) << "  取  消  ";
}

void TestMessageBox::look() {
    QFETCH(Kind, kind);
    QFETCH(int, icon);
    QFETCH(QString, title);
    QFETCH(int, buttons);
    QFETCH(QString, cancelText);

    auto box = makeBox(kind, QStringLiteral("x"));
    QCOMPARE(int(box->icon()), icon);
    QCOMPARE(box->windowTitle(), title);
    QCOMPARE(int(box->standardButtons()), buttons);
    QCOMPARE(box->button(QMessageBox::Ok)->text(), QStringLiteral("  确  定  "));
    if (!cancelText.isEmpty()) {
        QCOMPARE(box->button(QMessageBox::Cancel)->text(), cancelText);
    }
}

void TestMessageBox::messageTextIsBlackSpanUnescaped_data() {
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QString>("text");

    QTest::newRow("wrong password") << Kind::Warning << "密码验证错误！";
    QTest::newRow("empty") << Kind::Information << "";
    QTest::newRow("markup kept") << Kind::Confirm << "<b>停止</b> & more";
}

void TestMessageBox::messageTextIsBlackSpanUnescaped() {
    QFETCH(Kind, kind);
    QFETCH(QString, text);
    auto box = makeBox(kind, text);
    QCOMPARE(box->text(), span(text));
}

void TestMessageBox::confirmReturnsPressedButton_data() {
    QTest::addColumn<int>("pressed");
    QTest::newRow("ok") << int(QMessageBox::Ok);
    QTest::newRow("cancel") << int(QMessageBox::Cancel);
}

void TestMessageBox::confirmReturnsPressedButton() {
    QFETCH(int, pressed);
    ZelQConfirmBox box;
    box.setMessageText(QStringLiteral("继续？"));
    QTimer::singleShot(
        0, &box, [&box, pressed] { box.button(QMessageBox::StandardButton(pressed))->click(); });
    QCOMPARE(box.exec(), pressed);
}

QTEST_MAIN(TestMessageBox)
#include "tst_messagebox.moc"
