#include "Logger.h"

#include <fcntl.h>
#include <ini.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>

namespace {

bool fileExists(const std::string& path) {
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool dirExists(const std::string& path) {
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Archives never replace an existing file: Linux rename() would silently overwrite one.
bool renameNoReplace(const std::string& from, const std::string& to) {
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
#endif
    if (::link(from.c_str(), to.c_str()) != 0)
        return false;
    ::unlink(from.c_str());
    return true;
}

struct LocalTime {
    int year, month, day, hour, minute, second, millisecond;
};

LocalTime now() {
    struct timeval tv;
    ::gettimeofday(&tv, nullptr);
    struct tm tm;
    ::localtime_r(&tv.tv_sec, &tm);
    return {tm.tm_year + 1900,
            tm.tm_mon + 1,
            tm.tm_mday,
            tm.tm_hour,
            tm.tm_min,
            tm.tm_sec,
            static_cast<int>(tv.tv_usec / 1000)};
}

// Cross-process half of the named lock: flock on a lock file beside the log. The kernel drops it
// when its holder dies, so a writer killed mid-record never blocks the others.
class FileLock {
public:
    explicit FileLock(const std::string& path) {
        m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (m_fd < 0)
            return;
        while (::flock(m_fd, LOCK_EX) != 0) {
            if (errno != EINTR) {
                ::close(m_fd);
                m_fd = -1;
                return;
            }
        }
    }
    ~FileLock() {
        if (m_fd >= 0)
            ::close(m_fd);  // closing releases the flock
    }
    bool held() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

bool writeAll(int fd, const std::string& data) {
    const char* p = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

struct IniKeys {
    const char* section;
    bool caseSensitive;
    std::map<std::string, std::string> values;  // lower-cased keys when not case-sensitive
};

std::string keyOf(const char* name, bool caseSensitive) {
    std::string k(name);
    if (!caseSensitive)
        for (auto& c : k)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return k;
}

int collectKey(void* user, const char* section, const char* name, const char* value) {
    auto* keys = static_cast<IniKeys*>(user);
    bool same = keys->caseSensitive ? std::strcmp(section, keys->section) == 0
                                    : ::strcasecmp(section, keys->section) == 0;
    if (same)
        keys->values.emplace(keyOf(name, keys->caseSensitive), value);  // first one wins
    return 1;
}

}  // namespace

LogOptions LogOptions::uiLibrary(bool useNxRoot) {
    LogOptions o;
    o.section = "QUORLA";
    o.fileName = "Quorlaui.log";
    o.rootVariable = useNxRoot ? "NXROOT" : "FEPROOT";
    o.build = nxlog::Build::UiLibrary;
    return o;
}

LogOptions LogOptions::plugIn() {
    LogOptions o;
    o.section = "ORVEX";
    o.fileName = "plugin_Orvex.log";
    o.rootVariable = "NXROOT";
    o.build = nxlog::Build::PlugIn;
    return o;
}

Logger::Logger(LogOptions options) : m_options(std::move(options)) {
    if (m_options.build == nxlog::Build::PlugIn) {
        m_options.section = nxlog::boundedText(m_options.section, nxlog::kPlugInTextLimit);
        m_options.fileName = nxlog::boundedText(m_options.fileName, nxlog::kPlugInTextLimit);
        m_lockName = nxlog::boundedText(m_options.section + "_" + m_options.fileName,
                                        nxlog::kPlugInTextLimit);
    } else {
        m_lockName = m_options.section + "_" + m_options.fileName;
    }
    m_enabled = loadConfig();
}

Logger::~Logger() = default;

// All threads of the process that log under one lock name queue here before the file lock:
// flock serialises open file descriptions, and where it is emulated by record locks (NFS) not
// even those of one process.
std::mutex& Logger::threadLock(const std::string& lockName) {
    static std::mutex mapMutex;
    static std::map<std::string, std::unique_ptr<std::mutex>> locks;
    std::lock_guard<std::mutex> guard(mapMutex);
    auto& slot = locks[lockName];
    if (!slot)
        slot = std::make_unique<std::mutex>();
    return *slot;
}

std::string Logger::platformRoot() const {
    const char* v = std::getenv(m_options.rootVariable.c_str());
    return v ? std::string(v) : std::string();
}

std::string Logger::executableDir() const {
    if (!m_options.exeDir.empty())
        return m_options.exeDir;
    char buf[4096];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return std::string();
    std::string path(buf, static_cast<std::size_t>(n));
    auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool Logger::loadConfig() {
    const std::string root = platformRoot();
    const std::string rootIni = root.empty() ? std::string() : root + "/cfg/debug.ini";
    const bool iniUnderRoot = fileExists(rootIni);
    const std::string iniPath = iniUnderRoot ? rootIni : executableDir() + "/debug.ini";

    Config cfg;
    {
        std::lock_guard<std::mutex> guard(m_configMutex);
        cfg = m_config;
    }
    if (!readConfig(iniPath, &cfg))
        return false;
    const bool resolved = resolvePaths(root, iniUnderRoot, &cfg);
    std::lock_guard<std::mutex> guard(m_configMutex);
    m_config = cfg;  // keys read count even when the log root is missing; paths only if resolved
    return resolved;
}

bool Logger::readConfig(const std::string& iniPath, Config* cfg) {
    if (iniPath.empty() || !fileExists(iniPath))
        return false;
    const bool ui = m_options.build == nxlog::Build::UiLibrary;
    IniKeys keys{m_options.section.c_str(), ui, {}};
    if (::ini_parse(iniPath.c_str(), collectKey, &keys) < 0)
        return false;

    auto number = [&](const char* key, int64_t def) {
        auto it = keys.values.find(keyOf(key, ui));
        return nxlog::profileNumber(it == keys.values.end() ? nullptr : it->second.c_str(), def,
                                    ui);
    };
    if (number("DebugFlag", 0) != 1)
        return false;
    cfg->maxFiles = static_cast<int32_t>(number("MaxFiles", 512));
    cfg->maxFileSize = static_cast<uint32_t>(number("MaxFileSize", 524288));
    cfg->debugLevel = static_cast<int32_t>(number("DebugLevel", 0));
    cfg->dataLog = number("DataLog", 0) == 1;
    cfg->onlyLogRtuNo = static_cast<int32_t>(number("OnlyLogRTUNo", 0));
    cfg->dataLogType = static_cast<int32_t>(number("DataLogType", 0));
    cfg->statisticsCount = static_cast<uint32_t>(number("StatisticsCount", 0));
    return true;
}

bool Logger::resolvePaths(const std::string& root, bool iniUnderRoot, Config* cfg) {
    const bool ui = m_options.build == nxlog::Build::UiLibrary;
    const bool rootCounts = ui ? !root.empty() : iniUnderRoot;
    const std::string logRoot = rootCounts ? root : executableDir();
    if (!dirExists(logRoot))
        return false;
    std::string dir = logRoot + "/log";
    if (!m_options.section.empty())
        dir += "/" + m_options.section;
    std::string file = dir + "/" + m_options.fileName;
    if (!ui) {
        dir = nxlog::boundedText(dir, nxlog::kPlugInPathLimit);
        file = nxlog::boundedText(file, nxlog::kPlugInPathLimit);
    }
    cfg->logDirectory = dir;
    cfg->logFilePath = file;
    return true;
}

bool Logger::ensureDirectory(const std::string& dir) const {
    if (dir.empty())
        return false;
    if (dirExists(dir))
        return true;
    if (m_options.build == nxlog::Build::PlugIn)
        return ::mkdir(dir.c_str(), 0755) == 0;
    for (std::size_t pos = 1; pos != std::string::npos; ++pos) {
        pos = dir.find('/', pos);
        const std::string part = dir.substr(0, pos);
        if (!dirExists(part) && ::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
            return false;
        if (pos == std::string::npos)
            break;
    }
    return dirExists(dir);
}

bool Logger::passGate(Gate gate, int level, bool printfKind, Config* snapshot) {
    if (gate == Gate::Reload && !loadConfig())
        return false;
    {
        std::lock_guard<std::mutex> guard(m_configMutex);
        *snapshot = m_config;
    }
    if (gate == Gate::Enabled && !m_enabled)
        return false;
    return printfKind ? nxlog::printfLevelPasses(level, snapshot->debugLevel)
                      : nxlog::levelPasses(level, snapshot->debugLevel);
}

void Logger::rotateIfFull(const Config& cfg) {
    struct stat st;
    if (::stat(cfg.logFilePath.c_str(), &st) != 0)
        return;
    if (static_cast<uint64_t>(st.st_size) < cfg.maxFileSize)
        return;
    const std::string& file = cfg.logFilePath;
    const nxlog::ArchivePlan plan = nxlog::planArchive(
        cfg.maxFiles, [&](int slot) { return fileExists(nxlog::archiveName(file, slot)); });
    if (plan.purgeAll)
        for (int i = 0; i < cfg.maxFiles; ++i)
            ::unlink(nxlog::archiveName(file, i).c_str());
    renameNoReplace(file, nxlog::archiveName(file, plan.slot));  // failure: the file keeps growing
}

void Logger::writeCycle(const Config& cfg, bool stamped, const RecordMaker& makeRecord) {
    if (cfg.logFilePath.empty())
        return;
    if (!ensureDirectory(cfg.logDirectory))
        return;

    std::lock_guard<std::mutex> threads(threadLock(m_lockName));
    FileLock processes(cfg.logDirectory + "/." + m_lockName + ".lock");
    if (!processes.held())
        return;

    rotateIfFull(cfg);
    const int fd = ::open(cfg.logFilePath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;

    const LocalTime t = now();
    const std::string timeText =
        nxlog::timeText(m_options.build, t.hour, t.minute, t.second, t.millisecond);
    std::string out;
    if (m_firstWrite) {
        m_firstWrite = false;
        out = nxlog::kBanner;
        if (stamped)
            out += "Date: " + nxlog::dateText(t.year, t.month, t.day) + "\n";
    }
    out += makeRecord(timeText);
    writeAll(fd, out);  // one write per record keeps concurrent appends whole
    ::close(fd);
}

void Logger::vrecord(int level, Gate gate, bool stamped, const char* fmt, va_list ap) {
    Config cfg;
    if (fmt == nullptr || !passGate(gate, level, true, &cfg))
        return;
    char text[nxlog::kMaxRecordText + 1];
    int n = std::vsnprintf(text, sizeof text, fmt, ap);
    if (n < 0)
        text[0] = '\0';
    writeCycle(cfg, stamped, [&](const std::string& time) {
        return stamped ? "[" + time + "] : " + text + "\n" : std::string(text) + "\n";
    });
}

#define NXLOG_DEFINE(name, level, gate, stamped) \
    void Logger::name(const char* fmt, ...) {    \
        va_list ap;                              \
        va_start(ap, fmt);                       \
        vrecord(level, gate, stamped, fmt, ap);  \
        va_end(ap);                              \
    }
#define NXLOG_DEFINE_LEVEL(n)                            \
    NXLOG_DEFINE(print##n, n, Gate::Enabled, false)      \
    NXLOG_DEFINE(printReload##n, n, Gate::Reload, false) \
    NXLOG_DEFINE(printTime##n, n, Gate::Enabled, true)
NXLOG_DEFINE_LEVEL(0)
NXLOG_DEFINE_LEVEL(1)
NXLOG_DEFINE_LEVEL(2)
NXLOG_DEFINE_LEVEL(3)
NXLOG_DEFINE(printTimeReload1, 1, Gate::Reload, true)
NXLOG_DEFINE(printTimeReload2, 2, Gate::Reload, true)
NXLOG_DEFINE(printTimeReload3, 3, Gate::Reload, true)
#undef NXLOG_DEFINE_LEVEL
#undef NXLOG_DEFINE

// Unlike its siblings, this one drops a record whose format alone is over the record limit.
void Logger::printTimeReload0(const char* fmt, ...) {
    if (fmt == nullptr || std::strlen(fmt) > nxlog::kMaxRecordText)
        return;
    va_list ap;
    va_start(ap, fmt);
    vrecord(0, Gate::Reload, true, fmt, ap);
    va_end(ap);
}

void Logger::writeSection(const char* text, int level, bool newSection, bool stamped, bool reload) {
    Config cfg;
    if (!passGate(reload ? Gate::Reload : Gate::None, level, false, &cfg))
        return;
    const bool hasText = text != nullptr;
    if (stamped && !newSection && !hasText)
        return;  // nothing to write
    writeCycle(cfg, stamped, [&](const std::string& time) {
        const std::string stamp = "[" + time + "] : ";
        std::string out;
        if (!stamped)
            out = nxlog::kSectionMarker;
        else if (newSection)
            out = stamp + nxlog::kSectionMarker;
        if (hasText)
            out += (stamped ? stamp : std::string()) + text + "\n";
        return out;
    });
}

void Logger::writeSource(const char* text, int level, const char* sourceFile, int line,
                         bool stamped, bool reload) {
    Config cfg;
    if (!passGate(reload ? Gate::Reload : Gate::None, level, false, &cfg))
        return;
    if (text == nullptr)
        return;
    writeCycle(cfg, stamped, [&](const std::string& time) {
        std::string out = stamped ? "[" + time + "]" : std::string();
        if (sourceFile != nullptr)
            out += sourceFile;
        return out + "(" + std::to_string(line) + ") : " + text + "\n";
    });
}

void Logger::writeText(const std::u16string& text, int level, bool stamped, bool reload) {
    Config cfg;
    if (!passGate(reload ? Gate::Reload : Gate::None, level, false, &cfg))
        return;
    if (text.empty())
        return;
    const std::string utf8 = nxlog::utf16ToUtf8(text);
    writeCycle(cfg, stamped, [&](const std::string& time) {
        return (stamped ? "[" + time + "] : " : std::string()) + utf8 + "\n";
    });
}

bool Logger::isLevelOn(int level) {
    if (!loadConfig())
        return false;
    std::lock_guard<std::mutex> guard(m_configMutex);
    return nxlog::levelPasses(level, m_config.debugLevel);
}

bool Logger::isDataLogOn() const {
    std::lock_guard<std::mutex> guard(m_configMutex);
    return m_enabled && m_config.dataLog;
}

std::string Logger::logFilePath() const {
    std::lock_guard<std::mutex> guard(m_configMutex);
    return m_config.logFilePath;
}

std::string Logger::logDirectory() const {
    std::lock_guard<std::mutex> guard(m_configMutex);
    return m_config.logDirectory;
}

int Logger::debugLevel() const {
    std::lock_guard<std::mutex> guard(m_configMutex);
    return m_config.debugLevel;
}
