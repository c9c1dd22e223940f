// A stand-in UI library for the plug-in's tests: it writes what it receives, one line per call,
// to the file named by TEST_UI_JOURNAL. Built twice: complete, and with ShowDialog only.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "cctv_records.h"
#include "nx_export.h"

namespace {

void Note(const char* fmt, ...) {
    const char* path = std::getenv("TEST_UI_JOURNAL");
    if (!path)
        return;
    FILE* f = std::fopen(path, "a");
    if (!f)
        return;
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(f, fmt, ap);
    va_end(ap);
    std::fputc('\n', f);
    std::fclose(f);
}

int NonNullEntries(const PlugInApiTable* api) {
    const void* const* entry = reinterpret_cast<const void* const*>(api);
    int n = 0;
    for (int i = 0; i < NX_API_ENTRIES; ++i)
        n += entry[i] != nullptr;
    return n;
}

__attribute__((destructor)) void OnUnload() {
    Note("unload");
}

}  // namespace

extern "C" NX_EXPORT bool ShowDialog(uiParam* p, init_param* data, ZoneInfo* zones,
                                     init_param* blocks, int32_t count, void* hostContext) {
    Note("ShowDialog hostWindow=%ld reserved=%d x=%d y=%d width=%d height=%d rgb=%d,%d,%d",
         static_cast<long>(p->hostWindow), p->reserved, p->x, p->y, p->width, p->height, p->red,
         p->green, p->blue);
    Note("api entries=%d AddCameraInfo=%p", NonNullEntries(data->apiTable),
         reinterpret_cast<void*>(data->apiTable->AddCameraInfo));
    Note("grpArr count=%d dispatch=%d", data->grpArr->count, data->dispatchTable != nullptr);
    const StationList* st = data->sipGrpArr;
    Note("stations count=%d first=%d,%d,%s", st->count, st->count ? st->rows[0].F6000_TYPE : -1,
         st->count ? st->rows[0].F6000_NO : -1, st->count ? st->rows[0].F6000_NAME : "");
    Note("monitors first=%s,%s,%d,%d", data->monitorRows[0].F6004_MONITOR,
         data->monitorRows[0].F6004_DECODER, data->monitorRows[0].F6004_SCREENNO,
         data->monitorRows[0].F6004_WINDOWNO);
    const CameraList* cams = data->sipCameras;
    Note("cameras count=%d first=%s", cams->count, cams->count ? cams->rows[0].F6003_CAMERAGB : "");
    Note("zones z1=%d z2=%d", zones->zone1Count, zones->zone2Count);
    Note("blocks=%p count=%d hostContext=%p", static_cast<void*>(blocks), count, hostContext);
    ScreenCamera probe{};
    probe.cameraCode[0] = 'C';
    Note("callback=%d", data->apiTable->UpdateScreenInfoByDevNumber(&probe, hostContext));
    return true;
}

#ifndef TESTUI_SHOW_ONLY
extern "C" NX_EXPORT void CloseDialog(NxWindowHandle hostWindow) {
    Note("CloseDialog hostWindow=%ld", static_cast<long>(hostWindow));
}

extern "C" NX_EXPORT bool AutoRefresh(init_param* blocks, int32_t count,
                                      NxWindowHandle hostWindow) {
    Note("AutoRefresh count=%d hostWindow=%ld api=%d info2=%d grpArr=%d", count,
         static_cast<long>(hostWindow), blocks[0].apiTable != nullptr,
         blocks[1].monitorInfo ? blocks[1].monitorInfo->layout.F6005_NO : -1,
         blocks[0].grpArr != nullptr);
    return true;
}

extern "C" NX_EXPORT bool AutoRefreshTour(init_param* block, NxWindowHandle hostWindow) {
    Note("AutoRefreshTour hostWindow=%ld tours=%d cameras=%d", static_cast<long>(hostWindow),
         block->tourList->count, block->tourCameraList->count);
    return true;
}
#endif
