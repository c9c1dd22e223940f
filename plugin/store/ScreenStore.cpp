// What the video wall shows: the operator's current display, the six positions' displays and
// the cameras of a group.
#include "Layouts.h"
#include "Logger.h"
#include "PlugInApi.h"
#include "SqlText.h"
#include "camera/CameraOps.h"

namespace {

bool ValidScreenCount(int count) {
    for (int allowed : {1, 4, 5, 6, 7, 8})
        if (count == allowed)
            return true;
    return false;
}

// updateDispatherMonitorInfo: stores the working copy as the operator's current display. The
// operator's layout row is the one the level's current monitor row points at: a layout number
// handed in cannot redirect the write to another row (a display mode's, another level's).
bool StoreDisplay(CPlugOrvex& self, DispatcherMonitorInfo& work) {
    int layoutNo = self.m_current.layout.F6005_NO;
    if (layoutNo > 0) {
        const LayoutUpdate update = UpdateLayout(self, work.layout, layoutNo);
        if (update == LayoutUpdate::Failed)
            return false;
        if (update == LayoutUpdate::Missing)
            layoutNo = 0;  // removed meanwhile: stored afresh and pointed at below
    }
    const bool newLayout = layoutNo <= 0;
    if (newLayout) {
        layoutNo = InsertLayout(self, work.layout);
        if (layoutNo <= 0) {
            self.Log().printTime1(
                "[updateDispatherMonitorInfo] >>> failed to insertItem_MonitorInfo");
            return false;
        }
    }
    work.layout.F6005_NO = layoutNo;
    if (self.m_current.F6008_NO > 0 && !newLayout) {
        work.F6008_NO = self.m_current.F6008_NO;
        return true;
    }
    const int curNo = StoreCurrentMonitor(self, layoutNo);
    if (curNo <= 0) {
        self.Log().printTime1(
            "[updateDispatherMonitorInfo] >>> failed to insertItem_CurDisplayInfo");
        return false;
    }
    work.F6008_NO = curNo;
    return true;
}

screenset WindowOf(const DispatcherMonitorInfo& display, int index) {
    screenset w{};
    w.screenCount = display.layout.F6005_SCREENCOUNT;
    w.windowIndex = index;
    w.camera = display.layout.screens[index];
    return w;
}

void SwitchWindows(CPlugOrvex& self, bool reset) {
    DispatcherMonitorInfo& cur = self.m_current;
    const int count = cur.layout.F6005_SCREENCOUNT;
    const int windows = count > 4 ? 8 : 4;
    int start = 0;
    int stop = 0;
    if (reset) {
        cur.curWindow = 0;
    } else {
        if (cur.curScreenNum >= 4)
            start = 4;
        if (cur.curScreenNum < 4 && windows == 8)
            stop = 4;
    }
    self.Log().printTime2(
        "(%d) BEFORE -->>>> switch camera >>> Cur_ScreenNum: %d, screenNum: %d, start: %d, "
        "stop: %d",
        count, cur.curScreenNum, windows, start, stop);
    bool allEmpty = true;
    for (int i = start; i < windows - stop; ++i)
        if (cur.layout.screens[i].stationName[0] != '\0')
            allEmpty = false;
    if (allEmpty) {
        self.Log().printTime2("All Camera in Screen is empty! Switch SCREEN >>> screenNum: %d",
                              count);
        SwitchWindow(self, WindowOf(cur, start), true);
        return;
    }
    for (int i = start; i < windows - stop; ++i)
        SwitchWindow(self, WindowOf(cur, i), true);
}

}  // namespace

extern "C" NX_EXPORT int32_t UpdateScreenInfo(screenset* window, void* plugIn) {
    if (!plugIn)
        return 0;
    auto& self = *static_cast<CPlugOrvex*>(plugIn);
    if (!window) {
        self.Log().printTime2("[UpdateScreenInfo] >>> no screen record");
        return 0;
    }
    self.Log().printTime2("[UpdateScreenInfo] >>> screenNum: %d, screenIndex: %d, stationName:%s",
                          window->screenCount, window->windowIndex,
                          FieldText(window->camera.stationName).c_str());
    if (!ValidScreenCount(window->screenCount) || window->windowIndex < 0 ||
        window->windowIndex >= NX_STORED_SCREENS)
        return 0;
    DispatcherMonitorInfo work = self.m_current;
    work.layout.F6005_SCREENCOUNT = window->screenCount;
    work.layout.screens[window->windowIndex] = window->camera;
    TerminateScreen(work.layout.screens[window->windowIndex]);
    if (!StoreDisplay(self, work)) {
        self.Log().printTime2("[Update_Screen] >>> failed to updateDispatherMonitorInfo");
        return 0;
    }
    self.m_current = work;
    SwitchWindow(self, *window, false);
    return 1;
}

extern "C" NX_EXPORT int32_t UpdateCurDisplayInfo(DispatcherMonitorInfo* display, bool allWindows,
                                                  bool reset, void* plugIn) {
    (void)allWindows;
    if (!plugIn)
        return 0;
    auto& self = *static_cast<CPlugOrvex*>(plugIn);
    if (!display) {
        self.Log().printTime2("[UpdateCurDisplayInfo] >>> no display record");
        return 0;
    }
    const int count = display->layout.F6005_SCREENCOUNT;
    if (!ValidScreenCount(count)) {
        self.Log().printTime2("[UpdateCurDisplayInfo] >>> screen count %d refused", count);
        return 0;
    }
    DispatcherMonitorInfo work{};
    work.layout.F6005_SCREENCOUNT = count;
    work.curWindow = display->curWindow;
    work.curMonitor = display->curMonitor;
    work.curScreenNum = display->curScreenNum;
    for (int i = 0; i < NX_STORED_SCREENS; ++i) {
        work.layout.screens[i] = display->layout.screens[i];
        TerminateScreen(work.layout.screens[i]);
    }
    const int stored = self.m_current.layout.F6005_NO;
    if (stored > 0 && display->layout.F6005_NO > 0 && display->layout.F6005_NO != stored)
        self.Log().printTime2(
            "[UpdateCurDisplayInfo] >>> layout %d is not the current layout %d: the current "
            "layout is stored",
            display->layout.F6005_NO, stored);
    work.layout.F6005_NO = display->layout.F6005_NO;
    if (!StoreDisplay(self, work))
        return 0;
    self.m_current = work;
    display->F6008_NO = work.F6008_NO;
    display->layout.F6005_NO = work.layout.F6005_NO;
    if (count == 4 || count == 8) {
        self.m_newSelection = 1;
    } else {
        self.m_curCamera = display->curWindow;
        self.m_curMonitor = display->curMonitor;
        self.m_newSelection = 0;
    }
    SwitchWindows(self, reset);
    return 1;
}

extern "C" NX_EXPORT int32_t UpdateScreenInfoByDevNumber(ScreenCamera* camera, void* plugIn) {
    if (!plugIn)
        return 0;
    if (!camera) {
        static_cast<CPlugOrvex*>(plugIn)->Log().printTime3(
            "[UpdateScreenInfoByDevNumber] no camera record");
        return 0;
    }
    return camera->cameraCode[0] != '\0' ? 1 : 0;
}

extern "C" NX_EXPORT void UpdateCamerasByGroup(int32_t groupIndex, CameraDescList* result,
                                               void* plugIn) {
    if (!plugIn)
        return;
    auto& self = *static_cast<CPlugOrvex*>(plugIn);
    if (!result || groupIndex < 0) {
        self.Log().printTime3("[getGroupCameras] : no result record or group index %d below 0",
                              groupIndex);
        return;
    }
    *result = CameraDescList{};
    self.m_groupCameras.clear();
    self.m_groupResult.clear();
    if (groupIndex >= self.m_stationCount || groupIndex >= kMaxStations) {
        self.Log().printTime3("[getGroupCameras] : group index %d outside the %d groups",
                              groupIndex, self.m_stationCount);
        return;
    }
    const std::string group = FieldText(self.m_groups[groupIndex].code);
    SqlQuery query;
    if (!query.Open(SqlFormat("select F4009_POINTCODE from %s.dbo.%s where F1010_APPSYSID=10 "
                              "AND F1001_GROUPCODE='%s' order by F4009_POINTNO1",
                              "NXMODEL", "TB4009_DIGPOINT", group)) ||
        query.Rows() <= 0) {
        self.Log().printTime3(
            "[getGroupCameras] : failed to find records (group-code=%s) in table "
            "TB4009_DIGPOINT%s",
            group.c_str(), query.Reason().c_str());
        return;
    }
    for (int r = 0; r < query.Rows(); ++r) {
        camera_info info{};
        CopyText(info.F4009_POINTCODE, query.Text(r, 0).c_str(), 23);
        GetCameraInfoByCode(self, FieldText(info.F4009_POINTCODE), info);
        self.m_groupCameras.push_back(info);
    }
    for (const camera_info& info : self.m_groupCameras) {
        camera_Desc desc{};
        desc.F1002_BAYAREANO = info.F1002_BAYAREANO;
        CopyField(desc.F2023_DEVNO, info.F2023_DEVNO);
        CopyField(desc.F4009_POINTCODE, info.F4009_POINTCODE);
        CopyField(desc.F4009_POINTDESC, info.F4009_POINTDESC);
        self.m_groupResult.push_back(desc);
    }
    result->count = static_cast<int32_t>(self.m_groupResult.size());
    result->rows = self.m_groupResult.data();
}

void LoadPositionDisplays(CPlugOrvex& self) {
    for (int i = 1; i <= kPositionCount; ++i) {
        DispatcherMonitorInfo& display = self.m_positionInfo[i - 1];
        display = DispatcherMonitorInfo{};
        display.windowMode = self.m_positionTable[8 + i];
        SqlQuery query;
        if (!query.Open(SqlFormat("select F6008_NO,F6005_NO from %s.dbo.%s where "
                                  "F0101_PTZPLEVEL=%d",
                                  "NXMODEL", "TB6008_CCTVCURMON", self.m_positionTable[i]))) {
            self.Log().printTime3("[UpdateUiState] position %d: current monitor not read:%s", i,
                                  query.Reason().c_str());
            continue;
        }
        if (query.Rows() <= 0)
            continue;
        display.F6008_NO = query.Int(0, 0);
        display.layout.F6005_NO = query.Int(0, 1);
        ReadLayout(self, display);
    }
}
