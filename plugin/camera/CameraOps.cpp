// Camera PTZ, presets and tours through the CCTV switching interface.
#include "CameraOps.h"

#include <cstdlib>
#include <cstring>

#include "Logger.h"
#include "PlugInApi.h"
#include "store/SqlText.h"

namespace {

constexpr int kOperatePtz = 2;
constexpr int kOperateGoPreset = 4;
constexpr int kOperateSetPreset = 14;
constexpr int kTourMode = 3;

const char* const kPtzLabels[] = {"上",    "下",    "左",    "右",   "放大", "缩小", "焦距+",
                                  "焦距-", "光圈+", "光圈-", "左上", "左下", "右上", "右下"};

struct TourCode {
    int code;
    const char* label;
};
const TourCode kTourCodes[] = {{17, "轮巡启动"}, {18, "轮巡停止"}};

const char* TourLabel(int code) {
    for (const TourCode& t : kTourCodes)
        if (t.code == code)
            return t.label;
    return nullptr;
}

bool OneOf(int value, std::initializer_list<int> set) {
    for (int v : set)
        if (v == value)
            return true;
    return false;
}

bool WindowInRange(const screenset& window) {
    return window.windowIndex >= 0 && window.windowIndex < NX_STORED_SCREENS;
}

unsigned char DecoderOf(CPlugOrvex& self, int window) {
    char devNo[48] = {};
    GetCCTVDeviceNumber(self, 1, FieldText(self.m_decoderPoints[0][window - 1]), devNo);
    return static_cast<unsigned char>(std::atoi(devNo) & 0xFF);
}

std::string MonitorCodeOf(CPlugOrvex& self, int window) {
    const char* code = self.m_dispatch.entries[0].code + (window <= 4 ? 0 : 24);
    return std::string(code, strnlen(code, 24));
}

}  // namespace

unsigned char DivisionOf(const screenset& w) {
    if (w.windowIndex < 4)
        return OneOf(w.screenCount, {1, 5, 7}) ? 0 : 1;
    return OneOf(w.screenCount, {4, 5, 8}) ? 1 : 0;
}

void GetCCTVDeviceNumber(CPlugOrvex& self, int type, const std::string& pointCode,
                         char (&devNo)[48]) {
    if (pointCode.empty())
        return;
    SqlQuery query;
    if (query.Open(SqlFormat("select F2023_DEVNO from %s.dbo.%s where F2023_TYPE=%d and "
                             "F4009_POINTCODE='%s'",
                             "NXMODEL", "TB2023_CCTVDEV", type, pointCode)) &&
        query.Rows() > 0) {
        CopyText(devNo, query.Text(0, 0).c_str(), 47);
        return;
    }
    self.Log().printTime3(
        "[getCCTVDeviceNumber] : failed to find record in TB2023_CCTVDEV by code %s%s",
        pointCode.c_str(), query.Reason().c_str());
}

int GetCameraInfoByCode(CPlugOrvex& self, const std::string& pointCode, camera_info& info) {
    if (pointCode.empty())
        return 0;
    SqlQuery query;
    if (!query.Open(SqlFormat("select F4009_AOJ,F1010_APPSYSID,F4004_MEASTYPEID,F4009_POINTNO1,"
                              "F1002_BAYAREANO,F4009_POINTDESC from %s.dbo.%s where "
                              "F4009_POINTCODE='%s'",
                              "NXMODEL", "TB4009_DIGPOINT", pointCode)) ||
        query.Rows() <= 0) {
        self.Log().printTime3(
            "[getCameraInfoByCode] : failed to find record in TB4009_DIGPOINT by code %s%s",
            pointCode.c_str(), query.Reason().c_str());
        return 0;
    }
    info.F4009_AOJ = query.Int(0, 0);
    info.F1010_APPSYSID = query.Int(0, 1);
    info.F4004_MEASTYPEID = query.Int(0, 2);
    info.F4009_POINTNO1 = query.Int(0, 3);
    info.F1002_BAYAREANO = query.Int(0, 4);
    CopyText(info.F4009_POINTDESC, query.Text(0, 5).c_str(), 39);
    GetCCTVDeviceNumber(self, 2, pointCode, info.F2023_DEVNO);
    return 1;
}

int SwitchWindow(CPlugOrvex&, const screenset&, bool) {
    return 0;
}

extern "C" NX_EXPORT int32_t ScanRoundMode(screenset* window, int32_t mode, ptzctlex* control,
                                           void* plugIn) {
    if (!plugIn)
        return 0;
    auto& self = *static_cast<CPlugOrvex*>(plugIn);
    if (!control || mode == 0) {
        if (!control)
            self.Log().printTime2("[ScanRoundMode] no control record");
        return 0;
    }
    const ptzctlex ctl = *control;
    if (mode != kTourMode)
        return 0;
    const char* label = TourLabel(ctl.words[0]);
    if (!label)
        return 0;
    if (!window || !WindowInRange(*window)) {
        self.Log().printTime2("[ScanRoundMode] %s refused: no window or window index outside 0..7",
                              label);
        return 0;
    }
    const std::string pointCode = FieldText(window->camera.pointCode);
    camera_info info{};
    CopyText(info.F4009_POINTCODE, pointCode.c_str(), 23);
    if (!GetCameraInfoByCode(self, pointCode, info))
        return -1;

    self.m_csi.CCTV_Login(static_cast<unsigned char>(self.m_ptzLevel & 0xFF));
    const int win = window->windowIndex + 1;
    self.m_selection.division = DivisionOf(*window);
    self.m_selection.window = static_cast<unsigned char>(win);
    self.m_selection.extra1 = 2;
    self.m_selection.extra2 = 3;
    self.m_selection.line = self.m_metro;
    self.m_selection.station = 0;
    const unsigned char decoder = DecoderOf(self, win);
    const std::string monitor = MonitorCodeOf(self, win);
    self.Log().printTime2("[ScanRoundMode] %s PtzLevel:%d, camera:%s, window:%d, monitor:%s", label,
                          self.m_ptzLevel, pointCode.c_str(), win, monitor.c_str());
    self.m_csi.CCTV_SelectCam(pointCode.c_str(), self.m_selection.line, self.m_selection.station,
                              self.m_selection.division,
                              static_cast<unsigned char>(((win - 1) % 4) + 1),
                              self.m_selection.extra1, self.m_selection.extra2, decoder);
    self.m_csi.CCTV_SelectMon(monitor.c_str());
    self.m_csi.CCTV_Scan(static_cast<unsigned char>(ctl.words[1] & 0xFF));
    return 1;
}

extern "C" NX_EXPORT int32_t OperateOnCamera(screenset* window, int32_t type, int32_t value,
                                             ptzctlex* control, void* plugIn) {
    (void)value;
    if (!plugIn)
        return 0;
    auto& self = *static_cast<CPlugOrvex*>(plugIn);
    if (!control || type == 0) {
        if (!control)
            self.Log().printTime2("[OperateOnCamera] no control record");
        return 0;
    }
    const ptzctlex ctl = *control;
    const char* label = nullptr;
    if (type == kOperatePtz) {
        const int code = ctl.words[0];
        if (code < 1 || code > static_cast<int>(std::size(kPtzLabels)))
            return 0;
        label = kPtzLabels[code - 1];
    } else if (type == kOperateGoPreset) {
        label = "调用预置位";
    } else if (type == kOperateSetPreset) {
        label = "设置预置位";
    } else {
        return 0;
    }
    self.Log().printTime3("[OperateOnCamera] PtzLevel:%d, %s, camera:%s", self.m_ptzLevel, label,
                          window ? FieldText(window->camera.pointCode).c_str() : "");
    return 0;
}

extern "C" NX_EXPORT int32_t OperateTour(screenset* window, void* plugIn) {
    if (!plugIn)
        return 0;
    auto& self = *static_cast<CPlugOrvex*>(plugIn);
    if (!window)
        return 1;
    self.Log().printTime2("[TourOperate] >>> PtzLevel:%d ,TourCameraCode: %s  ,TourCameraDesc: %s",
                          self.m_ptzLevel, FieldText(window->camera.pointCode).c_str(),
                          FieldText(window->camera.cameraName).c_str());
    SwitchWindow(self, *window, false);
    return 1;
}
