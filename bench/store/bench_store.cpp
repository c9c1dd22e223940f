// 10,000 camera rows written back the way the replay form does after a catalogue: one
// AddCameraInfo or ModifyCameraInfo call, and so one statement, per camera. PostgreSQL runs when
// NX_TEST_PG_CONNINFO names a server (scripts/pg_cluster.sh starts a throwaway one).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "CNX_DBOption.h"
#include "NxDbAdmin.h"
#include "PlugInApi.h"
#include "PlugOrvex.h"
#include "SqlText.h"

namespace {

constexpr int kCameras = 10000;

std::vector<CameraRow> Cameras() {
    std::vector<CameraRow> rows(kCameras);
    for (int i = 0; i < kCameras; ++i) {
        CameraRow& c = rows[static_cast<std::size_t>(i)];
        char code[24];
        std::snprintf(code, sizeof code, "0030099%03d%02d%03d%05d", i / 60 % 1000, i / 4 % 60,
                      i % 4 + 1, i);
        CopyText(c.F6003_CAMERAGB, code);
        CopyText(c.F6003_CAMERANAME, "\xC9\xE3\xCF\xF1\xBB\xFA 'front'");  // GBK text
        CopyText(c.F6003_IP, "10.3.99.1");
        c.F6003_LINE = 3;
        c.F6003_STATION = 99;
        c.F6001_ZONE1NO = i / 24;
        c.F6002_ZONE2NO = i / 4 % 6 + 1;
        c.F6003_DEVTYPE = i % 4 + 1;
        c.F6003_STATUS = i % 2;
    }
    return rows;
}

// A platform root without logging and a database with the schema; false when unavailable.
struct Environment {
    std::string root;
    std::string pgDatabase;

    bool Prepare(bool postgres, std::string* why) {
        // NX_BENCH_DIR puts the SQLite file elsewhere, e.g. on /dev/shm to take the disk out.
        const char* dir = std::getenv("NX_BENCH_DIR");
        std::string pattern = std::string(dir ? dir : "/tmp") + "/nx-bench.XXXXXX";
        root = mkdtemp(&pattern[0]);
        std::filesystem::create_directories(root + "/cfg");
        std::ofstream(root + "/cfg/debug.ini") << "[ORVEX]\nDebugFlag=0\n";
        setenv("NXROOT", root.c_str(), 1);
        NxDbSettings settings;
        if (!postgres) {
            settings.sqlitePath = root + "/nxmodel.db";
        } else {
            const char* admin = std::getenv("NX_TEST_PG_CONNINFO");
            if (!admin) {
                *why = "NX_TEST_PG_CONNINFO not set";
                return false;
            }
            settings.backend = NxDbSettings::Backend::PostgreSQL;
            settings.pgConnInfo = admin;
            CNX_DBOption::Configure(settings);
            pgDatabase = "nxbench_" + std::to_string(getpid());
            Run("DROP DATABASE IF EXISTS " + pgDatabase);
            Run("CREATE DATABASE " + pgDatabase);
            settings.pgConnInfo = std::string(admin) + " dbname=" + pgDatabase;
        }
        CNX_DBOption::Configure(settings);
        return nxdb::initSchema(why);
    }

    ~Environment() {
        CNX_DBOption::ClosePool();
        if (!pgDatabase.empty()) {
            NxDbSettings settings;
            settings.backend = NxDbSettings::Backend::PostgreSQL;
            settings.pgConnInfo = std::getenv("NX_TEST_PG_CONNINFO");
            CNX_DBOption::Configure(settings);
            Run("DROP DATABASE IF EXISTS " + pgDatabase + " WITH (FORCE)");
            CNX_DBOption::ClosePool();
        }
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }

    static void Run(std::string sql) {
        CNX_DBOption db;
        db.ExecuteCmd(&sql[0], 100, nullptr);
    }
};

enum class Kind { AddNew, AddKnown, Modify };

void WriteBack(benchmark::State& state, bool postgres, Kind kind) {
    Environment env;
    std::string why;
    if (!env.Prepare(postgres, &why)) {
        state.SkipWithError(why.c_str());
        return;
    }
    std::vector<CameraRow> cameras = Cameras();
    CPlugOrvex plug;
    if (kind != Kind::AddNew)
        for (CameraRow& c : cameras)
            AddCameraInfo(&c, &plug);
    for (auto _ : state) {
        if (kind == Kind::AddNew) {
            state.PauseTiming();
            RemoveCameraInfo(&plug);
            state.ResumeTiming();
        }
        for (CameraRow& c : cameras) {
            if (kind == Kind::Modify)
                ModifyCameraInfo(&c, &plug);
            else
                AddCameraInfo(&c, &plug);
        }
    }
    state.SetItemsProcessed(state.iterations() * kCameras);
}

}  // namespace

BENCHMARK_CAPTURE(WriteBack, SQLite_AddNew, false, Kind::AddNew)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK_CAPTURE(WriteBack, SQLite_AddKnown, false, Kind::AddKnown)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK_CAPTURE(WriteBack, SQLite_Modify, false, Kind::Modify)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK_CAPTURE(WriteBack, PostgreSQL_AddNew, true, Kind::AddNew)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK_CAPTURE(WriteBack, PostgreSQL_AddKnown, true, Kind::AddKnown)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK_CAPTURE(WriteBack, PostgreSQL_Modify, true, Kind::Modify)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

BENCHMARK_MAIN();
