#include "NxDbAdmin.h"

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sstream>

#include "CNX_DBOption.h"
#include "NxSqlText.h"

namespace nxdb {
namespace {

const char kUsage[] =
    "usage: nxdb [--nxroot DIR] COMMAND\n"
    "  init              create the CCTV tables that are missing (safe to repeat)\n"
    "  demo [--replace]  create the tables and load the metro line 3 demo data;\n"
    "                    --replace first empties the 14 tables\n"
    "  dump TABLE        print a table as tab-separated UTF-8 (NULL as \\N)\n"
    "  info              show which database is configured\n"
    "The database comes from $NXROOT/cfg/nxdb.ini ([Database] Backend=sqlite|postgresql,\n"
    "Path=..., ConnInfo=...); without it SQLite at $NXROOT/data/nxmodel.db.\n";

bool isPostgres() {
    return CNX_DBOption::CurrentSettings().backend == NxDbSettings::Backend::PostgreSQL;
}

// The statement in the plug-in's encoding.
std::string toGbk(const std::string& utf8) {
    nxsql::GbkCodec codec;
    std::string gbk;
    codec.toGbk(utf8.data(), utf8.size(), &gbk);
    return gbk;
}

std::string toUtf8(const char* gbk) {
    nxsql::GbkCodec codec;
    std::string utf8, ignored;
    if (!codec.toUtf8(gbk, std::strlen(gbk), &utf8, &ignored))
        return gbk;
    return utf8;
}

bool execute(CNX_DBOption& db, const std::string& utf8, std::string* error) {
    std::string gbk = toGbk(utf8);
    if (db.ExecuteCmd(&gbk[0], 100, nullptr) == 1)
        return true;
    *error = toUtf8(db.GetLastErrorText()) + "\n  in: " + utf8.substr(0, 300);
    return false;
}

std::string quoted(const std::string& text) {
    return "'" + nxsql::doubledQuotes(text) + "'";
}

// CSV fields of one line; "..." quoting with doubled quotes inside.
std::vector<std::string> csvFields(const std::string& line) {
    std::vector<std::string> fields(1);
    bool inQuotes = false;
    for (size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (inQuotes) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                fields.back() += '"';
                ++i;
            } else if (c == '"') {
                inQuotes = false;
            } else {
                fields.back() += c;
            }
        } else if (c == '"') {
            inQuotes = true;
        } else if (c == ',') {
            fields.emplace_back();
        } else if (c != '\r') {
            fields.back() += c;
        }
    }
    return fields;
}

bool toNumber(const std::string& text, int* value) {
    if (text.empty() || text.size() > 9)
        return false;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    *value = std::atoi(text.c_str());
    return true;
}

bool digits(const std::string& code) {
    for (char c : code) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

// The parts of the 20-digit code as the console's catalogue reading takes them (positions from
// 0): line 0-2, a spare digit 3, station 4-5, train 6-8, car 9-10, type 11-13, serial 14-19.
bool checkCamera(DemoCamera* cam, std::string* why) {
    if (cam->code.size() != 20 || !digits(cam->code)) {
        *why = "code is not 20 digits";
        return false;
    }
    auto part = [&](size_t at, size_t n) { return std::atoi(cam->code.substr(at, n).c_str()); };
    cam->line = part(0, 3);
    cam->station = part(4, 2);
    if (part(6, 3) != cam->train || part(9, 2) != cam->car || part(11, 3) != cam->type) {
        *why = "train, car or type does not match the code";
        return false;
    }
    return true;
}

bool readCameraLine(const std::string& line, DemoCamera* cam, std::string* why) {
    std::vector<std::string> f = csvFields(line);
    if (f.size() != 6) {
        *why = "expected 6 fields";
        return false;
    }
    cam->code = f[0];
    cam->name = f[1];
    if (!toNumber(f[2], &cam->online) || !toNumber(f[3], &cam->train) ||
        !toNumber(f[4], &cam->car) || !toNumber(f[5], &cam->type)) {
        *why = "online, train, car and type must be numbers";
        return false;
    }
    return checkCamera(cam, why);
}

std::string cameraInsert(const DemoCamera& cam, long long now) {
    std::ostringstream sql;
    sql << "INSERT INTO NXMODEL.dbo.TB6003_CAMERAINFO (F6003_IP,F6003_LINE,F6003_STATION,"
           "F6001_ZONE1NO,F6002_ZONE2NO,F6003_DEVTYPE,F6003_CAMERANAME,F6003_CAMERAGB,"
           "F6003_STATUS,F6003_UPDATETIME) VALUES('',"
        << cam.line << ',' << cam.station << ',' << cam.train << ',' << cam.car << ',' << cam.type
        << ',' << quoted(cam.name) << ',' << quoted(cam.code) << ',' << cam.online << ',' << now
        << ')';
    return sql.str();
}

bool loadCameras(CNX_DBOption& db, std::string* error) {
    std::vector<DemoCamera> cameras;
    if (!parseCameraCsv(resourceText("demo/cameras.csv"), &cameras, error))
        return false;
    long long now = static_cast<long long>(std::time(nullptr));
    for (const DemoCamera& cam : cameras) {
        if (!execute(db, cameraInsert(cam, now), error))
            return false;
    }
    return true;
}

// Name and row count of the first table that holds rows, or "" when all are empty.
std::string firstFilledTable(long* rows, std::string* error) {
    for (const std::string& table : tableNames()) {
        *rows = countRows(table, error);
        if (*rows != 0)
            return table;  // -1 (error) stops here too
    }
    return "";
}

bool fillDemo(CNX_DBOption& db, bool replace, std::string* error) {
    if (replace) {
        for (const std::string& table : tableNames()) {
            if (!execute(db, "DELETE FROM " + table, error))
                return false;
        }
    }
    return loadCameras(db, error) && runScript(resourceText("demo/demo.sql"), error);
}

std::string maskedConnInfo(const std::string& conninfo) {
    std::string out = conninfo;
    size_t at = out.find("password=");
    if (at != std::string::npos) {
        size_t end = out.find(' ', at);
        out.replace(at + 9, (end == std::string::npos ? out.size() : end) - at - 9, "***");
    }
    return out;
}

int showInfo(std::ostream& out) {
    NxDbSettings s = CNX_DBOption::CurrentSettings();
    if (s.backend == NxDbSettings::Backend::PostgreSQL) {
        out << "backend: postgresql\nconninfo: " << maskedConnInfo(s.pgConnInfo) << "\n";
    } else {
        out << "backend: sqlite\nfile: " << s.sqlitePath << "\n";
    }
    for (const std::string& table : tableNames()) {
        std::string error;
        long rows = countRows(table, &error);
        out << table << ": " << (rows < 0 ? std::string("missing") : std::to_string(rows)) << "\n";
    }
    return 0;
}

int usage(std::ostream& err) {
    err << kUsage;
    return 2;
}

}  // namespace

const std::vector<std::string>& tableNames() {
    static const std::vector<std::string> names = {
        "TB6000_STATIONINFO", "TB6001_ZONE1INFO",    "TB6002_ZONE2INFO",    "TB6003_CAMERAINFO",
        "TB6004_MONITORINFO", "TB6005_CCTVGBMON",    "TB6006_CCTVMODEINFO", "TB6007_CCTVGBFAV",
        "TB6008_CCTVCURMON",  "TB6009_CCTVTOURINFO", "TB6010_TOURGBCAMERA", "TB6011_MONITOR",
        "TB2023_CCTVDEV",     "TB4009_DIGPOINT"};
    return names;
}

std::string resourceText(const char* name) {
    const char* data = nullptr;
    size_t size = 0;
    return resource(name, &data, &size) ? std::string(data, size) : std::string();
}

bool parseCameraCsv(const std::string& text, std::vector<DemoCamera>* cameras, std::string* error) {
    std::istringstream in(text);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (number == 1 || line.empty() || line == "\r")
            continue;  // header
        DemoCamera cam;
        std::string why;
        if (!readCameraLine(line, &cam, &why)) {
            *error = "cameras.csv line " + std::to_string(number) + ": " + why;
            return false;
        }
        cameras->push_back(cam);
    }
    return true;
}

bool runScript(const std::string& script, std::string* error) {
    CNX_DBOption db;
    for (const std::string& statement : nxsql::splitStatements(script)) {
        if (!execute(db, statement, error))
            return false;
    }
    return true;
}

bool initSchema(std::string* error) {
    return runScript(resourceText(isPostgres() ? "postgresql/schema.sql" : "sqlite/schema.sql"),
                     error);
}

long countRows(const std::string& table, std::string* error) {
    if (!nxsql::isPlainTableName(table)) {
        *error = "not a table name: " + table;
        return -1;
    }
    CNX_DBOption db;
    std::string sql = "select count(*) from NXMODEL.dbo." + table;
    if (db.BeginSelectRcdSet(&sql[0], 101) != 1) {
        *error = toUtf8(db.GetLastErrorText());
        return -1;
    }
    return static_cast<long>(db.GetInt64Val(0, 0));
}

bool loadDemo(bool replace, std::string* error) {
    if (!initSchema(error))
        return false;
    long rows = 0;
    std::string filled = firstFilledTable(&rows, error);
    if (rows < 0)
        return false;
    if (!filled.empty() && !replace) {
        *error = filled + " already holds " + std::to_string(rows) +
                 " rows; 'nxdb demo --replace' empties the 14 tables first";
        return false;
    }
    CNX_DBOption db;
    if (db.BeginTransaction() != 1) {
        *error = toUtf8(db.GetLastErrorText());
        return false;
    }
    if (!fillDemo(db, replace, error)) {
        db.RollbackTransaction();
        return false;
    }
    if (db.CommitTransaction() != 1) {
        *error = toUtf8(db.GetLastErrorText());
        return false;
    }
    return !isPostgres() || runScript(resourceText("postgresql/renumber.sql"), error);
}

bool dumpTable(const std::string& table, std::ostream& out, std::string* error) {
    if (!nxsql::isPlainTableName(table)) {
        *error = "not a table name: " + table;
        return false;
    }
    CNX_DBOption db;
    std::string sql = "select * from NXMODEL.dbo." + table;
    if (db.BeginSelectRcdSet(&sql[0], 101) != 1) {
        *error = toUtf8(db.GetLastErrorText());
        return false;
    }
    int columns = db.GetColCount();
    for (int c = 0; c < columns; ++c)
        out << (c ? "\t" : "") << toUtf8(db.GetColName(c));
    out << "\n";
    for (int r = 0; r < db.GetRcdCount(); ++r) {
        for (int c = 0; c < columns; ++c) {
            out << (c ? "\t" : "")
                << (db.IsNull(r, c) ? std::string("\\N") : toUtf8(db.GetColVal(r, c, nullptr)));
        }
        out << "\n";
    }
    return true;
}

int runCommandLine(int argc, char** argv, std::ostream& out, std::ostream& err) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() >= 2 && args[0] == "--nxroot") {
        setenv("NXROOT", args[1].c_str(), 1);
        args.erase(args.begin(), args.begin() + 2);
    } else if (!args.empty() && args[0].compare(0, 9, "--nxroot=") == 0) {
        setenv("NXROOT", args[0].c_str() + 9, 1);
        args.erase(args.begin());
    }
    if (args.empty() || args[0] == "-h" || args[0] == "--help")
        return usage(err);
    NxDbSettings settings = CNX_DBOption::SettingsFromEnvironment();
    if (!settings.error.empty()) {
        err << "nxdb: " << settings.error << " (use --nxroot DIR)\n";
        return 1;
    }
    CNX_DBOption::Configure(settings);

    const std::string& command = args[0];
    std::string error;
    bool ok = false;
    if (command == "init" && args.size() == 1) {
        ok = initSchema(&error);
        if (ok)
            out << "nxdb: the 14 CCTV tables are in place\n";
    } else if (command == "demo" &&
               (args.size() == 1 || (args.size() == 2 && args[1] == "--replace"))) {
        ok = loadDemo(args.size() == 2, &error);
        if (ok)
            out << "nxdb: demo data of metro line 3 loaded\n";
    } else if (command == "dump" && args.size() == 2) {
        ok = dumpTable(args[1], out, &error);
    } else if (command == "info" && args.size() == 1) {
        return showInfo(out);
    } else {
        return usage(err);
    }
    if (!ok)
        err << "nxdb " << command << ": " << error << "\n";
    CNX_DBOption::ClosePool();
    return ok ? 0 : 1;
}

}  // namespace nxdb
