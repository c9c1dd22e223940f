#pragma once
#include "CNX_DBOption.h"

namespace nxsql {

void configurePool(const NxDbSettings& settings);
void closePool();
NxDbPoolStats poolStats();
NxDbSettings poolSettings();

// Reads an nxdb.ini text; root resolves a relative Path. Errors land in settings.error.
NxDbSettings parseSettings(const std::string& iniText, const std::string& root);

}  // namespace nxsql
