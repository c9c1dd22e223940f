#ifndef CCTV_RECORDS_H
#define CCTV_RECORDS_H
/*
 * Records that cross the boundary between the HMI plug-in (in_Orvex) and the UI library it
 * loads. Fixed layouts of 32-bit little-endian integers and NUL-terminated 8-bit (GBK) texts;
 * the caller owns every record and the callee copies what it keeps. Records that hold pointers
 * keep their field order everywhere and their byte offsets on 32-bit builds.
 */
#include <stdint.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Native window handle of the host (an HWND on the original platform). */
typedef intptr_t NxWindowHandle;

/* ---- Rows of the CCTV tables ----------------------------------------------------------- */

typedef struct StationRow { /* TB6000_STATIONINFO */
    int32_t F6000_TYPE;
    int32_t F6000_NO;
    char F6000_NAME[40];
} StationRow;

typedef struct Zone1Row { /* TB6001_ZONE1INFO: train numbers */
    int32_t F6000_TYPE;
    int32_t F6001_ZONE1NO;
    char F6001_ZONE1NAME[40];
} Zone1Row;

typedef struct Zone2Row { /* TB6002_ZONE2INFO: car numbers */
    int32_t F6000_TYPE;
    int32_t F6001_ZONE1NO;
    int32_t F6002_ZONE2NO;
    char F6002_ZONE2NAME[40];
} Zone2Row;

typedef struct MonitorRow { /* TB6004_MONITORINFO, first four columns; ModifyMonitor rows */
    char F6004_MONITOR[24];
    char F6004_DECODER[24];
    int32_t F6004_SCREENNO;
    int32_t F6004_WINDOWNO;
} MonitorRow;

typedef struct CameraRow { /* TB6003_CAMERAINFO without the update time */
    char F6003_IP[24];
    int32_t F6003_LINE;
    int32_t F6003_STATION;
    int32_t F6001_ZONE1NO;
    int32_t F6002_ZONE2NO;
    int32_t F6003_DEVTYPE;
    char F6003_CAMERANAME[256];
    char F6003_CAMERAGB[24];
    int32_t F6003_STATUS;
} CameraRow;

typedef struct TourRow { /* TB6009_CCTVTOURINFO */
    int32_t F6009_TOURINDEX;
    char F6009_TOURDESC[136];
    int32_t F6009_TIMESPACE;
} TourRow;

typedef struct TourCameraRow { /* TB6010_TOURGBCAMERA */
    int32_t F6009_TOURINDEX;
    int32_t reserved;
    char F6010_STANAME[80];
    char F6003_CAMERAGB[40];
    char F6003_CAMERANAME[40];
    int32_t F6010_CAMERAINDEX;
} TourCameraRow;

/* ---- Screens, layouts, favourites, display modes -------------------------------------- */

typedef struct ScreenCamera { /* what one screen of the video wall shows */
    int32_t reserved;
    char cameraCode[48]; /* F6003_CAMERAGB */
    char pointCode[24];  /* F4009_POINTCODE of the camera */
    char cameraName[40]; /* F6003_CAMERANAME */
    char stationName[44];
} ScreenCamera;

#define NX_LAYOUT_SCREENS 16 /* screens in a layout record */
#define NX_STORED_SCREENS 8  /* screens kept in TB6005_CCTVGBMON */

typedef struct MonitorLayout { /* TB6005_CCTVGBMON */
    int32_t F6005_NO;
    int32_t F6005_SCREENCOUNT;
    ScreenCamera screens[NX_LAYOUT_SCREENS];
} MonitorLayout;

typedef struct _DisplayModeInfo { /* TB6006_CCTVMODEINFO and its layout */
    int32_t F6006_NO;
    char F6006_DESC[256];
    MonitorLayout layout;
} _DisplayModeInfo;

typedef struct _FavoriteInfo { /* TB6007_CCTVGBFAV */
    int32_t F6007_NO;
    char F6007_DESC[80];
    ScreenCamera camera;
} _FavoriteInfo;

typedef struct DispatcherMonitorInfo { /* the current display of one operator */
    int32_t F6008_NO;
    MonitorLayout layout;
    int32_t curWindow;
    int32_t curMonitor;
    int32_t curScreenNum;
    int32_t windowMode; /* 8 when the wall has 8 windows */
} DispatcherMonitorInfo;

/* ---- Camera operations ------------------------------------------------------------------ */

typedef struct screenset { /* the window a request is about */
    int32_t screenCount;   /* 1, 4, 5, 6, 7 or 8 */
    int32_t windowIndex;   /* 0..7 */
    ScreenCamera camera;
} screenset;

typedef struct ptzctlex {
    int32_t words[12]; /* [0] control code, [1] scan argument */
} ptzctlex;

typedef struct camera_info { /* result of the point lookup */
    int32_t F1002_BAYAREANO;
    char F2023_DEVNO[48];
    char F4009_POINTCODE[24];
    char F4009_POINTDESC[40];
    int32_t F4009_AOJ;
    int32_t F1010_APPSYSID;
    int32_t F4004_MEASTYPEID;
    int32_t F4009_POINTNO1;
} camera_info;

typedef struct camera_Desc { /* the first four fields of camera_info */
    int32_t F1002_BAYAREANO;
    char F2023_DEVNO[48];
    char F4009_POINTCODE[24];
    char F4009_POINTDESC[40];
} camera_Desc;

/* ---- Dispatch table and group entries --------------------------------------------------- */

typedef struct DispatchEntry {
    int32_t ptzLevel;
    char code[48]; /* two monitor codes of 24: windows 1-4, windows 5-8 */
    char name[40];
    char devNo[48];
} DispatchEntry;

#define NX_DISPATCH_ENTRIES 7
typedef struct DispatchTable {
    int32_t count;
    DispatchEntry entries[NX_DISPATCH_ENTRIES];
} DispatchTable;

typedef struct GroupEntry {
    char code[24];
    char name[40];
    int32_t reserved;
} GroupEntry;

/* ---- List headers: a 32-bit count and a pointer to the first row ------------------------ */

typedef char GroupName[40];

typedef struct GroupNameList { /* grpArr */
    int32_t count;
    GroupName* names;
} GroupNameList;

typedef struct StationList { /* sipGrpArr */
    int32_t count;
    StationRow* rows;
} StationList;

typedef struct CameraList { /* SIP cameras */
    int32_t count;
    CameraRow* rows;
} CameraList;

typedef struct MonitorList { /* argument of ModifyMonitor */
    int32_t count;
    MonitorRow* rows;
} MonitorList;

typedef struct TourList {
    int32_t count;
    TourRow* rows;
} TourList;

typedef struct TourCameraList {
    int32_t count;
    TourCameraRow* rows;
} TourCameraList;

typedef struct CameraDescList { /* result of UpdateCamerasByGroup */
    int32_t count;
    camera_Desc* rows;
} CameraDescList;

typedef struct ZoneInfo {
    int32_t zone1Count;
    Zone1Row* zone1;
    int32_t zone2Count;
    Zone2Row* zone2;
} ZoneInfo;

/* ---- The plug-in's function table -------------------------------------------------------
 * Every entry takes the plug-in object (the hostContext of ShowDialog) as its last argument. */

struct init_param;

typedef void (*UpdateCamerasByGroupFn)(int32_t groupIndex, CameraDescList* result, void* plugIn);
typedef int32_t (*UpdateScreenInfoFn)(screenset* window, void* plugIn);
typedef int32_t (*AddDisplayModeFn)(_DisplayModeInfo* mode, void* plugIn);
typedef int32_t (*ModifyDisplayModeFn)(_DisplayModeInfo* mode, void* plugIn);
typedef int32_t (*RemoveDisplayModeFn)(int32_t position, void* plugIn);
typedef int32_t (*UpdateCurDisplayInfoFn)(DispatcherMonitorInfo* display, bool allWindows,
                                          bool reset, void* plugIn);
typedef int32_t (*AddFavoriteFn)(_FavoriteInfo* favorite, void* plugIn);
typedef int32_t (*UpdateFavoriteFn)(_FavoriteInfo* favorite, void* plugIn);
typedef int32_t (*RemoveFavoriteFn)(int32_t position, void* plugIn);
typedef int32_t (*OperateOnCameraFn)(screenset* window, int32_t type, int32_t value,
                                     ptzctlex* control, void* plugIn);
typedef int32_t (*ScanRoundModeFn)(screenset* window, int32_t mode, ptzctlex* control,
                                   void* plugIn);
typedef int32_t (*UpdateScreenInfoByDevNumberFn)(ScreenCamera* camera, void* plugIn);
typedef int32_t (*UpdateUiStateFn)(void* plugIn);
typedef void (*AddTourInfoFn)(TourRow* tour, TourCameraList* cameras, void* plugIn);
typedef void (*ModifyTourInfoFn)(TourRow* tour, TourCameraList* cameras, void* plugIn);
typedef void (*RemoveTourInfoFn)(int32_t tourIndex, void* plugIn);
typedef int32_t (*UpdateTourInfoFn)(void* plugIn);
typedef int32_t (*OperateTourFn)(screenset* window, void* plugIn);
typedef void (*AddCameraInfoFn)(CameraRow* camera, void* plugIn);
typedef void (*ModifyCameraInfoFn)(CameraRow* camera, void* plugIn);
typedef void (*RemoveCameraInfoFn)(void* plugIn);
typedef void (*ModifyMonitorFn)(MonitorList* monitors, void* plugIn);
/* Appended. With data and zones null: how the plug-in's last read of the reference lists went.
 * With both given: reads them again and points data (apiTable, dispatchTable, sipGrpArr,
 * monitorRows, sipCameras; grpArr null) and zones at the new lists, which the plug-in owns until
 * the next read. 1 when every list was read; 0 with what failed and why in problem (GBK,
 * NUL-terminated within problemSize). */
typedef int32_t (*ReadConfigurationFn)(struct init_param* data, ZoneInfo* zones, char* problem,
                                       int32_t problemSize, void* plugIn);

typedef struct PlugInApiTable {
    UpdateCamerasByGroupFn UpdateCamerasByGroup;               /* 0 */
    UpdateScreenInfoFn UpdateScreenInfo;                       /* 1 */
    AddDisplayModeFn AddDisplayMode;                           /* 2 */
    ModifyDisplayModeFn ModifyDisplayMode;                     /* 3 */
    RemoveDisplayModeFn RemoveDisplayMode;                     /* 4 */
    UpdateCurDisplayInfoFn UpdateCurDisplayInfo;               /* 5 */
    AddFavoriteFn AddFavorite;                                 /* 6 */
    UpdateFavoriteFn UpdateFavorite;                           /* 7 */
    RemoveFavoriteFn RemoveFavorite;                           /* 8 */
    OperateOnCameraFn OperateOnCamera;                         /* 9 */
    ScanRoundModeFn ScanRoundMode;                             /* 10 */
    UpdateScreenInfoByDevNumberFn UpdateScreenInfoByDevNumber; /* 11 */
    UpdateUiStateFn UpdateUiState;                             /* 12 */
    AddTourInfoFn AddTourInfo;                                 /* 13 */
    ModifyTourInfoFn ModifyTourInfo;                           /* 14 */
    RemoveTourInfoFn RemoveTourInfo;                           /* 15 */
    UpdateTourInfoFn UpdateTourInfo;                           /* 16 */
    OperateTourFn OperateTour;                                 /* 17 */
    AddCameraInfoFn AddCameraInfo;                             /* 18 */
    ModifyCameraInfoFn ModifyCameraInfo;                       /* 19 */
    RemoveCameraInfoFn RemoveCameraInfo;                       /* 20 */
    ModifyMonitorFn ModifyMonitor;                             /* 21 */
    /* Entries appended after the first NX_API_ENTRIES; a table only ever grows here. */
    ReadConfigurationFn ReadConfiguration; /* 22 */
} PlugInApiTable;

#define NX_API_ENTRIES 22       /* the entries every host's table has */
#define NX_API_TABLE_ENTRIES 23 /* the entries of this build's table, appended ones included */

/* ---- Records handed to the UI library --------------------------------------------------- */

typedef struct uiParam { /* placement of the UI library's page in the host window */
    NxWindowHandle hostWindow;
    int32_t reserved; /* the plug-in's placement value */
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
    int32_t red;
    int32_t green;
    int32_t blue;
} uiParam;

#define NX_MONITOR_ROWS 8

typedef struct init_param {                  /* 18176 bytes on 32-bit; unnamed space is zero */
    PlugInApiTable* apiTable;                /* 0 */
    GroupNameList* grpArr;                   /* 4 */
    DispatchTable* dispatchTable;            /* 8 */
    DispatcherMonitorInfo* monitorInfo;      /* 12: per-position blocks */
    int32_t reserved16[4];                   /* 16..31 */
    TourList* tourList;                      /* 32: tour block */
    TourCameraList* tourCameraList;          /* 36: tour block */
    char reserved40[17680];                  /* 40..17719 */
    StationList* sipGrpArr;                  /* 17720 */
    MonitorRow monitorRows[NX_MONITOR_ROWS]; /* 17724 */
    CameraList* sipCameras;                  /* 18172 */
} init_param;

#define NX_UI_BLOCKS 6 /* per-position init_param blocks */

/* ---- Exports of the UI library ----------------------------------------------------------- */

typedef bool (*ShowDialogFn)(uiParam* placement, init_param* data, ZoneInfo* zones,
                             init_param* positionBlocks, int32_t blockCount, void* hostContext);
typedef void (*CloseDialogFn)(NxWindowHandle hostWindow);
typedef bool (*AutoRefreshFn)(init_param* positionBlocks, int32_t blockCount,
                              NxWindowHandle hostWindow);
typedef bool (*AutoRefreshTourFn)(init_param* tourBlock, NxWindowHandle hostWindow);

#ifdef __cplusplus
} /* extern "C" */
#endif

/* ---- Layout checks ----------------------------------------------------------------------- */

#ifdef __cplusplus
#define NX_RECORD_ASSERT(cond, msg) static_assert(cond, msg)
#include <cstddef>
#else
#include <stddef.h>
#define NX_RECORD_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

NX_RECORD_ASSERT(sizeof(CameraRow) == 328, "CameraRow layout");
NX_RECORD_ASSERT(offsetof(CameraRow, F6003_CAMERANAME) == 44, "CameraRow layout");
NX_RECORD_ASSERT(offsetof(CameraRow, F6003_CAMERAGB) == 300, "CameraRow layout");
NX_RECORD_ASSERT(sizeof(MonitorRow) == 56, "MonitorRow layout");
NX_RECORD_ASSERT(sizeof(StationRow) == 48, "StationRow layout");
NX_RECORD_ASSERT(sizeof(Zone1Row) == 48, "Zone1Row layout");
NX_RECORD_ASSERT(sizeof(Zone2Row) == 52, "Zone2Row layout");
NX_RECORD_ASSERT(sizeof(TourRow) == 144, "TourRow layout");
NX_RECORD_ASSERT(offsetof(TourRow, F6009_TIMESPACE) == 140, "TourRow layout");
NX_RECORD_ASSERT(sizeof(TourCameraRow) == 172, "TourCameraRow layout");
NX_RECORD_ASSERT(offsetof(TourCameraRow, F6003_CAMERAGB) == 88, "TourCameraRow layout");
NX_RECORD_ASSERT(offsetof(TourCameraRow, F6010_CAMERAINDEX) == 168, "TourCameraRow layout");
NX_RECORD_ASSERT(sizeof(ScreenCamera) == 160, "ScreenCamera layout");
NX_RECORD_ASSERT(offsetof(ScreenCamera, stationName) == 116, "ScreenCamera layout");
NX_RECORD_ASSERT(sizeof(MonitorLayout) == 2568, "MonitorLayout layout");
NX_RECORD_ASSERT(sizeof(_DisplayModeInfo) == 2828, "_DisplayModeInfo layout");
NX_RECORD_ASSERT(sizeof(_FavoriteInfo) == 244, "_FavoriteInfo layout");
NX_RECORD_ASSERT(sizeof(DispatcherMonitorInfo) == 2588, "DispatcherMonitorInfo layout");
NX_RECORD_ASSERT(sizeof(screenset) == 168, "screenset layout");
NX_RECORD_ASSERT(offsetof(screenset, camera.pointCode) == 60, "screenset layout");
NX_RECORD_ASSERT(offsetof(screenset, camera.cameraName) == 84, "screenset layout");
NX_RECORD_ASSERT(offsetof(screenset, camera.stationName) == 124, "screenset layout");
NX_RECORD_ASSERT(sizeof(ptzctlex) == 48, "ptzctlex layout");
NX_RECORD_ASSERT(sizeof(camera_info) == 132, "camera_info layout");
NX_RECORD_ASSERT(sizeof(camera_Desc) == 116, "camera_Desc layout");
NX_RECORD_ASSERT(sizeof(DispatchEntry) == 140, "DispatchEntry layout");
NX_RECORD_ASSERT(sizeof(GroupEntry) == 68, "GroupEntry layout");
NX_RECORD_ASSERT(sizeof(PlugInApiTable) == NX_API_TABLE_ENTRIES * sizeof(void (*)(void)),
                 "PlugInApiTable layout");
NX_RECORD_ASSERT(offsetof(PlugInApiTable, ModifyMonitor) ==
                     (NX_API_ENTRIES - 1) * sizeof(void (*)(void)),
                 "PlugInApiTable layout");
NX_RECORD_ASSERT(offsetof(PlugInApiTable, ReadConfiguration) ==
                     NX_API_ENTRIES * sizeof(void (*)(void)),
                 "PlugInApiTable grows at its end");

#if UINTPTR_MAX == 0xFFFFFFFFu
NX_RECORD_ASSERT(sizeof(uiParam) == 36, "uiParam layout");
NX_RECORD_ASSERT(offsetof(uiParam, blue) == 32, "uiParam layout");
NX_RECORD_ASSERT(sizeof(ZoneInfo) == 16, "ZoneInfo layout");
NX_RECORD_ASSERT(sizeof(StationList) == 8, "list header layout");
NX_RECORD_ASSERT(sizeof(init_param) == 18176, "init_param layout");
NX_RECORD_ASSERT(offsetof(init_param, grpArr) == 4, "init_param layout");
NX_RECORD_ASSERT(offsetof(init_param, dispatchTable) == 8, "init_param layout");
NX_RECORD_ASSERT(offsetof(init_param, monitorInfo) == 12, "init_param layout");
NX_RECORD_ASSERT(offsetof(init_param, tourList) == 32, "init_param layout");
NX_RECORD_ASSERT(offsetof(init_param, tourCameraList) == 36, "init_param layout");
NX_RECORD_ASSERT(offsetof(init_param, sipGrpArr) == 17720, "init_param layout");
NX_RECORD_ASSERT(offsetof(init_param, monitorRows) == 17724, "init_param layout");
NX_RECORD_ASSERT(offsetof(init_param, sipCameras) == 18172, "init_param layout");
#endif

#undef NX_RECORD_ASSERT

#endif /* CCTV_RECORDS_H */
