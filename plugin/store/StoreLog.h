#pragma once
// Log lines of failed statements: the operation's own line, then the database's reason, so the
// log says both what failed and why.
#include <string>

class CPlugOrvex;

// line is the operation's format with one %s for the statement ("[CameraInfoAdd] error,cmdbuf:%s
// ").
void LogFailedStatement(CPlugOrvex& self, const char* line, const std::string& sql,
                        const std::string& reason);
