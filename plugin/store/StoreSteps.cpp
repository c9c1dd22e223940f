#include "StoreSteps.h"

#include "Logger.h"
#include "PlugOrvex.h"
#include "SqlText.h"

void LogFailedStatement(CPlugOrvex& self, const char* line, const std::string& sql,
                        const std::string& reason) {
    const std::string text = SqlFormatRaw(line, sql.c_str());
    const char* gap = !text.empty() && text.back() == ' ' ? "" : " ";
    self.Log().printTime3("%s%sreason: %s", text.c_str(), gap, reason.c_str());
}

bool ExecuteOrLog(CPlugOrvex& self, CNX_DBOption& db, const std::string& sql, const char* line) {
    const SqlResult result = SqlExecute(db, sql);
    if (!result.ok)
        LogFailedStatement(self, line, sql, result.reason);
    return result.ok;
}

bool ExecuteOrLog(CPlugOrvex& self, const std::string& sql, const char* line) {
    CNX_DBOption db;
    return ExecuteOrLog(self, db, sql, line);
}

int ReadRowNumber(CNX_DBOption& db, const char* sql, std::string* reason) {
    SqlQuery query(db);
    if (!query.Open(sql)) {
        *reason = query.Reason();
        return 0;
    }
    if (query.Rows() <= 0 || query.Text(0, 0).empty())
        return 0;
    return query.Int(0, 0);
}

bool CommitOrLog(CPlugOrvex& self, CNX_DBOption& db, const char* operation) {
    if (db.CommitTransaction() == 1)
        return true;
    self.Log().printTime1("[%s] commit failed, nothing stored: %s", operation,
                          db.GetLastErrorText());
    return false;
}
