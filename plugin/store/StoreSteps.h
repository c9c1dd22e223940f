#pragma once
// Steps the store's operations share: the log line of a failed statement (the operation's own
// line, then the database's reason), the number of a row just inserted, and the commit.
#include <string>

class CNX_DBOption;
class CPlugOrvex;

// line is the operation's format with one %s for the statement ("[CameraInfoAdd] error,cmdbuf:%s
// ").
void LogFailedStatement(CPlugOrvex& self, const char* line, const std::string& sql,
                        const std::string& reason);
// The number a select (max(...) or the row's own) reads inside the inserting transaction; 0 when
// there is none, with the reason (" reason: ...") when the select itself failed.
// Runs sql (on db, or on a connection of its own); a failure is logged under line with the
// database's reason. True when the statement ran.
bool ExecuteOrLog(CPlugOrvex& self, CNX_DBOption& db, const std::string& sql, const char* line);
bool ExecuteOrLog(CPlugOrvex& self, const std::string& sql, const char* line);
int ReadRowNumber(CNX_DBOption& db, const char* sql, std::string* reason);
// Commits db's transaction; a failure is logged under the operation and gives false.
bool CommitOrLog(CPlugOrvex& self, CNX_DBOption& db, const char* operation);
