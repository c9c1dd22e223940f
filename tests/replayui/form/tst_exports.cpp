// The library's exports as the plug-in uses them: loaded at run time, bound by name and handed
// the native handle of a Qt widget of the host.
#include <dlfcn.h>

#include <QtTest>
#include <QWidget>

#include "cctv_records.h"
#include "qmfcapp.h"

namespace {

QList<QWidget*> containers(QWidget& host) {
    return host.findChildren<QWidget*>(QStringLiteral("widgetMain"), Qt::FindDirectChildrenOnly);
}

}  // namespace

class TestExports : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void showEmbedsAFormInTheHostWidget();
    void sameHandleTwiceAndCloseOrder();
    void unknownHandlesAreHarmless();
    void hostWindowGoneBeforeClose();
    void applicationObjectIsMadeOnlyWhenMissing();

private:
    void* m_library = nullptr;
    ShowDialogFn m_show = nullptr;
    CloseDialogFn m_close = nullptr;
    AutoRefreshFn m_refresh = nullptr;
    AutoRefreshTourFn m_refreshTour = nullptr;
    init_param m_data{};
};

void TestExports::initTestCase() {
    m_library = dlopen(QUORLAUI_PATH, RTLD_NOW | RTLD_LOCAL);
    QVERIFY2(m_library != nullptr, dlerror());
    m_show = reinterpret_cast<ShowDialogFn>(dlsym(m_library, "ShowDialog"));
    m_close = reinterpret_cast<CloseDialogFn>(dlsym(m_library, "CloseDialog"));
    m_refresh = reinterpret_cast<AutoRefreshFn>(dlsym(m_library, "AutoRefresh"));
    m_refreshTour = reinterpret_cast<AutoRefreshTourFn>(dlsym(m_library, "AutoRefreshTour"));
    QVERIFY(m_show && m_close && m_refresh && m_refreshTour);
}

void TestExports::cleanupTestCase() {
    if (m_library != nullptr) {
        dlclose(m_library);
    }
}

void TestExports::showEmbedsAFormInTheHostWidget() {
    QWidget host;
    host.resize(1700, 900);
    uiParam placement{static_cast<NxWindowHandle>(host.winId()), 7, 12, 34, 1500, 720, 0, 0, 0};
    QVERIFY(m_show(&placement, &m_data, nullptr, nullptr, 6, this));
    QList<QWidget*> made = containers(host);
    QCOMPARE(made.size(), 1);
    QWidget* widget = made.first();
    QCOMPARE(widget->styleSheet(),
             QStringLiteral("QWidget#widgetMain{background-color: rgb(0, 0, 0);}"));
    QCOMPARE(widget->pos(), QPoint(12, 34));
    QWidget* form = widget->findChild<QWidget*>(QStringLiteral("MainForm"));
    QVERIFY(form != nullptr);
    QCOMPARE(widget->size(), form->size());
    QVERIFY(widget->isVisible() || !host.isVisible());
    m_close(placement.hostWindow);
    QCOMPARE(containers(host).size(), 0);
}

void TestExports::sameHandleTwiceAndCloseOrder() {
    QWidget host;
    const auto handle = static_cast<NxWindowHandle>(host.winId());
    uiParam first{handle, 0, 0, 0, 0, 0, 12, 34, 255};
    uiParam second{handle, 0, 5, 5, 0, 0, 1, 2, 3};
    m_show(&first, &m_data, nullptr, nullptr, 6, this);
    m_show(&second, &m_data, nullptr, nullptr, 6, this);
    QList<QWidget*> made = containers(host);
    QCOMPARE(made.size(), 2);
    QCOMPARE(made[0]->styleSheet(),
             QStringLiteral("QWidget#widgetMain{background-color: rgb(12, 34, 255);}"));
    // One close removes the form shown first.
    m_close(handle);
    made = containers(host);
    QCOMPARE(made.size(), 1);
    QCOMPARE(made[0]->styleSheet(),
             QStringLiteral("QWidget#widgetMain{background-color: rgb(1, 2, 3);}"));
    QVERIFY(m_refresh(nullptr, 6, handle));
    QVERIFY(m_refreshTour(nullptr, handle));
    m_close(handle);
    QCOMPARE(containers(host).size(), 0);
}

void TestExports::unknownHandlesAreHarmless() {
    QWidget host;
    const auto handle = static_cast<NxWindowHandle>(host.winId());
    uiParam placement{handle, 0, 0, 0, 0, 0, 0, 0, 0};
    m_show(&placement, &m_data, nullptr, nullptr, 6, this);
    m_close(handle + 1000);
    QCOMPARE(containers(host).size(), 1);
    QVERIFY(m_refresh(nullptr, 6, handle + 1000));
    QVERIFY(m_refreshTour(nullptr, handle + 1000));
    QVERIFY(m_show(nullptr, &m_data, nullptr, nullptr, 6, this));
    m_close(handle);
    QCOMPARE(containers(host).size(), 0);
}

void TestExports::hostWindowGoneBeforeClose() {
    auto* host = new QWidget;
    const auto handle = static_cast<NxWindowHandle>(host->winId());
    uiParam placement{handle, 0, 0, 0, 0, 0, 0, 0, 0};
    m_show(&placement, &m_data, nullptr, nullptr, 6, this);
    delete host;  // takes the embedded form with it
    m_close(handle);
    QVERIFY(m_refresh(nullptr, 6, handle));
}

void TestExports::applicationObjectIsMadeOnlyWhenMissing() {
    QVERIFY(!QMfcApp::pluginInstance(nullptr));
}

QTEST_MAIN(TestExports)
#include "tst_exports.moc"
