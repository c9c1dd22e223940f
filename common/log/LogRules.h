#pragma once
// Pure rules of the diagnostic log: no files, no clock, no locks, so each is tested on its own.
#include <cstdint>
#include <functional>
#include <string>

namespace nxlog {

// The two deliverables share one Logger; these are the points where their logs differ.
enum class Build { UiLibrary, PlugIn };

constexpr std::size_t kMaxRecordText = 4339;   // longest formatted record text kept
constexpr std::size_t kPlugInTextLimit = 63;   // lock name, section and file name (plug-in)
constexpr std::size_t kPlugInPathLimit = 511;  // log directory and file path (plug-in)
constexpr const char* kBanner = "\n\n\n------- New log system start -------\n";
constexpr const char* kSectionMarker = "    <<<< New Section >>>>\n";

// DebugLevel 6 lets only level-2 records through; otherwise a record passes up to DebugLevel.
bool levelPasses(int level, int debugLevel);
// The printf-style level-0 members test only DebugLevel != 6, so they write even at -1.
bool printfLevelPasses(int level, int debugLevel);

// "yyyy-MM-dd" in both builds.
std::string dateText(int year, int month, int day);
// UI library "hh:mm::ss:zzz", plug-in "%02d:%02d:%02d:%04d".
std::string timeText(Build build, int hour, int minute, int second, int millisecond);

// Archive name of slot i: path + "." + i with at least three digits.
std::string archiveName(const std::string& logFile, int slot);

struct ArchivePlan {
    int slot = 0;           // archive slot the full file is renamed to (never replacing a file)
    bool purgeAll = false;  // every slot 0..MaxFiles-1 is taken: delete them all first
};
// Lowest free slot from 0 to MaxFiles-1; all taken: purge and reuse 0.
ArchivePlan planArchive(int maxFiles, const std::function<bool(int slot)>& slotExists);

// Integer keys of debug.ini: a missing key (null) gives the default, a text that is not a number 0.
// The plug-in reads like the private-profile reader (leading digits count: "12abc" -> 12); the UI
// library like its settings object, which wants the whole text to be a number (wholeText).
// The caller narrows the result to its field's width, as the 32-bit readers do.
int64_t profileNumber(const char* text, int64_t defaultValue, bool wholeText = false);

// Cuts a text to the plug-in's fixed buffers (limit characters, the rest dropped).
std::string boundedText(const std::string& text, std::size_t limit);

std::string utf16ToUtf8(const std::u16string& text);

}  // namespace nxlog
