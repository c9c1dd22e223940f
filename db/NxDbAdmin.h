#pragma once
// The work behind the nxdb admin tool: schema, demo data and table dumps on whichever backend
// CNX_DBOption is configured for. Texts in and out are UTF-8.
#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

namespace nxdb {

// The 14 CCTV tables, in creation order.
const std::vector<std::string>& tableNames();

// Embedded file of db/ ("sqlite/schema.sql", "demo/cameras.csv", ...).
bool resource(const char* name, const char** data, size_t* size);
std::string resourceText(const char* name);

// One camera of the demo list.
struct DemoCamera {
    std::string code, name;
    int online = 0, line = 0, station = 0, train = 0, car = 0, type = 0;
};
// Reads the cameras CSV (header code,name,online,train,car,type); false with the line at fault.
bool parseCameraCsv(const std::string& text, std::vector<DemoCamera>* cameras, std::string* error);

// Runs a UTF-8 script statement by statement; with a transaction open, on its connection.
bool runScript(const std::string& script, std::string* error);

bool initSchema(std::string* error);              // creates what is missing; safe to repeat
bool loadDemo(bool replace, std::string* error);  // refuses non-empty tables unless replace
long countRows(const std::string& table, std::string* error);  // -1 on error
bool dumpTable(const std::string& table, std::ostream& out, std::string* error);

// The command line: nxdb [--nxroot DIR] init|demo [--replace]|dump TABLE|info. Exit status.
int runCommandLine(int argc, char** argv, std::ostream& out, std::ostream& err);

}  // namespace nxdb
