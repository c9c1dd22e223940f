#include "StoreLog.h"

#include "Logger.h"
#include "PlugOrvex.h"
#include "SqlText.h"

void LogFailedStatement(CPlugOrvex& self, const char* line, const std::string& sql,
                        const std::string& reason) {
    const std::string text = SqlFormatRaw(line, sql.c_str());
    const char* gap = !text.empty() && text.back() == ' ' ? "" : " ";
    self.Log().printTime3("%s%sreason: %s", text.c_str(), gap, reason.c_str());
}
