// The application object outlives the library that made it: after that library is unloaded,
// the object still reads its argc and argv.
#include <dlfcn.h>

#include <QApplication>
#include <QtTest>

class TestReload : public QObject {
    Q_OBJECT
private slots:
    void argumentsOutliveTheLibrary();
};

void TestReload::argumentsOutliveTheLibrary() {
    QVERIFY(QCoreApplication::instance() == nullptr);
    void* probe = dlopen(PROBE_PATH, RTLD_NOW | RTLD_LOCAL);
    QVERIFY2(probe != nullptr, dlerror());
    auto make = reinterpret_cast<bool (*)()>(dlsym(probe, "makeApplication"));
    QVERIFY(make != nullptr && make());
    dlclose(probe);
    if (dlopen(PROBE_PATH, RTLD_NOW | RTLD_NOLOAD) != nullptr) {
        QSKIP("the probe library stayed mapped");
    }
    QCOMPARE(QCoreApplication::arguments(), QStringList{QStringLiteral("Quorlaui")});
}

QTEST_APPLESS_MAIN(TestReload)
#include "test_reload.moc"
