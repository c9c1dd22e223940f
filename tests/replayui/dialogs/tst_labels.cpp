#include <QSignalSpy>
#include <QtTest>

#include <cmath>
#include <cstring>

#include "myconsolelabel.h"
#include "myscreenlabel.h"

namespace {

ScreenCamera entryNamed(const char* gbkName) {
    ScreenCamera entry{};
    std::strncpy(entry.cameraName, gbkName, sizeof(entry.cameraName) - 1);
    return entry;
}

// Rings and sectors of a console with its centre at (100, 100): outer ring 80..100 split into
// quadrants at 90/180/270 degrees, inner ring 20..60 with four 90-degree sectors on the axes.
MyConsoleLabel::Bounds consoleBounds() {
    MyConsoleLabel::Bounds b{};
    b[0] = 80;
    b[1] = 100;
    b[2] = 20;
    b[3] = 60;
    b[5] = 180;
    b[7] = 270;
    b[9] = 90;
    b[12] = 45;   // up from
    b[13] = 135;  // up to
    b[14] = 315;  // down to
    b[15] = 225;  // down from
    b[16] = 45;   // right below
    b[17] = 315;  // right above
    b[18] = 135;  // left from
    b[19] = 225;  // left to
    return b;
}

QPointF polar(double radius, double degrees) {
    const double a = degrees * M_PI / 180.0;
    return QPointF(100.0 + radius * std::cos(a), 100.0 - radius * std::sin(a));
}

}  // namespace

class TestLabels : public QObject {
    Q_OBJECT
private slots:
    void screenLabelNames_data();
    void screenLabelNames();
    void screenLabelMoveKeepsName();
    void screenZeroClickToggles();
    void otherScreenClickNeedsCamera();
    void cameraText_data();
    void cameraText();
    void fullNameFieldReadWithinBounds();
    void clearCameraKeepsText();
    void frameReplacesTextUntilCleared();
    void consoleAngles_data();
    void consoleAngles();
    void consoleAllZeroBoundsGiveNone();
    void consoleCodes_data();
    void consoleCodes();
    void consolePressAndRelease();
    void consoleIgnoresRightButton();
};

void TestLabels::screenLabelNames_data() {
    QTest::addColumn<int>("screen");
    QTest::addColumn<int>("window");
    QTest::addColumn<QString>("name");
    QTest::newRow("unset") << -1 << -1 << "lblTV1Split1";
    QTest::newRow("first") << 0 << 0 << "lblTV1Split1";
    QTest::newRow("2, 3") << 2 << 3 << "lblTV3Split4";
    QTest::newRow("only window unset") << 4 << -1 << "lblTV5Split1";
}

void TestLabels::screenLabelNames() {
    QFETCH(int, screen);
    QFETCH(int, window);
    QFETCH(QString, name);
    MyScreenLabel label(screen, window);
    QCOMPARE(label.objectName(), name);
    QCOMPARE(label.screenIndex(), screen);
    QCOMPARE(label.windowIndex(), window);
}

void TestLabels::screenLabelMoveKeepsName() {
    MyScreenLabel label;
    QCOMPARE(label.objectName(), QStringLiteral("lblTV1Split1"));
    QCOMPARE(label.screenIndex(), -1);

    // Moving the label keeps the name it was built with.
    label.setPosition(1, 2);
    QCOMPARE(label.objectName(), QStringLiteral("lblTV1Split1"));
    QCOMPARE(label.screenIndex(), 1);
    QCOMPARE(label.windowIndex(), 2);
}

void TestLabels::screenZeroClickToggles() {
    MyScreenLabel label(0, 3);
    QSignalSpy spy(&label, &MyScreenLabel::clicked);

    QTest::mouseClick(&label, Qt::LeftButton);
    QVERIFY(label.isSelected());
    QVERIFY(label.styleSheet().contains(QStringLiteral("red")));
    QVERIFY(label.styleSheet().contains(QStringLiteral("3px")));

    QTest::mouseClick(&label, Qt::LeftButton);
    QVERIFY(!label.isSelected());
    QCOMPARE(label.styleSheet(), QStringLiteral("border-color: rgb(140,136,133);"));

    QCOMPARE(spy.count(), 2);
    for (const QList<QVariant>& args : spy) {
        QCOMPARE(args.at(0).toInt(), 0);
        QCOMPARE(args.at(1).toInt(), 3);
    }
}

void TestLabels::otherScreenClickNeedsCamera() {
    MyScreenLabel label(1, 2);
    QSignalSpy spy(&label, &MyScreenLabel::clicked);
    QTest::mouseClick(&label, Qt::LeftButton);
    QCOMPARE(spy.count(), 0);

    label.setCamera(5, QStringLiteral("34020000001320000005"));
    QTest::mouseClick(&label, Qt::LeftButton);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toInt(), 1);
    QCOMPARE(spy.at(0).at(1).toInt(), 2);
    QVERIFY(!label.isSelected());
}

void TestLabels::cameraText_data() {
    QTest::addColumn<QString>("code");
    QTest::addColumn<QByteArray>("gbkName");
    QTest::addColumn<QString>("text");
    // "列车1" in GBK.
    const QByteArray name(
        "\xC1\xD0\xB3\xB5"
        "1");
    QTest::newRow("code and name") << "3402" << name << QStringLiteral("3402\n列车1");
    QTest::newRow("empty code") << "" << name << QStringLiteral("待机");
    QTest::newRow("no name") << "3402" << QByteArray() << QStringLiteral("待机");
}

void TestLabels::cameraText() {
    QFETCH(QString, code);
    QFETCH(QByteArray, gbkName);
    QFETCH(QString, text);
    MyScreenLabel label(0, 0);
    label.setDefaultText(QStringLiteral("待机"));
    label.setCameraEntry(entryNamed(gbkName.constData()));
    label.setCamera(7, code);
    QCOMPARE(label.text(), text);

    ScreenCamera back{};
    label.cameraEntry(back);
    QCOMPARE(QByteArray(back.cameraName), gbkName);
}

void TestLabels::fullNameFieldReadWithinBounds() {
    // A name filling its whole field, without a terminator, is read up to the field's end.
    struct {
        ScreenCamera entry;
        char after[8];
    } padded;
    std::memset(&padded, 'A', sizeof(padded));
    MyScreenLabel label;
    label.setCamera(1, QStringLiteral("c"));
    label.setCameraEntry(padded.entry);
    QCOMPARE(label.text(), QStringLiteral("c\n") + QString(sizeof(padded.entry.cameraName), 'A'));
}

void TestLabels::clearCameraKeepsText() {
    MyScreenLabel label;
    label.setCameraEntry(entryNamed("cam"));
    label.setCamera(9, QStringLiteral("code9"));
    label.clearCamera();
    QCOMPARE(label.text(), QStringLiteral("code9\ncam"));
    QCOMPARE(label.cameraNumber(), -1);
    QVERIFY(label.cameraCode().isEmpty());
    ScreenCamera back;
    std::memset(&back, 1, sizeof(back));
    label.cameraEntry(back);
    QCOMPARE(back.cameraName[0], '\0');
    QCOMPARE(back.reserved, 0);
}

void TestLabels::frameReplacesTextUntilCleared() {
    qputenv("TZ", "UTC");
    MyScreenLabel label;
    label.resize(200, 100);
    label.setStyleSheet("MyScreenLabel { background-color: white; border: 3px solid green; }");
    label.setCameraEntry(entryNamed("\xC1\xD0\xB3\xB5\x31"));  // "列车1" in GBK
    label.setCamera(7, QStringLiteral("3402"));
    QImage picture(100, 50, QImage::Format_RGB32);
    picture.fill(Qt::red);

    label.showFrame(picture, 1700000000000);
    QVERIFY(label.hasFrame());
    QCOMPARE(label.overlayText(), QStringLiteral("列车1  2023-11-14 22:13:20"));
    const QImage shown = label.grab().toImage();
    QCOMPARE(shown.pixelColor(100, 70), QColor(Qt::red));   // centred, below the overlay
    QCOMPARE(shown.pixelColor(20, 50), QColor(Qt::black));  // beside the picture
    QCOMPARE(shown.pixelColor(1, 50), QColor("green"));     // the border stays

    label.clearFrame();
    QVERIFY(!label.hasFrame());
    QCOMPARE(label.text(), QStringLiteral("3402\n列车1"));
    QVERIFY(label.grab().toImage().pixelColor(100, 70) != QColor(Qt::red));
}

void TestLabels::consoleAngles_data() {
    QTest::addColumn<QPointF>("p");
    QTest::addColumn<double>("angle");
    QTest::newRow("right") << QPointF(110, 100) << 0.0;
    QTest::newRow("up") << QPointF(100, 90) << 90.0;
    QTest::newRow("left") << QPointF(90, 100) << 180.0;
    QTest::newRow("down") << QPointF(100, 110) << 270.0;
    QTest::newRow("up right") << QPointF(110, 90) << 45.0;
    QTest::newRow("up left") << QPointF(90, 90) << 135.0;
    QTest::newRow("down left") << QPointF(90, 110) << 225.0;
    QTest::newRow("down right") << QPointF(110, 110) << 315.0;
    // The centre has no direction; it must not turn into 0/0.
    QTest::newRow("centre") << QPointF(100, 100) << 0.0;
}

void TestLabels::consoleAngles() {
    QFETCH(QPointF, p);
    QFETCH(double, angle);
    const double a = MyConsoleLabel::angleOf(QPointF(100, 100), p);
    QVERIFY2(std::fabs(a - angle) < 1e-4, qPrintable(QString::number(a)));
}

void TestLabels::consoleAllZeroBoundsGiveNone() {
    MyConsoleLabel console;
    console.setCentre(QPointF(100, 100));
    for (double deg = 0; deg < 360; deg += 30) {
        QCOMPARE(console.orientAt(polar(50, deg)), ConsoleNone);
    }
    QCOMPARE(console.orientAt(QPointF(100, 100)), ConsoleNone);
}

void TestLabels::consoleCodes_data() {
    QTest::addColumn<QPointF>("p");
    QTest::addColumn<int>("code");
    QTest::newRow("outer, straight up: axis") << polar(90, 90) << int(ConsoleNone);
    QTest::newRow("outer, right: axis") << polar(90, 0) << int(ConsoleNone);
    QTest::newRow("outer 45") << polar(90, 45) << int(ConsoleUpRight);
    QTest::newRow("outer 135") << polar(90, 135) << int(ConsoleUpLeft);
    QTest::newRow("outer 225") << polar(90, 225) << int(ConsoleDownLeft);
    QTest::newRow("outer 315") << polar(90, 315) << int(ConsoleDownRight);
    QTest::newRow("outer edge is outside") << polar(80, 45) << int(ConsoleNone);
    QTest::newRow("inner right") << polar(40, 10) << int(ConsoleRight);
    QTest::newRow("inner right below axis") << polar(40, 350) << int(ConsoleRight);
    QTest::newRow("inner up") << polar(40, 90) << int(ConsoleUp);
    QTest::newRow("inner left") << polar(40, 180) << int(ConsoleLeft);
    QTest::newRow("inner down") << polar(40, 270) << int(ConsoleDown);
    QTest::newRow("between rings") << polar(70, 45) << int(ConsoleNone);
    QTest::newRow("centre") << QPointF(100, 100) << int(ConsoleNone);
}

void TestLabels::consoleCodes() {
    QFETCH(QPointF, p);
    QFETCH(int, code);
    MyConsoleLabel console;
    console.setCentre(QPointF(100, 100));
    console.setBounds(consoleBounds());
    QCOMPARE(int(console.orientAt(p)), code);
}

void TestLabels::consolePressAndRelease() {
    MyConsoleLabel console;
    console.resize(200, 200);
    console.setCentre(QPointF(100, 100));
    double raw[MyConsoleLabel::kBoundCount];
    const MyConsoleLabel::Bounds b = consoleBounds();
    std::copy(b.begin(), b.end(), raw);
    console.setBounds(raw);
    QSignalSpy spy(&console, &MyConsoleLabel::clicked);

    QTest::mousePress(&console, Qt::LeftButton, {}, QPoint(100, 60));
    QTest::mouseRelease(&console, Qt::LeftButton, {}, QPoint(100, 60));
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(0).at(0).value<ConsoleOrient>(), ConsoleUp);
    QCOMPARE(spy.at(0).at(1).toInt(), 1);
    QCOMPARE(spy.at(1).at(0).value<ConsoleOrient>(), ConsoleUp);
    QCOMPARE(spy.at(1).at(1).toInt(), 0);
}

void TestLabels::consoleIgnoresRightButton() {
    MyConsoleLabel console;
    console.resize(200, 200);
    console.setCentre(QPointF(100, 100));
    console.setBounds(consoleBounds());
    QSignalSpy spy(&console, &MyConsoleLabel::clicked);
    QTest::mousePress(&console, Qt::RightButton, {}, QPoint(100, 60));
    QCOMPARE(spy.count(), 0);
}

QTEST_MAIN(TestLabels)
#include "tst_labels.moc"
