// The schema and demo data of nxdb, on the backend this program was built for.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>

#include "CNX_DBOption.h"
#include "NxDbAdmin.h"
#include "NxTestDb.h"

using nxtest::exec;
using nxtest::scalar;

namespace {

// Every table with its columns in order, as the plug-in's statements and "select *" read them.
const std::map<std::string, std::vector<std::string>> kColumns = {
    {"TB6000_STATIONINFO", {"F6000_TYPE", "F6000_NO", "F6000_NAME"}},
    {"TB6001_ZONE1INFO", {"F6000_TYPE", "F6001_ZONE1NO", "F6001_ZONE1NAME"}},
    {"TB6002_ZONE2INFO", {"F6000_TYPE", "F6001_ZONE1NO", "F6002_ZONE2NO", "F6002_ZONE2NAME"}},
    {"TB6003_CAMERAINFO",
     {"F6003_IP", "F6003_LINE", "F6003_STATION", "F6001_ZONE1NO", "F6002_ZONE2NO", "F6003_DEVTYPE",
      "F6003_CAMERANAME", "F6003_CAMERAGB", "F6003_STATUS", "F6003_UPDATETIME"}},
    {"TB6004_MONITORINFO",
     {"F6004_MONITOR", "F6004_DECODER", "F6004_SCREENNO", "F6004_WINDOWNO", "F0101_PTZPLEVEL"}},
    {"TB6005_CCTVGBMON",
     {"F6005_NO", "F6005_SCREENCOUNT", "F6005_SCR1STANAME", "F6005_SCR1CAMERAGB",
      "F6005_SCR2STANAME", "F6005_SCR2CAMERAGB", "F6005_SCR3STANAME", "F6005_SCR3CAMERAGB",
      "F6005_SCR4STANAME", "F6005_SCR4CAMERAGB", "F6005_SCR5STANAME", "F6005_SCR5CAMERAGB",
      "F6005_SCR6STANAME", "F6005_SCR6CAMERAGB", "F6005_SCR7STANAME", "F6005_SCR7CAMERAGB",
      "F6005_SCR8STANAME", "F6005_SCR8CAMERAGB"}},
    {"TB6006_CCTVMODEINFO", {"F6006_NO", "F6006_DESC", "F6005_NO", "F0101_PTZPLEVEL"}},
    {"TB6007_CCTVGBFAV", {"F6007_NO", "F6003_CAMERAGB", "F6007_DESC", "F0101_PTZPLEVEL"}},
    {"TB6008_CCTVCURMON", {"F6008_NO", "F6005_NO", "F0101_PTZPLEVEL"}},
    {"TB6009_CCTVTOURINFO",
     {"F6009_TOURINDEX", "F6009_TOURDESC", "F6009_TIMESPACE", "F0101_PTZPLEVEL"}},
    {"TB6010_TOURGBCAMERA",
     {"F6009_TOURINDEX", "F6010_STANAME", "F6003_CAMERANAME", "F6003_CAMERAGB",
      "F6010_CAMERAINDEX"}},
    {"TB6011_MONITOR", {"F6011_MONITOR", "F6011_DECODER"}},
    {"TB2023_CCTVDEV", {"F2023_DEVNO", "F2023_TYPE", "F4009_POINTCODE"}},
    {"TB4009_DIGPOINT",
     {"F4009_POINTCODE", "F4009_AOJ", "F1010_APPSYSID", "F4004_MEASTYPEID", "F4009_POINTNO1",
      "F1002_BAYAREANO", "F4009_POINTDESC", "F1001_GROUPCODE"}},
};

std::vector<std::string> columnsOf(const std::string& table) {
    CNX_DBOption db;
    std::string sql = "select * from NXMODEL.dbo." + table + " where 1=0";
    std::vector<std::string> names;
    if (db.BeginSelectRcdSet(&sql[0], 101) != 1)
        return names;
    for (int c = 0; c < db.GetColCount(); ++c) {
        std::string name = db.GetColName(c);
        for (char& ch : name)
            ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        names.push_back(name);
    }
    return names;
}

long rows(const std::string& table) {
    std::string error;
    return nxdb::countRows(table, &error);
}

long count(const std::string& whereSql) {
    return std::atol(scalar(whereSql).c_str());
}

class Schema : public nxtest::DbTest {
protected:
    void SetUp() override {
        nxtest::DbTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        std::string error;
        ASSERT_TRUE(nxdb::initSchema(&error)) << error;
    }
};

class Demo : public Schema {
protected:
    void SetUp() override {
        Schema::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        std::string error;
        ASSERT_TRUE(nxdb::loadDemo(false, &error)) << error;
    }
};

// Runs the nxdb program; its exit status, with its output in *out.
int runNxdb(const std::string& args, std::string* out) {
    std::string command = std::string(NXDB_PROGRAM) + " " + args + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return -1;
    char buffer[4096];
    size_t n;
    out->clear();
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out->append(buffer, n);
    int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST_F(Schema, HasTheFourteenTablesWithTheirColumnsInOrder) {
    ASSERT_EQ(nxdb::tableNames().size(), 14u);
    for (const std::string& table : nxdb::tableNames()) {
        ASSERT_EQ(kColumns.count(table), 1u) << table;
        EXPECT_EQ(columnsOf(table), kColumns.at(table)) << table;
        EXPECT_EQ(rows(table), 0) << table;
    }
}

TEST_F(Schema, InitialisingAgainKeepsTablesAndRows) {
    ASSERT_EQ(exec("INSERT INTO NXMODEL.dbo.TB6011_MONITOR (F6011_MONITOR,F6011_DECODER) "
                   "VALUES ('m','d')"),
              1);
    std::string error;
    ASSERT_TRUE(nxdb::initSchema(&error)) << error;
    EXPECT_EQ(rows("TB6011_MONITOR"), 1);
}

TEST_F(Schema, NumbersAreAssignedByTheDatabaseAndNeverReused) {
    const char* inserts[] = {
        "INSERT INTO NXMODEL.dbo.TB6005_CCTVGBMON (F6005_SCREENCOUNT) VALUES (4)",
        "INSERT INTO NXMODEL.dbo.TB6006_CCTVMODEINFO (F0101_PTZPLEVEL,F6005_NO,F6006_DESC) "
        "VALUES (1,1,'m')",
        "INSERT INTO NXMODEL.dbo.TB6007_CCTVGBFAV (F6003_CAMERAGB,F6007_DESC,F0101_PTZPLEVEL) "
        "VALUES ('c','f',1)",
        "INSERT INTO NXMODEL.TB6008_CCTVCURMON (F0101_PTZPLEVEL,F6005_NO) VALUES (%d,1)"};
    const char* tables[][2] = {{"TB6005_CCTVGBMON", "F6005_NO"},
                               {"TB6006_CCTVMODEINFO", "F6006_NO"},
                               {"TB6007_CCTVGBFAV", "F6007_NO"},
                               {"TB6008_CCTVCURMON", "F6008_NO"}};
    for (int t = 0; t < 4; ++t) {
        char sql[256];
        std::snprintf(sql, sizeof sql, inserts[t], 1);
        ASSERT_EQ(exec(sql), 1) << sql;
        std::snprintf(sql, sizeof sql, inserts[t], 2);
        ASSERT_EQ(exec(sql), 1) << sql;
        std::string max =
            std::string("select max(") + tables[t][1] + ") FROM NXMODEL.dbo." + tables[t][0];
        EXPECT_EQ(scalar(max), "2") << tables[t][0];
        ASSERT_EQ(exec(std::string("DELETE FROM NXMODEL.dbo.") + tables[t][0] + " WHERE " +
                       tables[t][1] + "=2"),
                  1);
        std::snprintf(sql, sizeof sql, inserts[t], 3);
        ASSERT_EQ(exec(sql), 1);
        EXPECT_EQ(scalar(max), "3") << tables[t][0];
    }
}

TEST_F(Schema, KeysRefuseDuplicates) {
    const char* camera =
        "INSERT INTO NXMODEL.TB6003_CAMERAINFO (F6003_IP,F6003_LINE,F6003_STATION,F6001_ZONE1NO,"
        "F6002_ZONE2NO,F6003_DEVTYPE,F6003_CAMERANAME,F6003_CAMERAGB,F6003_STATUS,"
        "F6003_UPDATETIME) VALUES('',3,99,1,1,1,'a','00309900101001000001',1,0)";
    EXPECT_EQ(exec(camera), 1);
    EXPECT_EQ(exec(camera), 0);
    const char* monitor =
        "INSERT INTO NXMODEL.TB6011_MONITOR (F6011_MONITOR,F6011_DECODER) VALUES ('m','d')";
    EXPECT_EQ(exec(monitor), 1);
    EXPECT_EQ(exec(monitor), 0);
    const char* level =
        "INSERT INTO NXMODEL.TB6008_CCTVCURMON (F0101_PTZPLEVEL,F6005_NO) VALUES (1,1)";
    EXPECT_EQ(exec(level), 1);
    EXPECT_EQ(exec(level), 0);  // one current layout per PTZ level
}

TEST_F(Demo, HoldsTheLineTrainsCarsAndCameras) {
    EXPECT_EQ(rows("TB6000_STATIONINFO"), 1);
    EXPECT_EQ(count("select count(*) from NXMODEL.dbo.TB6000_STATIONINFO where F6000_TYPE=99"), 1);
    EXPECT_EQ(count("select count(*) from NXMODEL.TB6001_ZONE1INFO where F6000_TYPE=99"), 10);
    EXPECT_EQ(count("select count(*) from NXMODEL.TB6002_ZONE2INFO where F6000_TYPE=99"), 60);
    EXPECT_EQ(rows("TB6003_CAMERAINFO"), 240);
    EXPECT_EQ(count("select count(*) from NXMODEL.dbo.TB6003_CAMERAINFO where F6003_LINE=3 and "
                    "F6003_STATION=99"),
              240);
    // Every car of every train has 4 cameras, and the codes carry train, car and type.
    EXPECT_EQ(count("select count(*) from (select F6001_ZONE1NO, F6002_ZONE2NO from "
                    "NXMODEL.TB6003_CAMERAINFO group by F6001_ZONE1NO, F6002_ZONE2NO "
                    "having count(*)=4) x"),
              60);
    EXPECT_EQ(count("select count(*) from NXMODEL.TB6003_CAMERAINFO where "
                    "CAST(substr(F6003_CAMERAGB,7,3) AS integer)=F6001_ZONE1NO and "
                    "CAST(substr(F6003_CAMERAGB,10,2) AS integer)=F6002_ZONE2NO and "
                    "CAST(substr(F6003_CAMERAGB,12,3) AS integer)=F6003_DEVTYPE and "
                    "F6003_DEVTYPE between 1 and 6"),
              240);
    // Names arrive in GBK: "1号车1车厢车厢前部摄像机1".
    EXPECT_EQ(scalar("select F6003_CAMERANAME from NXMODEL.dbo.TB6003_CAMERAINFO where "
                     "F6003_CAMERAGB='00309900101001000001'"),
              "1\xBA\xC5\xB3\xB5"
              "1\xB3\xB5\xCF\xE1\xB3\xB5\xCF\xE1\xC7\xB0\xB2\xBF\xC9\xE3\xCF\xF1\xBB\xFA"
              "1");
}

TEST_F(Demo, HasMonitorsToursAndTheirCameras) {
    for (int level = 1; level <= 3; ++level) {
        long monitors =
            count("select count(*) from NXMODEL.TB6004_MONITORINFO where F0101_PTZPLEVEL=" +
                  std::to_string(level));
        EXPECT_GE(monitors, 1) << level;
        EXPECT_LE(monitors, 8) << level;
    }
    // Every monitor's decoder is known to TB6011 and is a decoder device.
    EXPECT_EQ(count("select count(*) from NXMODEL.TB6004_MONITORINFO m join "
                    "NXMODEL.TB6011_MONITOR d on d.F6011_DECODER=m.F6004_DECODER and "
                    "d.F6011_MONITOR=m.F6004_MONITOR"),
              rows("TB6004_MONITORINFO"));
    EXPECT_EQ(scalar("select count(*) from NXMODEL.dbo.TB6009_CCTVTOURINFO"), "3");
    // Every tour has cameras and every tour camera is a known camera.
    EXPECT_EQ(count("select count(*) from NXMODEL.dbo.TB6009_CCTVTOURINFO t where not exists "
                    "(select 1 from NXMODEL.dbo.TB6010_TOURGBCAMERA c where "
                    "c.F6009_TOURINDEX=t.F6009_TOURINDEX)"),
              0);
    EXPECT_EQ(count("select count(*) from NXMODEL.dbo.TB6010_TOURGBCAMERA c join "
                    "NXMODEL.dbo.TB6003_CAMERAINFO k on k.F6003_CAMERAGB=c.F6003_CAMERAGB"),
              rows("TB6010_TOURGBCAMERA"));
}

TEST_F(Demo, EveryCameraIsAPointWithADeviceNumber) {
    // The point lookup and the device lookup of a camera operation, as the plug-in runs them.
    CNX_DBOption db;
    char point[] =
        "select F4009_AOJ,F1010_APPSYSID,F4004_MEASTYPEID,F4009_POINTNO1,F1002_BAYAREANO,"
        "F4009_POINTDESC from NXMODEL.dbo.TB4009_DIGPOINT where "
        "F4009_POINTCODE='CAM00309900302005000053'";
    ASSERT_EQ(db.BeginSelectRcdSet(point, 101), 1);
    ASSERT_EQ(db.GetRcdCount(), 1);
    EXPECT_EQ(db.GetIntVal(0, 1), 10);
    EXPECT_EQ(db.GetIntVal(0, 4), 3);  // bay area: the train
    char device[] =
        "select F2023_DEVNO from NXMODEL.dbo.TB2023_CCTVDEV where F2023_TYPE=2 and "
        "F4009_POINTCODE='CAM00309900302005000053'";
    ASSERT_EQ(db.BeginSelectRcdSet(device, 101), 1);
    EXPECT_STREQ(db.GetColVal(0, 0, nullptr), "00309900302005000053");

    EXPECT_EQ(count("select count(*) from NXMODEL.dbo.TB2023_CCTVDEV d join "
                    "NXMODEL.dbo.TB4009_DIGPOINT p on p.F4009_POINTCODE=d.F4009_POINTCODE"),
              rows("TB2023_CCTVDEV"));
    EXPECT_EQ(count("select count(*) from NXMODEL.dbo.TB2023_CCTVDEV where F2023_TYPE=2"), 240);
    // Decoders: numbers the switching step can use.
    EXPECT_EQ(count("select count(*) from NXMODEL.dbo.TB2023_CCTVDEV where F2023_TYPE=1"),
              rows("TB6011_MONITOR"));
    // A group of one train, in point-number order.
    CNX_DBOption group;
    char members[] =
        "select F4009_POINTCODE from NXMODEL.dbo.TB4009_DIGPOINT where "
        "F1010_APPSYSID=10 AND F1001_GROUPCODE='003099007' order by F4009_POINTNO1";
    ASSERT_EQ(group.BeginSelectRcdSet(members, 101), 1);
    ASSERT_EQ(group.GetRcdCount(), 24);
    EXPECT_STREQ(group.GetColVal(0, 0, nullptr), "CAM00309900701001000145");
}

TEST_F(Demo, NewRowsAfterTheDemoGetFreshNumbers) {
    ASSERT_EQ(exec("INSERT INTO NXMODEL.dbo.TB6007_CCTVGBFAV (F6003_CAMERAGB,F6007_DESC,"
                   "F0101_PTZPLEVEL) VALUES ('00309900101001000001','x',1)"),
              1);
    EXPECT_EQ(scalar("select max(F6007_NO) FROM NXMODEL.dbo.TB6007_CCTVGBFAV"),
              std::to_string(rows("TB6007_CCTVGBFAV")));
    ASSERT_EQ(exec("INSERT INTO NXMODEL.dbo.TB6005_CCTVGBMON (F6005_SCREENCOUNT) VALUES (1)"), 1);
    EXPECT_EQ(scalar("select max(F6005_NO) FROM NXMODEL.dbo.TB6005_CCTVGBMON"), "3");
}

TEST_F(Demo, LoadsOnlyOverEmptyTablesUnlessReplacing) {
    std::string error;
    EXPECT_FALSE(nxdb::loadDemo(false, &error));
    EXPECT_NE(error.find("--replace"), std::string::npos) << error;
    ASSERT_EQ(exec("INSERT INTO NXMODEL.TB6011_MONITOR (F6011_MONITOR,F6011_DECODER) VALUES "
                   "('extra','extra')"),
              1);
    ASSERT_TRUE(nxdb::loadDemo(true, &error)) << error;
    EXPECT_EQ(rows("TB6003_CAMERAINFO"), 240);
    EXPECT_EQ(rows("TB6011_MONITOR"), 5);
}

TEST(DemoCameras, TheListIsCheckedAgainstTheCodes) {
    std::vector<nxdb::DemoCamera> cameras;
    std::string error;
    ASSERT_TRUE(nxdb::parseCameraCsv(nxdb::resourceText("demo/cameras.csv"), &cameras, &error))
        << error;
    ASSERT_EQ(cameras.size(), 240u);
    EXPECT_EQ(cameras[0].line, 3);
    EXPECT_EQ(cameras[0].station, 99);

    const char* bad[] = {
        "code,name,online,train,car,type\n0039900101001000000,a,1,1,1,1\n",   // 19 digits
        "code,name,online,train,car,type\n00309900101001000001,a,1,2,1,1\n",  // wrong train
        "code,name,online,train,car,type\n00309900101001000001,a,x,1,1,1\n",  // not a number
        "code,name,online,train,car,type\n00309900101001000001,a,1,1,1\n",    // 5 fields
    };
    for (const char* text : bad) {
        cameras.clear();
        EXPECT_FALSE(nxdb::parseCameraCsv(text, &cameras, &error)) << text;
        EXPECT_NE(error.find("line 2"), std::string::npos) << error;
    }
    ASSERT_TRUE(nxdb::parseCameraCsv(
        "code,name,online,train,car,type\n00309900101001000001,\"a, \"\"b\"\"\",1,1,1,1\n",
        &cameras, &error));
    EXPECT_EQ(cameras.back().name, "a, \"b\"");
}

TEST_F(Schema, TheProgramSetsUpTheDatabaseInOneCommand) {
    std::string out;
    std::string root = "--nxroot " + nxtest::nxroot();
    EXPECT_EQ(runNxdb(root + " demo", &out), 0) << out;
    EXPECT_EQ(runNxdb(root + " demo", &out), 1) << out;
    EXPECT_NE(out.find("--replace"), std::string::npos) << out;
    EXPECT_EQ(runNxdb(root + " demo --replace", &out), 0) << out;
    ASSERT_EQ(runNxdb(root + " dump TB6000_STATIONINFO", &out), 0) << out;
    EXPECT_NE(out.find("99\t99\t3\xE5\x8F\xB7\xE7\xBA\xBF"), std::string::npos) << out;  // 3号线
    EXPECT_EQ(runNxdb(root + " dump 'T;x'", &out), 1) << out;
    EXPECT_EQ(runNxdb(root + " frobnicate", &out), 2) << out;
    EXPECT_EQ(runNxdb("--nxroot=" + nxtest::nxroot() + " info", &out), 0) << out;
    EXPECT_NE(out.find("TB6003_CAMERAINFO: 240"), std::string::npos) << out;
    EXPECT_EQ(rows("TB6003_CAMERAINFO"), 240);
}
