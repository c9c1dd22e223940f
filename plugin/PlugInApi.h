#pragma once
// The plug-in's exports: CreatePlugIn and the functions of its PlugInApiTable. Each takes the
// plug-in object (as returned by CreatePlugIn) as its last argument.
#include "cctv_records.h"
#include "nx_export.h"

class CVGPlugInCore;

extern "C" {
NX_EXPORT CVGPlugInCore* CreatePlugIn(int32_t unused);

NX_EXPORT void UpdateCamerasByGroup(int32_t groupIndex, CameraDescList* result, void* plugIn);
NX_EXPORT int32_t UpdateScreenInfo(screenset* window, void* plugIn);
NX_EXPORT int32_t AddDisplayMode(_DisplayModeInfo* mode, void* plugIn);
NX_EXPORT int32_t ModifyDisplayMode(_DisplayModeInfo* mode, void* plugIn);
NX_EXPORT int32_t RemoveDisplayMode(int32_t position, void* plugIn);
NX_EXPORT int32_t UpdateCurDisplayInfo(DispatcherMonitorInfo* display, bool allWindows, bool reset,
                                       void* plugIn);
NX_EXPORT int32_t AddFavorite(_FavoriteInfo* favorite, void* plugIn);
NX_EXPORT int32_t UpdateFavorite(_FavoriteInfo* favorite, void* plugIn);
NX_EXPORT int32_t RemoveFavorite(int32_t position, void* plugIn);
NX_EXPORT int32_t OperateOnCamera(screenset* window, int32_t type, int32_t value, ptzctlex* control,
                                  void* plugIn);
NX_EXPORT int32_t ScanRoundMode(screenset* window, int32_t mode, ptzctlex* control, void* plugIn);
NX_EXPORT int32_t UpdateScreenInfoByDevNumber(ScreenCamera* camera, void* plugIn);
NX_EXPORT int32_t UpdateUiState(void* plugIn);
NX_EXPORT void AddTourInfo(TourRow* tour, TourCameraList* cameras, void* plugIn);
NX_EXPORT void ModifyTourInfo(TourRow* tour, TourCameraList* cameras, void* plugIn);
NX_EXPORT void RemoveTourInfo(int32_t tourIndex, void* plugIn);
NX_EXPORT int32_t UpdateTourInfo(void* plugIn);
NX_EXPORT int32_t OperateTour(screenset* window, void* plugIn);
NX_EXPORT void AddCameraInfo(CameraRow* camera, void* plugIn);
NX_EXPORT void ModifyCameraInfo(CameraRow* camera, void* plugIn);
NX_EXPORT void RemoveCameraInfo(void* plugIn);
NX_EXPORT void ModifyMonitor(MonitorList* monitors, void* plugIn);
NX_EXPORT int32_t ReadConfiguration(init_param* data, ZoneInfo* zones, char* problem,
                                    int32_t problemSize, void* plugIn);
}
