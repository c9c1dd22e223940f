#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <regex>
#include <thread>

#include "LogTestSupport.h"
#include "Logger.h"

namespace {

class LoggerConcurrencyTest : public ::testing::Test {
protected:
    TempDir root;
    EnvGuard nxroot{"NXROOT", nullptr};

    void SetUp() override {
        makeDirs(root / "cfg");
        ::setenv("NXROOT", root.path().c_str(), 1);
    }
    void configure(const std::string& keys) {
        writeFile(root / "cfg/debug.ini", "[QUORLA]\nDebugFlag=1\nDebugLevel=3\n" + keys);
    }
    std::string logDir() { return root / "log/QUORLA"; }
    int payloadLines() {
        int records = 0;
        for (const std::string& line : lines(allText()))
            records += line.find("payload") != std::string::npos;
        return records;
    }

    // Everything written, current file and archives together.
    std::string allText() {
        std::string text;
        DIR* d = ::opendir(logDir().c_str());
        if (d == nullptr)
            return text;
        while (dirent* e = ::readdir(d)) {
            std::string name = e->d_name;
            if (name.rfind("Quorlaui.log", 0) == 0)
                text += readFile(logDir() + "/" + name);
        }
        ::closedir(d);
        return text;
    }
};

pid_t spawnWriter(int id, int records) {
    pid_t pid = ::fork();
    if (pid == 0) {
        Logger log(LogOptions::uiLibrary());
        for (int r = 0; r < records; ++r)
            log.printTime3("P%d R%d %s", id, r, "payload-payload-payload");
        ::_exit(0);
    }
    return pid;
}

// Waits for a child; a writer stuck on an abandoned lock would never come back.
bool reap(pid_t pid, int seconds) {
    for (int i = 0; i < seconds * 20; ++i) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return false;
}

}  // namespace

TEST_F(LoggerConcurrencyTest, ProcessesRotatingTogetherLoseAndTearNothing) {
    constexpr int kProcesses = 8, kRecords = 2000;
    configure("MaxFileSize=16384\nMaxFiles=5000\n");
    std::vector<pid_t> pids;
    for (int p = 0; p < kProcesses; ++p)
        pids.push_back(spawnWriter(p, kRecords));
    for (pid_t pid : pids)
        ASSERT_TRUE(reap(pid, 300));

    const std::string text = allText();
    const std::regex record(
        R"(\[\d{2}:\d{2}::\d{2}:\d{3}\] : P(\d+) R(\d+) payload-payload-payload)");
    const std::regex date(R"(Date: \d{4}-\d{2}-\d{2})");
    std::map<std::pair<int, int>, int> seen;
    int banners = 0, dates = 0;
    for (const std::string& line : lines(text)) {
        std::smatch m;
        if (line.empty())
            continue;
        if (line == "------- New log system start -------") {
            ++banners;
        } else if (std::regex_match(line, date)) {
            ++dates;
        } else if (std::regex_match(line, m, record)) {
            ++seen[{std::stoi(m[1]), std::stoi(m[2])}];
        } else {
            ADD_FAILURE() << "torn or foreign line: " << line;
        }
    }
    EXPECT_EQ(banners, kProcesses);
    EXPECT_EQ(dates, kProcesses);
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(kProcesses * kRecords));
    for (const auto& [key, count] : seen)
        ASSERT_EQ(count, 1) << "P" << key.first << " R" << key.second;
}

TEST_F(LoggerConcurrencyTest, ThreadsOfOneProcessShareTheLock) {
    configure("MaxFileSize=8192\nMaxFiles=5000\n");
    Logger log(LogOptions::uiLibrary());
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&log, t] {
            for (int r = 0; r < 500; ++r)
                log.printTime3("P%d R%d payload-payload-payload", t, r);
        });
    for (auto& th : threads)
        th.join();
    int records = 0, banners = 0;
    for (const std::string& line : lines(allText())) {
        if (line.find("payload-payload-payload") != std::string::npos)
            ++records;
        if (line == "------- New log system start -------")
            ++banners;
    }
    EXPECT_EQ(records, 2000);
    EXPECT_EQ(banners, 1);
}

TEST_F(LoggerConcurrencyTest, WriterKilledWhileHoldingTheLockBlocksNoOne) {
    configure("");
    Logger probe(LogOptions::uiLibrary());
    makeDirs(logDir());
    const std::string lockFile = logDir() + "/." + probe.lockName() + ".lock";

    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t holder = ::fork();
    if (holder == 0) {
        int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT, 0644);
        ::flock(fd, LOCK_EX);
        char c = 'x';
        if (::write(ready[1], &c, 1) != 1)
            ::_exit(1);
        for (;;)
            ::pause();  // dies holding the lock
    }
    char c;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    std::vector<pid_t> writers;
    for (int p = 0; p < 3; ++p)
        writers.push_back(spawnWriter(p, 50));
    // While the lock is held no writer gets through.
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_EQ(payloadLines(), 0);
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    for (pid_t pid : writers)
        EXPECT_TRUE(reap(pid, 120));
    EXPECT_EQ(payloadLines(), 150);
    ::close(ready[0]);
    ::close(ready[1]);
}

TEST_F(LoggerConcurrencyTest, ThreadsWaitWhileTheInProcessLockIsHeld) {
    configure("");
    Logger log(LogOptions::uiLibrary());
    std::unique_lock<std::mutex> held(Logger::threadLock(log.lockName()));
    std::thread writer([&log] { log.printTime3("P0 R0 payload"); });
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_EQ(payloadLines(), 0);
    held.unlock();
    writer.join();
    EXPECT_EQ(payloadLines(), 1);
}
