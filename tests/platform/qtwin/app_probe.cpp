// A library that makes the application object the way the console's load hook does.
#include "qmfcapp.h"

extern "C" __attribute__((visibility("default"))) bool makeApplication() {
    return QMfcApp::pluginInstance(nullptr);
}
