#pragma once
// The HMI plug-in object: it opens the view by loading the UI library and hands it the CCTV
// reference data and the table of plug-in functions, which then read and change the CCTV tables.
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "CScdCsi.h"
#include "CVGPlugInCore.h"
#include "NxWin.h"
#include "cctv_records.h"

class Logger;

constexpr int kMaxStations = 260;
constexpr int kPositionCount = 6;  // operator positions with their own UI block
constexpr int kDllNameSize = 32;
constexpr int kDecoderGroups = 7;
constexpr int kDecodersPerGroup = 8;

class CPlugOrvex : public CVGPlugInCore {
public:
    CPlugOrvex();
    ~CPlugOrvex() override;

    int32_t OpenView(CVGHostWindow* parent, int32_t left, int32_t top, int32_t right,
                     int32_t bottom, int32_t arg6, int32_t arg7, int32_t arg8) override;
    int32_t HostSlot2(int32_t, int32_t, int32_t, int32_t) override { return 1; }
    void HostSlot3(int32_t, int32_t, int32_t, int32_t, int32_t) override {}
    int32_t HostSlot4(int32_t, int32_t) override { return 1; }
    int32_t HostSlot5() override { return 0; }
    int32_t HostSlot6() override { return 0; }

    Logger& Log() { return *m_log; }
    // The camera selection block passed to CCTV_SelectCam.
    struct Selection {
        unsigned char line = 0, station = 0, division = 0, window = 0, extra1 = 0, extra2 = 0;
    };

    // State shared with the exported functions of store/ and camera/.
    std::vector<int> m_tourIndexList;
    std::unique_ptr<Logger> m_log;
    CScdCsi m_csi;
    int32_t m_ptzLevel = 0;
    int32_t m_stationCount = 0;
    GroupEntry m_groups[kMaxStations] = {};
    std::vector<camera_info> m_groupCameras;
    std::vector<camera_Desc> m_groupResult;  // handed out by UpdateCamerasByGroup, owned here
    int32_t m_placement = 0;
    HMODULE m_uiLibrary = nullptr;
    init_param m_positionBlocks[kPositionCount] = {};
    DispatcherMonitorInfo m_positionInfo[kPositionCount] = {};
    int32_t m_positionTable[15] = {};
    DispatchTable m_dispatch = {};
    PlugInApiTable m_api = {};
    StationRow m_stations[kMaxStations] = {};
    MonitorRow m_monitors[NX_MONITOR_ROWS] = {};
    std::vector<CameraRow> m_sipCameraRows;
    CameraList m_sipCameras = {};
    NxWindowHandle m_parentWindow = 0;
    char m_dllName[kDllNameSize] = {};
    bool m_dllNameRefused = false;  // the configured name does not fit m_dllName
    int32_t m_bgConsistent = 0;
    uint32_t m_background = 0;
    uint8_t m_metro = 0;
    std::list<_FavoriteInfo> m_favorites;
    std::list<_DisplayModeInfo> m_displayModes;
    DispatcherMonitorInfo m_current = {};
    std::vector<Zone1Row> m_zone1Rows;
    std::vector<Zone2Row> m_zone2Rows;
    ZoneInfo m_zoneInfo = {};
    int32_t m_curCamera = 0;
    int32_t m_curMonitor = 0;
    uint8_t m_newSelection = 1;
    uint8_t m_screenSwitch = 0;
    std::vector<TourRow> m_tourRows;
    TourList m_tours = {};
    std::vector<TourCameraRow> m_tourCameraRows;
    TourCameraList m_tourCameras = {};
    char m_decoderPoints[kDecoderGroups][kDecodersPerGroup][48] = {};
    Selection m_selection;
    std::vector<StationRow> m_sipGrpRows;  // the station copy handed to the UI library
    StationList m_sipGrpArr = {};
    // What failed, and why, in the last read of each reference list; empty when it was read.
    std::string m_referenceProblem, m_stationProblem, m_cameraProblem;
    std::string ConfigProblem() const;  // the first of them, empty when every list was read

    // Host-facing steps, also used by the tests. The loads return false when their select
    // failed (not when it found nothing) and note why in their problem text.
    void ReadSettings();
    bool LoadReference();
    bool LoadStations();
    bool LoadSipCameras();
    // Reads every reference list again (ReadConfiguration); true when all were read.
    bool ReloadReference();
    void FillApiTable();
    void ShareStations();  // m_sipGrpArr: a copy of the station rows read
    void CloseUiLibrary();
    bool LoadUiLibrary();
    void ShowForm(const CVGHostWindow& parent, int32_t left, int32_t top, int32_t right,
                  int32_t bottom, GroupNameList& grpArr);
    template <typename Fn>
    Fn UiExport(const char* name) const {
        return m_uiLibrary ? reinterpret_cast<Fn>(GetProcAddress(m_uiLibrary, name)) : nullptr;
    }
};

// Loading of the level-scoped lists, shared by UpdateUiState and UpdateTourInfo.
void LoadPositionDisplays(CPlugOrvex& self);
void LoadTours(CPlugOrvex& self);
