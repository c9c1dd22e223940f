// The replay console library: the four exports the plug-in binds by name, and the load hook.
#include <QCoreApplication>

#include "cctv_records.h"
#include "nx_export.h"
#include "openforms.h"
#include "qmfcapp.h"

extern "C" {

NX_EXPORT bool ShowDialog(uiParam* placement, init_param* data, ZoneInfo* zones,
                          init_param* positionBlocks, int32_t blockCount, void* hostContext) {
    return console::showDialog(placement, data, zones, positionBlocks, blockCount, hostContext);
}

NX_EXPORT void CloseDialog(NxWindowHandle hostWindow) {
    console::closeDialog(hostWindow);
}

NX_EXPORT bool AutoRefresh(init_param* positionBlocks, int32_t blockCount,
                           NxWindowHandle hostWindow) {
    return console::autoRefresh(positionBlocks, blockCount, hostWindow);
}

NX_EXPORT bool AutoRefreshTour(init_param* tourBlock, NxWindowHandle hostWindow) {
    return console::autoRefreshTour(tourBlock, hostWindow);
}

}  // extern "C"

namespace {

bool g_madeApplication = false;

__attribute__((constructor)) void onLibraryLoad() {
    g_madeApplication = QMfcApp::pluginInstance(nullptr);
}

__attribute__((destructor)) void onLibraryUnload() {
    // A form left open would run code that is about to be unmapped.
    if (QCoreApplication::instance() != nullptr) {
        console::closeAll();
    }
    if (g_madeApplication) {
        QCoreApplication::quit();
    }
}

}  // namespace
