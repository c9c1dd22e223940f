#include "qmfcapp.h"

#include <QApplication>

bool QMfcApp::pluginInstance(void* /*module*/) {
    if (QCoreApplication::instance() != nullptr) {
        return false;
    }
    // QApplication keeps references to argc and argv for its whole life.
    static int argc = 1;
    static char name[] = "Quorlaui";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
    return true;
}
