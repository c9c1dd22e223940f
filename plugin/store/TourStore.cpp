// Tours of the operator's PTZ level and their cameras.
#include "Logger.h"
#include "PlugInApi.h"
#include "PlugOrvex.h"
#include "SqlText.h"
#include "StoreSteps.h"
#include "TourIndex.h"

namespace {

constexpr const char* kInsertTour =
    "INSERT INTO NXMODEL.dbo.TB6009_CCTVTOURINFO (F6009_TOURINDEX,F6009_TOURDESC,"
    "\t\t\tF6009_TIMESPACE,F0101_PTZPLEVEL) VALUES(%d,'%s',%d,%d)";
constexpr const char* kAddTourCamera =
    "INSERT INTO NXMODEL.dbo.TB6010_TOURGBCAMERA (F6009_TOURINDEX,"
    "\t\t\t\tF6010_STANAME,F6003_CAMERANAME,F6003_CAMERAGB,F6010_CAMERAINDEX) "
    "\t\t\t\tVALUES (%d,'%s','%s','%s',%d)";
constexpr const char* kModifyTourCamera =
    "INSERT INTO NXMODEL.dbo.TB6010_TOURGBCAMERA (F6009_TOURINDEX,"
    "\t\t\t\t\t\t F6010_STANAME,F6003_CAMERANAME,F6003_CAMERAGB,F6010_CAMERAINDEX) "
    "\t\t\t\t\t\tVALUES(%d,'%s','%s','%s',%d)";
constexpr const char* kDeleteTourCameras =
    "DELETE FROM NXMODEL.dbo.TB6010_TOURGBCAMERA WHERE F6009_TOURINDEX=%d";

bool ReadTourIndices(CPlugOrvex& self, std::vector<int>& indices, bool& anyRow) {
    SqlQuery query;
    if (!query.Open("select F6009_TOURINDEX from NXMODEL.dbo.TB6009_CCTVTOURINFO order by "
                    "F6009_TOURINDEX")) {
        self.Log().printTime3("[TourInfoAdd] tour indices not read:%s", query.Reason().c_str());
        return false;
    }
    anyRow = query.Rows() > 0;
    if (!anyRow)
        return true;
    indices.clear();
    for (int r = 0; r < query.Rows(); ++r)
        indices.push_back(query.Int(r, 0));
    return true;
}

// Only a tour that exists for this level may have its cameras touched: the camera table has no
// level column, so another level's tour with the same index would lose its cameras.
bool TourOfLevelExists(int tourIndex, int level) {
    SqlQuery query;
    return query.Open(SqlFormat("select F6009_TOURINDEX from NXMODEL.dbo.TB6009_CCTVTOURINFO "
                                "where F6009_TOURINDEX=%d and F0101_PTZPLEVEL=%d",
                                tourIndex, level)) &&
           query.Rows() > 0;
}

bool CameraListUsable(CPlugOrvex& self, const TourCameraList& cameras, const char* operation) {
    if (cameras.count > 0 && !cameras.rows) {
        self.Log().printTime3("[%s] %d cameras announced, none given", operation, cameras.count);
        return false;
    }
    return true;
}

void InsertCameras(CPlugOrvex& self, CNX_DBOption& db, const char* format, int tourIndex,
                   const TourCameraList& cameras, bool useRowIndex, const char* failure) {
    for (int i = 0; i < cameras.count; ++i) {
        const TourCameraRow& cam = cameras.rows[i];
        const std::string sql =
            SqlFormat(format, useRowIndex ? cam.F6009_TOURINDEX : tourIndex, cam.F6010_STANAME,
                      cam.F6003_CAMERANAME, cam.F6003_CAMERAGB, cam.F6010_CAMERAINDEX);
        ExecuteOrLog(self, db, sql, failure);
    }
}

}  // namespace

extern "C" NX_EXPORT void AddTourInfo(TourRow* tour, TourCameraList* cameras, void* plugIn) {
    if (!plugIn)
        return;
    auto& self = *static_cast<CPlugOrvex*>(plugIn);
    if (!tour || !cameras) {
        self.Log().printTime3("[TourInfoAdd] no tour or camera list");
        return;
    }
    if (!CameraListUsable(self, *cameras, "TourInfoAdd"))
        return;
    CNX_DBOption db;
    // The index is chosen from the rows present, so nobody may add a tour in between: without
    // the lock nothing is written.
    if (db.BeginTableTransaction("NXMODEL.dbo.TB6009_CCTVTOURINFO") != 1) {
        self.Log().printTime3("[TourInfoAdd] cannot lock TB6009_CCTVTOURINFO, no tour added: %s",
                              db.GetLastErrorText());
        return;
    }
    bool anyRow = false;
    if (!ReadTourIndices(self, self.m_tourIndexList, anyRow))
        return;
    const int index = anyRow ? FirstFreeTourIndex(self.m_tourIndexList) : 1;
    const std::string head =
        SqlFormat(kInsertTour, index, tour->F6009_TOURDESC, tour->F6009_TIMESPACE, self.m_ptzLevel);
    if (!ExecuteOrLog(self, db, head, "[TourInfoAdd] failed: %s")) {
        return;  // cameras without their tour head would belong to no tour of this level
    }
    // The index is taken once the head is in; each camera then stands on its own, so one
    // failed camera does not undo the tour or the other cameras. A head that did not commit
    // has no index to put cameras under.
    if (!CommitOrLog(self, db, "TourInfoAdd"))
        return;
    InsertCameras(self, db, kAddTourCamera, index, *cameras, false,
                  "[TourInfoAdd] insert camera failed:%s");
}

extern "C" NX_EXPORT void ModifyTourInfo(TourRow* tour, TourCameraList* cameras, void* plugIn) {
    if (!plugIn)
        return;
    auto& self = *static_cast<CPlugOrvex*>(plugIn);
    if (!tour || !cameras) {
        self.Log().printTime3("[TourInfoModify] no tour or camera list");
        return;
    }
    if (!CameraListUsable(self, *cameras, "TourInfoModify"))
        return;
    CNX_DBOption db;
    ExecuteOrLog(self, db,
                 SqlFormat("UPDATE NXMODEL.dbo.TB6009_CCTVTOURINFO SET "
                           "F6009_TOURDESC='%s',F6009_TIMESPACE=%d \t\t\t\t\t\t\tWHERE "
                           "F6009_TOURINDEX=%d AND F0101_PTZPLEVEL=%d",
                           tour->F6009_TOURDESC, tour->F6009_TIMESPACE, tour->F6009_TOURINDEX,
                           self.m_ptzLevel),
                 "[TourInfoModify] failed: %s");
    if (!TourOfLevelExists(tour->F6009_TOURINDEX, self.m_ptzLevel)) {
        self.Log().printTime3("[TourInfoModify] tour %d is not a tour of level %d",
                              tour->F6009_TOURINDEX, self.m_ptzLevel);
        return;
    }
    const std::string remove = SqlFormat(kDeleteTourCameras, tour->F6009_TOURINDEX);
    if (!ExecuteOrLog(self, db, remove, "[TourInfoModify] failed: %s")) {
        return;  // the old cameras are still there; adding the new ones would mix both lists
    }
    InsertCameras(self, db, kModifyTourCamera, tour->F6009_TOURINDEX, *cameras, false,
                  "[TourInfoModify] insert camera failed:%s");
}

extern "C" NX_EXPORT void RemoveTourInfo(int32_t tourIndex, void* plugIn) {
    if (!plugIn || tourIndex < 0)
        return;
    auto& self = *static_cast<CPlugOrvex*>(plugIn);
    if (!TourOfLevelExists(tourIndex, self.m_ptzLevel))
        return;
    CNX_DBOption db;
    ExecuteOrLog(self, db,
                 SqlFormat("DELETE FROM NXMODEL.dbo.TB6009_CCTVTOURINFO WHERE "
                           "F6009_TOURINDEX=%d AND F0101_PTZPLEVEL=%d",
                           tourIndex, self.m_ptzLevel),
                 "[TourInfoRemove] failed: %s");
    ExecuteOrLog(self, db, SqlFormat(kDeleteTourCameras, tourIndex), "[TourInfoRemove] failed: %s");
}

void LoadTours(CPlugOrvex& self) {
    self.m_tourRows.clear();
    self.m_tourCameraRows.clear();
    SqlQuery tours;
    if (!tours.Open(SqlFormat("select * from NXMODEL.dbo.TB6009_CCTVTOURINFO where "
                              "F0101_PTZPLEVEL=%d order by F6009_TOURINDEX",
                              self.m_ptzLevel))) {
        self.Log().printTime3("[UpdateTourInfo] tours not read:%s", tours.Reason().c_str());
    } else {
        for (int r = 0; r < tours.Rows(); ++r) {
            TourRow row{};
            row.F6009_TOURINDEX = tours.Int(r, 0);
            CopyText(row.F6009_TOURDESC, tours.Text(r, 1).c_str(), 135);
            row.F6009_TIMESPACE = tours.Int(r, 2);
            self.m_tourRows.push_back(row);
        }
    }
    SqlQuery cameras;
    if (!cameras.Open("select * from NXMODEL.dbo.TB6010_TOURGBCAMERA order by F6010_CAMERAINDEX")) {
        self.Log().printTime3("[UpdateTourInfo] tour cameras not read:%s",
                              cameras.Reason().c_str());
    } else {
        for (int r = 0; r < cameras.Rows(); ++r) {
            TourCameraRow row{};
            row.F6009_TOURINDEX = cameras.Int(r, 0);
            CopyText(row.F6010_STANAME, cameras.Text(r, 1).c_str(), 79);
            CopyText(row.F6003_CAMERANAME, cameras.Text(r, 2).c_str(), 39);
            CopyText(row.F6003_CAMERAGB, cameras.Text(r, 3).c_str(), 39);
            row.F6010_CAMERAINDEX = cameras.Int(r, 4);
            self.m_tourCameraRows.push_back(row);
        }
    }
    self.m_tours = TourList{static_cast<int32_t>(self.m_tourRows.size()),
                            self.m_tourRows.empty() ? nullptr : self.m_tourRows.data()};
    self.m_tourCameras =
        TourCameraList{static_cast<int32_t>(self.m_tourCameraRows.size()),
                       self.m_tourCameraRows.empty() ? nullptr : self.m_tourCameraRows.data()};
}
