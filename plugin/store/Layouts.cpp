#include "Layouts.h"

#include "Logger.h"
#include "SqlText.h"
#include "StoreSteps.h"

namespace {

std::string StationColumn(int screen) {
    return SqlFormatRaw("F6005_SCR%dSTANAME", screen);
}
std::string CodeColumn(int screen) {
    return SqlFormatRaw("F6005_SCR%dCAMERAGB", screen);
}

std::string InsertLayoutStatement(const MonitorLayout& layout) {
    std::string sql = "INSERT INTO NXMODEL.dbo.TB6005_CCTVGBMON (F6005_SCREENCOUNT";
    for (int i = 1; i <= NX_STORED_SCREENS; ++i)
        sql += "," + StationColumn(i) + "," + CodeColumn(i);
    sql += ") VALUES (" + SqlFormat("%d", layout.F6005_SCREENCOUNT);
    for (int i = 0; i < NX_STORED_SCREENS; ++i) {
        const ScreenCamera& s = layout.screens[i];
        sql += ScreenIsSet(s) ? SqlFormat(",'%s','%s'", s.stationName, s.cameraCode)
                              : std::string(",null,null");
    }
    return sql + ");";
}

std::string UpdateLayoutStatement(const MonitorLayout& layout, int number) {
    std::string sql = SqlFormat("UPDATE NXMODEL.dbo.TB6005_CCTVGBMON SET F6005_SCREENCOUNT=%d",
                                layout.F6005_SCREENCOUNT);
    for (int i = 0; i < NX_STORED_SCREENS; ++i) {
        const ScreenCamera& s = layout.screens[i];
        const std::string station = StationColumn(i + 1);
        const std::string code = CodeColumn(i + 1);
        sql += ScreenIsSet(s)
                   ? SqlFormat(", %s='%s',%s='%s'", station, s.stationName, code, s.cameraCode)
                   : SqlFormat(", %s=null,%s=null", station, code);
    }
    return sql + SqlFormat(" WHERE F6005_NO=%d", number);
}

bool Lock(CPlugOrvex& self, CNX_DBOption& db, const char* table, const char* operation) {
    if (db.BeginTableTransaction(table) == 1)
        return true;
    self.Log().printTime1("[%s] >>> cannot lock %s: %s", operation, table, db.GetLastErrorText());
    return false;
}

void ReadCameraName(CPlugOrvex& self, ScreenCamera& screen) {
    const std::string code = FieldText(screen.cameraCode);
    SqlQuery query;
    if (query.Open(SqlFormat("select F6003_CAMERANAME from %s.dbo.%s where F6003_CAMERAGB='%s'",
                             "NXMODEL", "TB6003_CAMERAINFO", code)) &&
        query.Rows() > 0) {
        CopyText(screen.cameraName, query.Text(0, 0).c_str(), 39);
        return;
    }
    self.Log().printTime3(
        "[getCameraNameByGB] : failed to find record in TB6003_CAMERAINFO by gb %s%s", code.c_str(),
        query.Reason().c_str());
}

}  // namespace

bool ScreenIsSet(const ScreenCamera& screen) {
    return screen.cameraCode[0] != '\0';
}

void TerminateScreen(ScreenCamera& s) {
    BoundField(s.cameraCode);
    BoundField(s.pointCode);
    BoundField(s.cameraName);
    BoundField(s.stationName);
}

int InsertLayout(CPlugOrvex& self, const MonitorLayout& layout) {
    CNX_DBOption db;
    if (!Lock(self, db, "NXMODEL.dbo.TB6005_CCTVGBMON", "insertItem_MonitorInfo"))
        return 0;
    const std::string sql = InsertLayoutStatement(layout);
    self.Log().printTime3("[insertItem_MonitorInfo] >>> SQL: %s", sql.c_str());
    const SqlResult insert = SqlExecute(db, sql);
    if (!insert.ok) {
        self.Log().printTime1(
            "[insertItem_MonitorInfo] >>> failed to dboption.ExecuteCmd, err = %d reason: %s", 0,
            insert.reason.c_str());
        return 0;
    }
    std::string reason;
    const int number =
        ReadRowNumber(db, "select max(F6005_NO) FROM NXMODEL.dbo.TB6005_CCTVGBMON", &reason);
    if (number <= 0) {
        self.Log().printTime1("[insertItem_MonitorInfo] >>> no recorder is found%s",
                              reason.c_str());
        return 0;
    }
    return CommitOrLog(self, db, "insertItem_MonitorInfo") ? number : 0;
}

LayoutUpdate UpdateLayout(CPlugOrvex& self, const MonitorLayout& layout, int number) {
    const std::string sql = UpdateLayoutStatement(layout, number);
    const SqlResult update = SqlExecute(sql);
    if (!update.ok) {
        LogFailedStatement(self, "[updateItem_MonitorInfo] >>> update failed: %s", sql,
                           update.reason);
        return LayoutUpdate::Failed;
    }
    if (update.changed == 0) {
        self.Log().printTime1("[updateItem_MonitorInfo] >>> no recorder is found (No=%d)", number);
        return LayoutUpdate::Missing;
    }
    return LayoutUpdate::Updated;
}

int StoreCurrentMonitor(CPlugOrvex& self, int layoutNo) {
    const int level = self.m_ptzLevel;
    CNX_DBOption db;
    if (!Lock(self, db, "NXMODEL.dbo.TB6008_CCTVCURMON", "updateItem_MonitorInfo"))
        return 0;
    SqlQuery query(db);
    if (!query.Open(SqlFormat(
            "SELECT * FROM NXMODEL.dbo.TB6008_CCTVCURMON WHERE F0101_PTZPLEVEL =%d ", level))) {
        self.Log().printTime1("[updateItem_MonitorInfo] >>> cannot read the current monitor:%s",
                              query.Reason().c_str());
        return 0;
    }
    const bool present = query.Rows() > 0;
    query.Close();
    const std::string sql = present
                                ? SqlFormat(
                                      "UPDATE NXMODEL.TB6008_CCTVCURMON SET F6005_NO = %d WHERE "
                                      "F0101_PTZPLEVEL = %d;",
                                      layoutNo, level)
                                : SqlFormat(
                                      "INSERT INTO NXMODEL.TB6008_CCTVCURMON "
                                      "(F0101_PTZPLEVEL,F6005_NO) VALUES (%d,%d);",
                                      level, layoutNo);
    if (!ExecuteOrLog(self, db, sql, "[updateItem_MonitorInfo] >>> failed: %s")) {
        return 0;
    }
    // The level's own row: the highest number may belong to another level.
    const std::string read = SqlFormat(
        "select F6008_NO from NXMODEL.dbo.TB6008_CCTVCURMON where F0101_PTZPLEVEL=%d", level);
    std::string reason;
    const int number = ReadRowNumber(db, read.c_str(), &reason);
    if (number <= 0) {
        self.Log().printTime1("[updateItem_MonitorInfo] >>> no recorder is found%s",
                              reason.c_str());
        return 0;
    }
    return CommitOrLog(self, db, "updateItem_MonitorInfo") ? number : 0;
}

void ReadLayout(CPlugOrvex& self, DispatcherMonitorInfo& display) {
    MonitorLayout& layout = display.layout;
    const int number = layout.F6005_NO;
    layout = MonitorLayout{};
    layout.F6005_NO = number;
    std::string sql = "select F6005_SCREENCOUNT";
    for (int i = 1; i <= NX_STORED_SCREENS; ++i)
        sql += "," + StationColumn(i) + "," + CodeColumn(i);
    sql += SqlFormat(" from %s.dbo.%s where F6005_NO=%d", "NXMODEL", "TB6005_CCTVGBMON", number);
    SqlQuery query;
    if (!query.Open(sql) || query.Rows() <= 0) {
        self.Log().printTime3(
            "[getMonitorInfoItem] : failed to find record (No=%d) in table TB6005_CCTVGBMON%s",
            number, query.Reason().c_str());
        return;
    }
    const int count = query.Int(0, 0);
    layout.F6005_SCREENCOUNT =
        count < 0 ? 0 : (count > NX_STORED_SCREENS ? NX_STORED_SCREENS : count);
    const int screens = (display.windowMode == 8 || layout.F6005_SCREENCOUNT > 4) ? 8 : 4;
    for (int i = 0; i < screens; ++i) {
        ScreenCamera& s = layout.screens[i];
        CopyText(s.stationName, query.Text(0, 1 + 2 * i).c_str(), 39);
        CopyText(s.cameraCode, query.Text(0, 2 + 2 * i).c_str(), 23);
    }
    for (int i = 0; i < screens; ++i)
        if (ScreenIsSet(layout.screens[i]))
            ReadCameraName(self, layout.screens[i]);
}
