// Favourite cameras and display modes of the operator's PTZ level.
#include <iterator>

#include "Layouts.h"
#include "Logger.h"
#include "PlugInApi.h"
#include "SqlText.h"
#include "StoreSteps.h"

namespace {

// The number of the row just inserted, read inside the inserting transaction; 0 with a log
// line when there is none.
int ReadNumber(CPlugOrvex& self, CNX_DBOption& db, const char* sql, const char* operation) {
    std::string reason;
    const int number = ReadRowNumber(db, sql, &reason);
    if (number <= 0)
        self.Log().printTime3("[%s] no number read back%s", operation, reason.c_str());
    return number;
}

template <typename T>
typename std::list<T>::iterator At(std::list<T>& list, int32_t position) {
    if (position < 0 || static_cast<std::size_t>(position) >= list.size())
        return list.end();
    return std::next(list.begin(), position);
}

int InsertMode(CPlugOrvex& self, int layoutNo, const _DisplayModeInfo& mode) {
    CNX_DBOption db;
    if (db.BeginTableTransaction("NXMODEL.TB6006_CCTVMODEINFO") != 1) {
        self.Log().printTime3("[AddDisplayMode] cannot lock TB6006_CCTVMODEINFO: %s",
                              db.GetLastErrorText());
        return 0;
    }
    const std::string sql = SqlFormat(
        "INSERT INTO NXMODEL.dbo.TB6006_CCTVMODEINFO "
        "(F0101_PTZPLEVEL,F6005_NO,F6006_DESC) VALUES (%d,%d,'%s');",
        self.m_ptzLevel, layoutNo, mode.F6006_DESC);
    if (!ExecuteOrLog(self, db, sql, "[AddDisplayMode] insert failed: %s")) {
        return 0;
    }
    const int number = ReadNumber(self, db, "select max(F6006_NO) FROM NXMODEL.TB6006_CCTVMODEINFO",
                                  "AddDisplayMode");
    return number > 0 && CommitOrLog(self, db, "AddDisplayMode") ? number : 0;
}

}  // namespace

extern "C" NX_EXPORT int32_t AddFavorite(_FavoriteInfo* favorite, void* plugIn) {
    if (!plugIn)
        return 0;
    auto& self = *static_cast<CPlugOrvex*>(plugIn);
    if (!favorite) {
        self.Log().printTime3("[AddFavorite] no favourite record");
        return 0;
    }
    CNX_DBOption db;
    if (db.BeginTableTransaction("NXMODEL.dbo.TB6007_CCTVGBFAV") != 1) {
        self.Log().printTime3("[AddFavorite] cannot lock TB6007_CCTVGBFAV: %s",
                              db.GetLastErrorText());
        return 0;
    }
    const std::string sql = SqlFormat(
        "INSERT INTO NXMODEL.dbo.TB6007_CCTVGBFAV "
        "(F6003_CAMERAGB,F6007_DESC,F0101_PTZPLEVEL) VALUES "
        "('%s','%s',%d)",
        favorite->camera.cameraCode, favorite->F6007_DESC, self.m_ptzLevel);
    if (!ExecuteOrLog(self, db, sql, "InsertFavorite return Error. %s")) {
        return 0;
    }
    const int number = ReadNumber(
        self, db, "select max(F6007_NO) FROM NXMODEL.dbo.TB6007_CCTVGBFAV", "AddFavorite");
    if (number <= 0 || !CommitOrLog(self, db, "AddFavorite"))
        return 0;
    favorite->F6007_NO = number;
    _FavoriteInfo copy = *favorite;
    BoundField(copy.F6007_DESC);
    TerminateScreen(copy.camera);
    self.m_favorites.push_back(copy);
    return 1;
}

extern "C" NX_EXPORT int32_t UpdateFavorite(_FavoriteInfo* favorite, void* plugIn) {
    if (!plugIn)
        return 0;
    auto& self = *static_cast<CPlugOrvex*>(plugIn);
    if (!favorite || favorite->F6007_DESC[0] == '\0') {
        self.Log().printTime3("[UpdateFavorite] no favourite record or empty description");
        return 0;
    }
    for (_FavoriteInfo& entry : self.m_favorites) {
        if (entry.F6007_NO != favorite->F6007_NO)
            continue;
        const std::string sql =
            SqlFormat("UPDATE NXMODEL.dbo.TB6007_CCTVGBFAV SET F6007_DESC='%s' WHERE F6007_NO=%d",
                      favorite->F6007_DESC, favorite->F6007_NO);
        if (!ExecuteOrLog(self, sql, "Update_Favorite return Error. %s")) {
            return 0;
        }
        CopyField(entry.F6007_DESC, favorite->F6007_DESC);
        return 1;
    }
    return 1;
}

extern "C" NX_EXPORT int32_t RemoveFavorite(int32_t position, void* plugIn) {
    if (!plugIn)
        return 0;
    auto& self = *static_cast<CPlugOrvex*>(plugIn);
    auto it = At(self.m_favorites, position);
    if (it == self.m_favorites.end()) {
        self.Log().printTime3("[RemoveFavorite] position %d outside the %zu favourites", position,
                              self.m_favorites.size());
        return 0;
    }
    const std::string sql =
        SqlFormat("DELETE FROM NXMODEL.dbo.TB6007_CCTVGBFAV WHERE F6007_NO=%d", it->F6007_NO);
    if (!ExecuteOrLog(self, sql, "[RemoveFavorite] failed: %s")) {
        return 0;  // kept in the list: the row is still there
    }
    self.m_favorites.erase(it);
    return 1;
}

extern "C" NX_EXPORT int32_t AddDisplayMode(_DisplayModeInfo* mode, void* plugIn) {
    if (!plugIn)
        return 0;
    auto& self = *static_cast<CPlugOrvex*>(plugIn);
    if (!mode) {
        self.Log().printTime3("[AddDisplayMode] no display mode record");
        return 0;
    }
    for (ScreenCamera& screen : mode->layout.screens)
        TerminateScreen(screen);
    const int layoutNo = InsertLayout(self, mode->layout);
    if (layoutNo <= 0)
        return 0;
    mode->layout.F6005_NO = layoutNo;
    const int modeNo = InsertMode(self, layoutNo, *mode);
    if (modeNo <= 0)
        return 0;
    mode->F6006_NO = modeNo;
    _DisplayModeInfo copy = *mode;
    BoundField(copy.F6006_DESC);
    self.m_displayModes.push_back(copy);
    return 1;
}

extern "C" NX_EXPORT int32_t ModifyDisplayMode(_DisplayModeInfo* mode, void* plugIn) {
    if (!plugIn)
        return 0;
    auto& self = *static_cast<CPlugOrvex*>(plugIn);
    if (!mode) {
        self.Log().printTime3("[ModifyDisplayMode] no display mode record");
        return 0;
    }
    const std::string sql =
        SqlFormat("UPDATE NXMODEL.TB6006_CCTVMODEINFO SET F6006_DESC = '%s' WHERE F6005_NO = %d;",
                  mode->F6006_DESC, mode->layout.F6005_NO);
    const SqlResult update = SqlExecute(sql);
    if (!update.ok) {
        LogFailedStatement(self, "[ModifyDisplayMode] update failed: %s", sql, update.reason);
        return 0;
    }
    if (update.changed == 0) {
        self.Log().printTime3("[ModifyDisplayMode] no display mode of layout %d",
                              mode->layout.F6005_NO);
        return 0;
    }
    return 1;
}

extern "C" NX_EXPORT int32_t RemoveDisplayMode(int32_t position, void* plugIn) {
    if (!plugIn)
        return 0;
    auto& self = *static_cast<CPlugOrvex*>(plugIn);
    auto it = At(self.m_displayModes, position);
    if (it == self.m_displayModes.end()) {
        self.Log().printTime3("[RemoveDisplayMode] position %d outside the %zu display modes",
                              position, self.m_displayModes.size());
        return 0;
    }
    // The mode and its layout go together or not at all; a failure keeps the list entry.
    CNX_DBOption db;
    if (db.BeginTransaction() != 1) {
        self.Log().printTime3("[RemoveDisplayMode] cannot begin: %s", db.GetLastErrorText());
        return 0;
    }
    for (const std::string& sql :
         {SqlFormat("DELETE FROM NXMODEL.TB6006_CCTVMODEINFO WHERE F6006_NO=%d", it->F6006_NO),
          SqlFormat("DELETE FROM NXMODEL.TB6005_CCTVGBMON WHERE F6005_NO=%d",
                    it->layout.F6005_NO)}) {
        if (!ExecuteOrLog(self, db, sql, "[RemoveDisplayMode] failed: %s")) {
            return 0;
        }
    }
    if (!CommitOrLog(self, db, "RemoveDisplayMode"))
        return 0;
    self.m_displayModes.erase(it);
    return 1;
}
