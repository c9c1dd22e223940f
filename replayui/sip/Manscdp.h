#pragma once
// Reading of the MANSCDP XML bodies the platform sends: catalogue items and the pages of a record
// answer. Pure: bytes in, records out. A body that declares a DOCTYPE is refused before it is
// parsed, so no entity is ever expanded; every text is held whole or refused, never cut, except
// the item name, which is cut at a character boundary to fit its field.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <QString>

// One catalogue item received from the platform. Fixed layout; texts are NUL-terminated.
struct SIP_CATALOG {
    char DeviceID[21];
    char ParentID[21];
    int32_t idNumber;
    int32_t typeCode;
    int32_t channelNum;
    uint8_t online;
    int32_t registerWay;
    uint8_t statusMarkA;
    uint8_t statusMarkB;
    char Name[256];  // local 8-bit encoding (GB18030)
    int32_t idGroupA;
    int32_t idGroupB;
    int32_t idGroupC;
    int32_t idGroupD;
    char IPAddress[16];
};

namespace manscdp {

// What a body was read as. Catalog: it replaced the catalogue. RecordInfo: it gave a record
// page. Other: any other body (keepalive, media status, a query, or one that was refused).
enum class Command { None, Catalog, RecordInfo, Other };

// What a catalogue item's Status and Event elements said, beside its record: the record keeps
// only "online", which cannot tell OFF from a status nobody knows, nor a change notice from an
// entry of the catalogue.
struct ItemState {
    enum class Status : uint8_t { Absent, On, Off, Unknown };
    Status status = Status::Absent;
    std::string statusShown;  // the Status text as a note shows it (for the log)
    std::string event;        // the Event element, blanks trimmed; "" when there is none
};

// One recording of a record answer; texts as received, blanks trimmed.
struct RecordItem {
    QString deviceId, name, startTime, endTime, secrecy, type;
};

// One page of a record answer. The items of one answer may be spread over several pages.
struct RecordPage {
    QString sn, deviceId, sumNum;
    bool hasSumNum = false;
    std::vector<RecordItem> items;
};

// Reasons worth a log line, found while reading one body. Bounded: a body of ten thousand bad
// items gives the first few reasons and a count of the others.
class Notes {
public:
    static constexpr size_t kKept = 16;
    void add(std::string text);
    void clear();
    const std::vector<std::string>& lines() const { return m_lines; }
    size_t more() const { return m_more; }  // reasons beyond the kept ones

private:
    std::vector<std::string> m_lines;
    size_t m_more = 0;
};

// A received text as a note shows it: printable ASCII (anything else as '?'), quoted, and at
// most a few dozen characters.
std::string shown(const QString& text);

// Reads a body in the system's local 8-bit encoding. A Catalog body (root Response or Notify)
// replaces *catalogue; a RecordInfo answer (root Response) replaces *page. A catalogue item
// whose DeviceID, ParentID or IPAddress is refused is still kept, with that field as if its
// element were absent: the rest of the item (name, status) stays true, and nothing half-read is
// passed on. Each refusal leaves a note.
// states, when given, gets one entry per catalogue item, in the same order.
Command read(const char* body, int length, std::vector<SIP_CATALOG>* catalogue, RecordPage* page,
             Notes* notes, std::vector<ItemState>* states = nullptr);

}  // namespace manscdp
