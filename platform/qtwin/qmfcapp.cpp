#include "qmfcapp.h"

#include <QApplication>

bool QMfcApp::pluginInstance(void* /*module*/) {
    if (QCoreApplication::instance() != nullptr) {
        return false;
    }
    // QApplication keeps references to argc and argv for its whole life, which may outlast the
    // library that made it (an unload and a reload): they live on the heap, never freed.
    auto* argc = new int(1);
    auto** argv = new char* [2] { qstrdup("Quorlaui"), nullptr };
    new QApplication(*argc, argv);
    return true;
}
