#include "RecordInfo.h"

#include "SipMessage.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <sstream>

namespace gbplat {

namespace {

bool isNumber(const std::string& s, size_t maxDigits) {
    return !s.empty() && s.size() <= maxDigits &&
           s.find_first_not_of("0123456789") == std::string::npos;
}

std::string filePath(const std::string& code, int64_t start, int64_t utcOffsetSeconds) {
    std::string t = formatLocalTime(start, utcOffsetSeconds);
    t.erase(std::remove_if(t.begin(), t.end(), [](char c) { return c == '-' || c == ':'; }),
            t.end());
    return "/record/" + code + "/" + t + ".ps";
}

}  // namespace

std::optional<int64_t> parseLocalTime(const std::string& text, int64_t utcOffsetSeconds) {
    if (text.size() != 19 || (text[10] != 'T' && text[10] != ' '))
        return std::nullopt;
    static const int digitsAt[] = {0, 1, 2, 3, 5, 6, 8, 9, 11, 12, 14, 15, 17, 18};
    for (int i : digitsAt) {
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
    }
    if (text[4] != '-' || text[7] != '-' || text[13] != ':' || text[16] != ':')
        return std::nullopt;
    std::tm tm{};
    tm.tm_year = std::stoi(text.substr(0, 4)) - 1900;
    tm.tm_mon = std::stoi(text.substr(5, 2)) - 1;
    tm.tm_mday = std::stoi(text.substr(8, 2));
    tm.tm_hour = std::stoi(text.substr(11, 2));
    tm.tm_min = std::stoi(text.substr(14, 2));
    tm.tm_sec = std::stoi(text.substr(17, 2));
    std::tm asked = tm;
    int64_t t = int64_t(timegm(&tm));
    // timegm normalises 2024-02-30 into March: such a date was never a real one.
    if (tm.tm_mon != asked.tm_mon || tm.tm_mday != asked.tm_mday || tm.tm_hour != asked.tm_hour ||
        tm.tm_min != asked.tm_min || tm.tm_sec != asked.tm_sec) {
        return std::nullopt;
    }
    return t - utcOffsetSeconds;
}

std::string formatLocalTime(int64_t epochSeconds, int64_t utcOffsetSeconds) {
    time_t t = time_t(epochSeconds + utcOffsetSeconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &tm);
    return buf;
}

std::optional<RecordQuery> parseRecordQuery(const std::string& body, int64_t utcOffsetSeconds,
                                            std::string* why) {
    auto fail = [why](const char* reason) {
        if (why)
            *why = reason;
        return std::nullopt;
    };
    RecordQuery q;
    q.sn = xmlElementText(body, "SN");
    q.deviceId = xmlElementText(body, "DeviceID");
    q.type = xmlElementText(body, "Type");
    if (q.type.empty())
        q.type = "all";
    if (!isNumber(q.sn, 10))
        return fail("SN is not a number");
    if (q.deviceId.empty() || q.deviceId.size() > 32)
        return fail("DeviceID missing or too long");
    auto start = parseLocalTime(xmlElementText(body, "StartTime"), utcOffsetSeconds);
    auto end = parseLocalTime(xmlElementText(body, "EndTime"), utcOffsetSeconds);
    if (!start || !end)
        return fail("StartTime or EndTime is not yyyy-MM-ddTHH:mm:ss");
    if (*end < *start)
        return fail("EndTime before StartTime");
    q.span = {*start, *end};
    return q;
}

bool recordTypeMatches(const std::string& type) {
    return equalsNoCase(type, "all") || equalsNoCase(type, "time");
}

std::string buildRecordInfoBody(const RecordBodyInput& in, const Camera* camera,
                                const std::string& askedId, const std::vector<TimeSpan>& segments,
                                CatalogPage page) {
    std::string id = camera ? camera->code : xmlEscape(askedId);
    std::string name = camera ? xmlName(*camera) : std::string();
    size_t first = std::min(page.first, segments.size());
    size_t count = camera ? std::min(page.count, segments.size() - first) : 0;
    std::ostringstream o;
    o << "<?xml version=\"1.0\" encoding=\"" << in.xmlEncoding << "\"?>\r\n"
      << "<Response>\r\n"
      << "<CmdType>RecordInfo</CmdType>\r\n"
      << "<SN>" << in.sn << "</SN>\r\n"
      << "<DeviceID>" << id << "</DeviceID>\r\n"
      << "<Name>" << name << "</Name>\r\n"
      << "<SumNum>" << (camera ? in.sumNum : 0) << "</SumNum>\r\n"
      << "<RecordList Num=\"" << count << "\">\r\n";
    for (size_t i = first; i < first + count; ++i) {
        const TimeSpan& s = segments[i];
        o << "<Item>\r\n"
          << "<DeviceID>" << id << "</DeviceID>\r\n"
          << "<Name>" << name << "</Name>\r\n"
          << "<FilePath>" << filePath(id, s.start, in.utcOffsetSeconds) << "</FilePath>\r\n"
          << "<Address>" << cameraAddress(*camera) << "</Address>\r\n"
          << "<StartTime>" << formatLocalTime(s.start, in.utcOffsetSeconds) << "</StartTime>\r\n"
          << "<EndTime>" << formatLocalTime(s.end, in.utcOffsetSeconds) << "</EndTime>\r\n"
          << "<Secrecy>0</Secrecy>\r\n"
          << "<Type>time</Type>\r\n"
          << "</Item>\r\n";
    }
    o << "</RecordList>\r\n"
      << "</Response>\r\n";
    return o.str();
}

}  // namespace gbplat
