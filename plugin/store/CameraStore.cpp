// Camera and monitor rows kept in step with the video platform's catalogue.
#include <ctime>

#include "Logger.h"
#include "PlugInApi.h"
#include "PlugOrvex.h"
#include "SqlText.h"
#include "StoreSteps.h"

namespace {

constexpr const char* kInsertCamera =
    "INSERT INTO NXMODEL.TB6003_CAMERAINFO "
    "(F6003_IP,F6003_LINE,F6003_STATION,F6001_ZONE1NO,F6002_ZONE2NO,F6003_DEVTYPE,F6003_"
    "CAMERANAME,F6003_CAMERAGB,F6003_STATUS,F6003_UPDATETIME) \t\t\t\t   \tVALUES('%s',%d,%d,%"
    "d,%d,%d,'%s','%s',%d,%lld)";
constexpr const char* kUpdateCamera =
    "UPDATE NXMODEL.TB6003_CAMERAINFO SET "
    "F6003_IP='%s',F6003_LINE=%d,F6003_STATION=%d,F6001_ZONE1NO=%d,F6002_ZONE2NO=%d,\t\t\t\t\tF6"
    "003_DEVTYPE=%d,F6003_CAMERANAME='%s',F6003_STATUS=%d,F6003_UPDATETIME=%lld WHERE "
    "F6003_CAMERAGB='%s'";

long long Now() {
    return static_cast<long long>(std::time(nullptr));
}

std::string UpdateStatement(const CameraRow& c) {
    return SqlFormat(kUpdateCamera, c.F6003_IP, c.F6003_LINE, c.F6003_STATION, c.F6001_ZONE1NO,
                     c.F6002_ZONE2NO, c.F6003_DEVTYPE, c.F6003_CAMERANAME, c.F6003_STATUS, Now(),
                     c.F6003_CAMERAGB);
}

bool CodeIsStored(const CameraRow& c) {
    SqlQuery query;
    return query.Open(SqlFormat("select F6003_CAMERAGB from NXMODEL.dbo.TB6003_CAMERAINFO "
                                "where F6003_CAMERAGB='%s'",
                                c.F6003_CAMERAGB)) &&
           query.Rows() > 0;
}

}  // namespace

extern "C" NX_EXPORT void AddCameraInfo(CameraRow* camera, void* plugIn) {
    if (!plugIn)
        return;
    auto& self = *static_cast<CPlugOrvex*>(plugIn);
    if (!camera) {
        self.Log().printTime3("[CameraInfoAdd] no camera record");
        return;
    }
    const CameraRow& c = *camera;
    const std::string insert = SqlFormat(
        kInsertCamera, c.F6003_IP, c.F6003_LINE, c.F6003_STATION, c.F6001_ZONE1NO, c.F6002_ZONE2NO,
        c.F6003_DEVTYPE, c.F6003_CAMERANAME, c.F6003_CAMERAGB, c.F6003_STATUS, Now());
    const SqlResult added = SqlExecute(insert);
    if (added.ok)
        return;
    // A code already stored (under another line or station) is brought up to date instead of
    // failing on the unique key. New codes, the usual case, cost the one insert.
    if (CodeIsStored(c)) {
        ExecuteOrLog(self, UpdateStatement(c), "[CameraInfoModify] error,cmdbuf:%s ");
        return;
    }
    LogFailedStatement(self, "[CameraInfoAdd] error,cmdbuf:%s ", insert, added.reason);
}

extern "C" NX_EXPORT void ModifyCameraInfo(CameraRow* camera, void* plugIn) {
    if (!plugIn)
        return;
    auto& self = *static_cast<CPlugOrvex*>(plugIn);
    if (!camera) {
        self.Log().printTime3("[CameraInfoModify] no camera record");
        return;
    }
    ExecuteOrLog(self, UpdateStatement(*camera), "[CameraInfoModify] error,cmdbuf:%s ");
}

extern "C" NX_EXPORT void RemoveCameraInfo(void* plugIn) {
    if (!plugIn)
        return;
    ExecuteOrLog(*static_cast<CPlugOrvex*>(plugIn), "DELETE FROM NXMODEL.TB6003_CAMERAINFO",
                 "[CameraInfoRemove] error,cmdbuf:%s ");
}

extern "C" NX_EXPORT void ModifyMonitor(MonitorList* monitors, void* plugIn) {
    if (!plugIn)
        return;
    auto& self = *static_cast<CPlugOrvex*>(plugIn);
    if (!monitors) {
        self.Log().printTime3("[MonitorModify] no monitor list");
        return;
    }
    if (monitors->count <= 0)
        return;
    if (!monitors->rows) {
        self.Log().printTime3("[MonitorModify] %d rows announced, none given", monitors->count);
        return;
    }
    SqlQuery query;
    CNX_DBOption command;
    for (int i = 0; i < monitors->count; ++i) {
        const MonitorRow& row = monitors->rows[i];
        const std::string select = SqlFormat(
            "SELECT * FROM NXMODEL.TB6011_MONITOR WHERE F6011_DECODER='%s'", row.F6004_DECODER);
        bool found = false;
        if (!query.Open(select))
            self.Log().printTime3("[MonitorModify] select error,cmdbuf:%s%s", select.c_str(),
                                  query.Reason().c_str());
        else
            found = query.Rows() > 0;
        std::string sql;
        const char* failure;
        if (found) {
            sql = SqlFormat(
                "UPDATE NXMODEL.TB6011_MONITOR SET F6011_MONITOR='%s' WHERE "
                "F6011_DECODER='%s'",
                row.F6004_MONITOR, row.F6004_DECODER);
            failure = "[MonitorModify] update error,cmdbuf:%s ";
        } else {
            sql = SqlFormat(
                "INSERT INTO NXMODEL.TB6011_MONITOR (F6011_MONITOR,F6011_DECODER) "
                "VALUES ('%s','%s')",
                row.F6004_MONITOR, row.F6004_DECODER);
            failure = "[MonitorModify] insert error,cmdbuf:%s ";
        }
        ExecuteOrLog(self, command, sql, failure);
        query.Close();
    }
}
