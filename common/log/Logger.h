#pragma once
// The diagnostic log of both deliverables: records appended to a size-rotated file under
// <root>/log/<section>/, configured by the section of the same name in cfg/debug.ini.
#include <cstdarg>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "LogRules.h"

#if defined(__GNUC__)
#define NXLOG_PRINTF(fmtIndex) __attribute__((format(printf, fmtIndex, fmtIndex + 1)))
#else
#define NXLOG_PRINTF(fmtIndex)
#endif

struct LogOptions {
    std::string section;                  // debug.ini section and last folder of the log directory
    std::string fileName;                 // log file name inside that folder
    std::string rootVariable = "NXROOT";  // platform root variable (UI library may use FEPROOT)
    nxlog::Build build = nxlog::Build::UiLibrary;
    std::string exeDir;  // empty: the directory of /proc/self/exe

    static LogOptions uiLibrary(bool useNxRoot = true);  // QUORLA, Quorlaui.log
    static LogOptions plugIn();                          // ORVEX, plugin_Orvex.log
};

class Logger {
public:
    explicit Logger(LogOptions options);
    ~Logger();
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    // Record level is the digit. printN: text; printTimeN: "[time] : text"; the Reload kinds
    // read debug.ini again for this one record.
#define NXLOG_DECLARE_LEVEL(n)                                 \
    void print##n(const char* fmt, ...) NXLOG_PRINTF(2);       \
    void printReload##n(const char* fmt, ...) NXLOG_PRINTF(2); \
    void printTime##n(const char* fmt, ...) NXLOG_PRINTF(2);   \
    void printTimeReload##n(const char* fmt, ...) NXLOG_PRINTF(2);
    NXLOG_DECLARE_LEVEL(0)
    NXLOG_DECLARE_LEVEL(1)
    NXLOG_DECLARE_LEVEL(2)
    NXLOG_DECLARE_LEVEL(3)
#undef NXLOG_DECLARE_LEVEL

    void writeSection(const char* text, int level, bool newSection, bool stamped, bool reload);
    void writeSource(const char* text, int level, const char* sourceFile, int line, bool stamped,
                     bool reload);
    // UI library form of a plain text; written as UTF-8.
    void writeText(const std::u16string& text, int level, bool stamped, bool reload);

    bool isLevelOn(int level);
    bool isDataLogOn() const;

    // Re-reads debug.ini; true when it was found, DebugFlag is 1 and the log root exists.
    bool loadConfig();

    bool enabled() const {
        return m_enabled;
    }
    std::string logFilePath() const;
    std::string logDirectory() const;
    const std::string& lockName() const {
        return m_lockName;
    }
    // The in-process half of the named lock; the other half is an flock on the file
    // "." + lockName + ".lock" in the log directory. Holding both keeps every writer out.
    static std::mutex& threadLock(const std::string& lockName);
    int debugLevel() const;

private:
    enum class Gate { Enabled, Reload, None };
    struct Config {
        int32_t maxFiles = 0;
        uint32_t maxFileSize = 0;
        int32_t debugLevel = 0;
        bool dataLog = false;
        int32_t onlyLogRtuNo = 0;
        int32_t dataLogType = 0;
        uint32_t statisticsCount = 0;
        std::string logDirectory;
        std::string logFilePath;
    };

    // Builds the record from the time text, taken once under the lock.
    using RecordMaker = std::function<std::string(const std::string& timeText)>;

    void vrecord(int level, Gate gate, bool stamped, const char* fmt, va_list ap);
    bool passGate(Gate gate, int level, bool printfKind, Config* snapshot);
    void writeCycle(const Config& cfg, bool stamped, const RecordMaker& makeRecord);
    void rotateIfFull(const Config& cfg);
    bool readConfig(const std::string& iniPath, Config* cfg);
    bool resolvePaths(const std::string& root, bool iniUnderRoot, Config* cfg);
    std::string platformRoot() const;
    std::string executableDir() const;
    bool ensureDirectory(const std::string& dir) const;

    LogOptions m_options;
    std::string m_lockName;
    bool m_enabled = false;
    bool m_firstWrite = true;  // read and cleared only under the write lock
    mutable std::mutex m_configMutex;
    Config m_config;
};
