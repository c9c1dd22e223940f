#include "PlugOrvex.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "CReadConf.h"
#include "Logger.h"
#include "PlugInApi.h"
#include "qrole.h"
#include "store/SqlText.h"

namespace {

constexpr const char* kSettingsSection = "General";

void ReadPtzLevel(CPlugOrvex& self) {
    char szRoleName[RBAC_TEXT_SIZE] = {};
    int nPLevel[3] = {0, 0, 0};
    RBAC_Initialize();
    AOJ_Initialize();
    RBAC_GetUserRoleDescription(nullptr, nullptr, 0, szRoleName);
    RBAC_GetRolePLevel(szRoleName, nPLevel);
    self.m_ptzLevel = nPLevel[1];
    self.Log().printTime2("Current ptz level: %d", self.m_ptzLevel);
}

// The debugger output of the original platform: shown only when asked for.
void DebugOutput(const char* text) {
    if (const char* on = std::getenv("NX_DEBUG_OUTPUT"); on && std::strcmp(on, "1") == 0)
        std::fputs(text, stderr);
}

__attribute__((constructor)) void OnLibraryAttach() {
    DebugOutput("in_Orvex.DLL Initializing!\n");
}
__attribute__((destructor)) void OnLibraryDetach() {
    DebugOutput("in_Orvex.DLL Terminating!\n");
}

uint32_t PackColour(long red, long green, long blue) {
    return (static_cast<uint32_t>(red) & 0xFF) | ((static_cast<uint32_t>(green) & 0xFF) << 8) |
           ((static_cast<uint32_t>(blue) & 0xFF) << 16);
}

}  // namespace

CPlugOrvex::CPlugOrvex() : m_log(new Logger(LogOptions::plugIn())) {
    m_csi.SetSink([this](const std::string& line) { m_log->printTime2("%s", line.c_str()); });
    ReadPtzLevel(*this);
    LoadReference();
    ReadSettings();
}

CPlugOrvex::~CPlugOrvex() {
    m_groupCameras.clear();
    CloseUiLibrary();
    m_log.reset();
}

void CPlugOrvex::CloseUiLibrary() {
    if (!m_uiLibrary)
        return;
    if (auto close = UiExport<CloseDialogFn>("CloseDialog"))
        close(m_parentWindow);
    FreeLibrary(m_uiLibrary);
    m_uiLibrary = nullptr;
}

namespace {

// Notes a failed read of a reference list: the operator is told about it.
bool ReadFailed(CPlugOrvex& self, std::string& problem, const char* list, const SqlQuery& query) {
    self.Log().printTime1("[LoadReference] %s not read:%s", list, query.Reason().c_str());
    problem = std::string(list) + " not read:" + query.Reason();
    return false;
}

}  // namespace

std::string CPlugOrvex::ConfigProblem() const {
    for (const std::string* problem : {&m_referenceProblem, &m_stationProblem, &m_cameraProblem})
        if (!problem->empty())
            return *problem;
    return std::string();
}

bool CPlugOrvex::LoadReference() {
    m_referenceProblem.clear();
    m_zone1Rows.clear();
    m_zone2Rows.clear();
    m_zoneInfo = ZoneInfo{};
    std::memset(m_monitors, 0, sizeof m_monitors);
    SqlQuery zone1;
    if (!zone1.Open("select * from NXMODEL.TB6001_ZONE1INFO order by F6000_TYPE"))
        return ReadFailed(*this, m_referenceProblem, "trains (TB6001_ZONE1INFO)", zone1);
    if (zone1.Rows() <= 0)
        return true;
    m_zone1Rows.assign(static_cast<std::size_t>(zone1.Rows()), Zone1Row{});
    for (int r = 0; r < zone1.Rows(); ++r) {
        Zone1Row& row = m_zone1Rows[static_cast<std::size_t>(r)];
        row.F6000_TYPE = zone1.Int(r, 0);
        row.F6001_ZONE1NO = zone1.Int(r, 1);
        CopyText(row.F6001_ZONE1NAME, zone1.Text(r, 2).c_str(), 39);
    }
    m_zoneInfo.zone1Count = static_cast<int32_t>(m_zone1Rows.size());
    m_zoneInfo.zone1 = m_zone1Rows.data();

    SqlQuery zone2;
    if (!zone2.Open("select * from NXMODEL.TB6002_ZONE2INFO"))
        return ReadFailed(*this, m_referenceProblem, "cars (TB6002_ZONE2INFO)", zone2);
    if (zone2.Rows() <= 0)
        return true;
    m_zone2Rows.assign(static_cast<std::size_t>(zone2.Rows()), Zone2Row{});
    for (int r = 0; r < zone2.Rows(); ++r) {
        Zone2Row& row = m_zone2Rows[static_cast<std::size_t>(r)];
        row.F6000_TYPE = zone2.Int(r, 0);
        row.F6001_ZONE1NO = zone2.Int(r, 1);
        row.F6002_ZONE2NO = zone2.Int(r, 2);
        CopyText(row.F6002_ZONE2NAME, zone2.Text(r, 3).c_str(), 39);
    }
    m_zoneInfo.zone2Count = static_cast<int32_t>(m_zone2Rows.size());
    m_zoneInfo.zone2 = m_zone2Rows.data();

    SqlQuery monitors;
    if (!monitors.Open(SqlFormat("select * from NXMODEL.TB6004_MONITORINFO where "
                                 "F0101_PTZPLEVEL=%d",
                                 m_ptzLevel)))
        return ReadFailed(*this, m_referenceProblem, "monitors (TB6004_MONITORINFO)", monitors);
    for (int r = 0; r < monitors.Rows() && r < NX_MONITOR_ROWS; ++r) {
        MonitorRow& row = m_monitors[r];
        CopyText(row.F6004_MONITOR, monitors.Text(r, 0).c_str(), 39);
        CopyText(row.F6004_DECODER, monitors.Text(r, 1).c_str(), 39);
        row.F6004_SCREENNO = monitors.Int(r, 2);
        row.F6004_WINDOWNO = monitors.Int(r, 3);
    }
    return true;
}

void CPlugOrvex::ReadSettings() {
    m_dispatch = DispatchTable{};
    std::memset(m_decoderPoints, 0, sizeof m_decoderPoints);
    std::memset(m_dllName, 0, sizeof m_dllName);
    m_dllNameRefused = false;
    const char* root = std::getenv("NXROOT");
    if (!root)
        return;
    const CReadConf conf(std::string(root) + "/cfg/Q7cctvUi_replay.ini");
    m_metro = static_cast<uint8_t>(conf.GetLong(kSettingsSection, "metro", "0") & 0xFF);
    m_bgConsistent = conf.GetBool(kSettingsSection, "bgConsistent", "0") ? 1 : 0;
    m_background = PackColour(conf.GetLong(kSettingsSection, "background_red", "0"),
                              conf.GetLong(kSettingsSection, "background_green", "0"),
                              conf.GetLong(kSettingsSection, "background_blue", "0"));
    const std::string name = conf.GetString(kSettingsSection, "uiLibrary", "");
    if (name.size() >= sizeof m_dllName) {
        m_dllNameRefused = true;
        Log().printTime2("[ReadSettings] uiLibrary too long (%zu characters, at most %zu): %s",
                         name.size(), sizeof m_dllName - 1, name.c_str());
        return;
    }
    CopyText(m_dllName, name.c_str());
}

bool CPlugOrvex::LoadStations() {
    m_stationProblem.clear();
    m_stationCount = 0;
    std::memset(m_groups, 0, sizeof m_groups);
    std::memset(m_stations, 0, sizeof m_stations);
    SqlQuery query;
    if (!query.Open(SqlFormat("select F6000_TYPE,F6000_NO,F6000_NAME from %s.dbo.%s where "
                              "F6000_TYPE=99",
                              "NXMODEL", "TB6000_STATIONINFO")))
        return ReadFailed(*this, m_stationProblem, "stations (TB6000_STATIONINFO)", query);
    for (int r = 0; r < query.Rows() && r < kMaxStations; ++r) {
        StationRow& row = m_stations[r];
        row.F6000_TYPE = query.Int(r, 0);
        row.F6000_NO = query.Int(r, 1);
        CopyText(row.F6000_NAME, query.Text(r, 2).c_str(), 39);
        m_stationCount = r + 1;
    }
    return true;
}

void CPlugOrvex::ShareStations() {
    m_sipGrpRows.assign(m_stations, m_stations + m_stationCount);
    m_sipGrpArr = StationList{m_stationCount, m_sipGrpRows.empty() ? nullptr : m_sipGrpRows.data()};
}

bool CPlugOrvex::LoadSipCameras() {
    m_cameraProblem.clear();
    m_sipCameraRows.clear();
    m_sipCameras = CameraList{};
    const std::string sql = SqlFormat(
        "select * from NXMODEL.dbo.TB6003_CAMERAINFO where F6003_LINE=%d and F6003_STATION=99",
        static_cast<int>(m_metro));
    SqlQuery query;
    if (!query.Open(sql)) {
        Log().printTime3("[GetSipCamera] error,cmdbuf:%s%s", sql.c_str(), query.Reason().c_str());
        return ReadFailed(*this, m_cameraProblem, "cameras (TB6003_CAMERAINFO)", query);
    }
    m_sipCameraRows.assign(static_cast<std::size_t>(query.Rows() > 0 ? query.Rows() : 0),
                           CameraRow{});
    for (int r = 0; r < query.Rows(); ++r) {
        CameraRow& row = m_sipCameraRows[static_cast<std::size_t>(r)];
        CopyText(row.F6003_IP, query.Text(r, 0).c_str(), 23);
        row.F6003_LINE = query.Int(r, 1);
        row.F6003_STATION = query.Int(r, 2);
        row.F6001_ZONE1NO = query.Int(r, 3);
        row.F6002_ZONE2NO = query.Int(r, 4);
        row.F6003_DEVTYPE = query.Int(r, 5);
        CopyText(row.F6003_CAMERANAME, query.Text(r, 6).c_str(), 255);
        CopyText(row.F6003_CAMERAGB, query.Text(r, 7).c_str(), 23);
        row.F6003_STATUS = query.Int(r, 8);
    }
    m_sipCameras.count = static_cast<int32_t>(m_sipCameraRows.size());
    m_sipCameras.rows = m_sipCameraRows.data();
    return true;
}

bool CPlugOrvex::ReloadReference() {
    // Every list is read even after a failure, so that what can be read is fresh.
    const bool reference = LoadReference();
    const bool stations = LoadStations();
    const bool cameras = LoadSipCameras();
    ShareStations();
    return reference && stations && cameras;
}

void CPlugOrvex::FillApiTable() {
    m_api =
        PlugInApiTable{::UpdateCamerasByGroup, ::UpdateScreenInfo,  ::AddDisplayMode,
                       ::ModifyDisplayMode,    ::RemoveDisplayMode, ::UpdateCurDisplayInfo,
                       ::AddFavorite,          ::UpdateFavorite,    ::RemoveFavorite,
                       ::OperateOnCamera,      ::ScanRoundMode,     ::UpdateScreenInfoByDevNumber,
                       ::UpdateUiState,        ::AddTourInfo,       ::ModifyTourInfo,
                       ::RemoveTourInfo,       ::UpdateTourInfo,    ::OperateTour,
                       ::AddCameraInfo,        ::ModifyCameraInfo,  ::RemoveCameraInfo,
                       ::ModifyMonitor,        ::ReadConfiguration};
}

bool CPlugOrvex::LoadUiLibrary() {
    if (m_dllNameRefused) {
        Log().printTime2("[OpenView] uiLibrary name refused, no UI library loaded");
        return false;
    }
    const std::string dllName = NxCompleteUiLibraryName(m_dllName);
    if (dllName.size() >= sizeof m_dllName) {
        Log().printTime2("[OpenView] uiLibrary name too long: %s", dllName.c_str());
        return false;
    }
    CopyText(m_dllName, dllName.c_str());
    m_uiLibrary = LoadLibraryA(m_dllName);
    if (!m_uiLibrary) {
        Log().printTime2("LoadLibrary failed, nError: %d ,m_dllName:%s ",
                         static_cast<int>(GetLastError()), m_dllName);
        return false;
    }
    Log().printTime2("LoadLibrary yes");
    return true;
}

void CPlugOrvex::ShowForm(const CVGHostWindow& parent, int32_t left, int32_t top, int32_t right,
                          int32_t bottom, GroupNameList& grpArr) {
    auto show = UiExport<ShowDialogFn>("ShowDialog");
    if (!show)
        return;
    // The host's rectangle counts y from the top, the page is placed from the bottom.
    uiParam placement{m_parentWindow,
                      m_placement,
                      left,
                      parent.GetWindowHeight() - bottom,
                      right - left,
                      bottom - top,
                      static_cast<int32_t>(m_background & 0xFF),
                      static_cast<int32_t>((m_background >> 8) & 0xFF),
                      static_cast<int32_t>((m_background >> 16) & 0xFF)};
    std::unique_ptr<init_param> block(new init_param{});
    block->apiTable = &m_api;
    block->grpArr = &grpArr;
    block->dispatchTable = &m_dispatch;
    block->sipGrpArr = &m_sipGrpArr;
    std::memcpy(block->monitorRows, m_monitors, sizeof m_monitors);
    block->sipCameras = &m_sipCameras;
    show(&placement, block.get(), &m_zoneInfo, m_positionBlocks, kPositionCount, this);
}

int32_t CPlugOrvex::OpenView(CVGHostWindow* parent, int32_t left, int32_t top, int32_t right,
                             int32_t bottom, int32_t, int32_t, int32_t) {
    if (!parent) {
        Log().printTime2("[OpenView] no parent window, view not opened");
        return 0;
    }
    // A second opening replaces the first form rather than leaving it without an owner.
    CloseUiLibrary();
    m_parentWindow = parent->GetSafeHwnd();
    m_curCamera = 0;
    m_curMonitor = 0;
    m_newSelection = 1;
    FillApiTable();
    LoadStations();
    LoadSipCameras();

    std::vector<GroupName> grpNames(static_cast<std::size_t>(m_stationCount));
    for (int i = 0; i < m_stationCount; ++i)
        CopyText(grpNames[static_cast<std::size_t>(i)], m_groups[i].name, 39);
    GroupNameList grpArr{m_stationCount, grpNames.empty() ? nullptr : grpNames.data()};
    ShareStations();

    if (!LoadUiLibrary())
        return 0;
    ShowForm(*parent, left, top, right, bottom, grpArr);
    return 1;
}

extern "C" NX_EXPORT CVGPlugInCore* CreatePlugIn(int32_t) {
    return new (std::nothrow) CPlugOrvex();
}

extern "C" NX_EXPORT int32_t UpdateUiState(void* plugIn) {
    if (!plugIn)
        return 0;
    auto& self = *static_cast<CPlugOrvex*>(plugIn);
    LoadPositionDisplays(self);
    auto refresh = self.UiExport<AutoRefreshFn>("AutoRefresh");
    if (!refresh)
        return 0;
    for (int i = 0; i < kPositionCount; ++i) {
        init_param& block = self.m_positionBlocks[i];
        block.apiTable = &self.m_api;
        block.grpArr = nullptr;
        block.dispatchTable = &self.m_dispatch;
        block.monitorInfo = &self.m_positionInfo[i];
        std::memset(block.reserved16, 0, sizeof block.reserved16);
    }
    return refresh(self.m_positionBlocks, kPositionCount, self.m_parentWindow) ? 1 : 0;
}

extern "C" NX_EXPORT int32_t UpdateTourInfo(void* plugIn) {
    if (!plugIn)
        return 0;
    auto& self = *static_cast<CPlugOrvex*>(plugIn);
    auto refresh = self.UiExport<AutoRefreshTourFn>("AutoRefreshTour");
    if (!refresh)
        return 0;
    LoadTours(self);
    std::unique_ptr<init_param> block(new init_param{});
    block->tourList = &self.m_tours;
    block->tourCameraList = &self.m_tourCameras;
    return refresh(block.get(), self.m_parentWindow) ? 1 : 0;
}

extern "C" NX_EXPORT int32_t ReadConfiguration(init_param* data, ZoneInfo* zones, char* problem,
                                               int32_t problemSize, void* plugIn) {
    if (!plugIn)
        return 0;
    auto& self = *static_cast<CPlugOrvex*>(plugIn);
    if ((data == nullptr) != (zones == nullptr)) {
        self.Log().printTime2("[ReadConfiguration] refused: give both blocks or neither");
        return 0;
    }
    if (data) {
        self.Log().printTime2("[ReadConfiguration] reading the reference lists again");
        self.ReloadReference();
        self.FillApiTable();
        data->apiTable = &self.m_api;
        data->grpArr = nullptr;
        data->dispatchTable = &self.m_dispatch;
        data->sipGrpArr = &self.m_sipGrpArr;
        std::memcpy(data->monitorRows, self.m_monitors, sizeof self.m_monitors);
        data->sipCameras = &self.m_sipCameras;
        *zones = self.m_zoneInfo;
    }
    const std::string text = self.ConfigProblem();
    if (problem && problemSize > 0) {
        const std::size_t n =
            GbkFit(text.data(), text.size(), static_cast<std::size_t>(problemSize) - 1);
        std::memcpy(problem, text.data(), n);
        problem[n] = '\0';
    }
    return text.empty() ? 1 : 0;
}
