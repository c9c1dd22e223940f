#include <QComboBox>
#include <QFile>
#include <QFontInfo>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include "myscreenlabel.h"
#include "quorlastyle.h"

namespace {

QStringList g_styleWarnings;

void collectStyleWarnings(QtMsgType type, const QMessageLogContext&, const QString& msg) {
    if (type == QtWarningMsg && msg.contains(QLatin1String("style"), Qt::CaseInsensitive)) {
        g_styleWarnings << msg;
    }
}

QString readStyleSheet() {
    QFile file(QStringLiteral(":/res/coffee.qss"));
    if (!file.open(QIODevice::ReadOnly)) {
        return QString();
    }
    return QString::fromLatin1(file.readAll());
}

}  // namespace

class TestResources : public QObject {
    Q_OBJECT
private slots:
    void pictures_data();
    void pictures();
    void noticePicturesWithoutSuffix();
    void styleSheetRules();
    void fontFallback();
};

void TestResources::pictures_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");
    QTest::newRow("up") << ":/pic/cctvUp.png" << QSize(38, 34);
    QTest::newRow("down") << ":/pic/cctvDown.png" << QSize(38, 34);
    QTest::newRow("refresh") << ":/pic/refresh.png" << QSize(38, 32);
    QTest::newRow("information") << ":/pic/information.png" << QSize(64, 64);
    QTest::newRow("question") << ":/pic/Question.png" << QSize(64, 64);
    QTest::newRow("warning") << ":/pic/warning.png" << QSize(64, 64);
    QTest::newRow("critical") << ":/pic/critical.png" << QSize(64, 64);
    QTest::newRow("favorite") << ":/pic/favorite.png" << QSize(32, 32);
    QTest::newRow("all cameras") << ":/pic/CCTVall.png" << QSize(32, 32);
    QTest::newRow("settings") << ":/pic/settings.png" << QSize(32, 32);
    QTest::newRow("window icon") << ":/pic/cctvIcon.ico" << QSize(32, 32);
}

void TestResources::pictures() {
    QFETCH(QString, path);
    QFETCH(QSize, size);
    QImage image(path);
    QVERIFY2(!image.isNull(), qPrintable(path));
    QCOMPARE(image.size(), size);
    QVERIFY(image.hasAlphaChannel());
    // Drawn pictures: a clear corner and a fair share of fully opaque pixels.
    QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
    int opaque = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            opaque += qAlpha(image.pixel(x, y)) == 255 ? 1 : 0;
        }
    }
    QVERIFY(opaque > size.width() * size.height() / 10);
}

void TestResources::noticePicturesWithoutSuffix() {
    // The notice asks for these names without ".png".
    QVERIFY(!QPixmap(QStringLiteral(":/pic/information")).isNull());
    QVERIFY(!QPixmap(QStringLiteral(":/pic/Question")).isNull());
}

void TestResources::styleSheetRules() {
    const QString sheet = readStyleSheet();
    QVERIFY(!sheet.isEmpty());

    QWidget form;
    form.setObjectName(QStringLiteral("MainForm"));
    auto* label = new QLabel(QStringLiteral("x"), &form);
    auto* button = new QPushButton(QStringLiteral("x"), &form);
    auto* combo = new QComboBox(&form);
    auto* group = new QGroupBox(QStringLiteral("x"), &form);
    auto* screen = new MyScreenLabel(&form);
    auto* title = new QLabel(QStringLiteral("t"), &form);
    title->setObjectName(QStringLiteral("lblTitle"));

    g_styleWarnings.clear();
    QtMessageHandler previous = qInstallMessageHandler(collectStyleWarnings);
    form.setStyleSheet(sheet);
    form.show();
    QCoreApplication::processEvents();
    qInstallMessageHandler(previous);
    QVERIFY2(g_styleWarnings.isEmpty(), qPrintable(g_styleWarnings.join('\n')));

    const QColor white(Qt::white);
    const QColor black(Qt::black);
    QCOMPARE(label->palette().color(QPalette::WindowText), white);
    QCOMPARE(screen->palette().color(QPalette::WindowText), white);
    QCOMPARE(button->palette().color(QPalette::ButtonText), black);
    QCOMPARE(combo->palette().color(QPalette::Text), black);
    QCOMPARE(group->palette().color(QPalette::WindowText), QColor(156, 156, 156));
    QCOMPARE(form.palette().color(QPalette::Window), QColor(7, 54, 80));
    QCOMPARE(screen->palette().color(QPalette::Window), QColor(63, 127, 188));
    QCOMPARE(label->font().family(), QStringLiteral("Microsoft YaHei"));
    QCOMPARE(label->font().pointSize(), 10);
    QCOMPARE(title->font().pointSize(), 12);
}

void TestResources::fontFallback() {
    installFontFallback();
    QFont font(QStringLiteral("Microsoft YaHei"), 10);
    QCOMPARE(QFontInfo(font).family(), QStringLiteral("WenQuanYi Micro Hei"));
}

QTEST_MAIN(TestResources)
#include "tst_resources.moc"
