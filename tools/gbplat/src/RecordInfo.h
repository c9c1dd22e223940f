// The record query (MANSCDP Query/RecordInfo) and its answer, the Response RecordInfo that lists
// a camera's recorded segments. Times are local time, "yyyy-MM-ddTHH:mm:ss".
#pragma once

#include "Catalogue.h"
#include "RecordingModel.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace gbplat {

// Seconds since 1970 of a local time "yyyy-MM-ddTHH:mm:ss" (a blank instead of the T is
// accepted); nothing for any other text or an impossible date.
std::optional<int64_t> parseLocalTime(const std::string& text, int64_t utcOffsetSeconds);
std::string formatLocalTime(int64_t epochSeconds, int64_t utcOffsetSeconds);

struct RecordQuery {
    std::string sn;
    std::string deviceId;  // the camera's code as asked (not necessarily one of ours)
    TimeSpan span;
    std::string type;  // "all" when absent
};

// Nothing, with the reason in `why`, when SN is not a number, DeviceID is missing or too long,
// a time is unreadable or EndTime is before StartTime.
std::optional<RecordQuery> parseRecordQuery(const std::string& body, int64_t utcOffsetSeconds,
                                            std::string* why);

// Every recording is a continuous one, so only "all" and "time" find any.
bool recordTypeMatches(const std::string& type);

struct RecordBodyInput {
    std::string sn;
    std::string xmlEncoding = "GB2312";
    int64_t utcOffsetSeconds = 0;
    size_t sumNum = 0;
};

// One Response page in GB18030 bytes: the items `page` selects from `segments`. Without a
// camera (not one of ours) it names `askedId` and lists nothing.
std::string buildRecordInfoBody(const RecordBodyInput& in, const Camera* camera,
                                const std::string& askedId, const std::vector<TimeSpan>& segments,
                                CatalogPage page);

}  // namespace gbplat
