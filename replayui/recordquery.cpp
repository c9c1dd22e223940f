#include "recordquery.h"

#include <algorithm>
#include <string_view>

#include <QDateTime>

namespace recordquery {

namespace {

using manscdp::shown;

// One hash over every text of the item, so a page the platform sends twice is counted once.
size_t itemHash(const manscdp::RecordItem& item) {
    QString key;
    for (const QString* text :
         {&item.deviceId, &item.name, &item.startTime, &item.endTime, &item.secrecy, &item.type}) {
        key += *text;
        key += QChar(0x1F);  // a separator no field holds once trimmed
    }
    return std::hash<std::u16string_view>()(
        std::u16string_view(reinterpret_cast<const char16_t*>(key.utf16()), size_t(key.size())));
}

bool readCount(const QString& text, int64_t* value) {
    bool ok = false;
    const qlonglong n = text.toLongLong(&ok);
    if (!ok || n < 0)
        return false;
    *value = n;
    return true;
}

}  // namespace

bool parseRecordTime(const QString& text, int64_t* seconds) {
    QString iso = text;
    if (iso.size() > 10 && iso.at(10) == QLatin1Char(' '))
        iso[10] = QLatin1Char('T');
    const QDateTime t = QDateTime::fromString(iso, Qt::ISODate);
    if (!t.isValid())
        return false;
    *seconds = t.toSecsSinceEpoch();
    return true;
}

void RecordAssembler::begin(uint32_t sn, const QString& cameraCode) {
    *this = RecordAssembler();
    m_begun = true;
    m_sn = sn;
    m_camera = cameraCode;
}

bool RecordAssembler::complete() const {
    if (m_pages == 0)
        return false;
    // Without any SumNum the answer is taken as whole as soon as it arrives.
    return m_announced < 0 || int64_t(m_received.size()) >= m_announced;
}

bool RecordAssembler::isCurrent(const manscdp::RecordPage& page, manscdp::Notes* notes) const {
    int64_t sn = -1;
    if (!m_begun || !readCount(page.sn, &sn) || sn != int64_t(m_sn)) {
        notes->add("record answer with SN " + shown(page.sn) + " ignored: " +
                   (m_begun ? "the current query has SN " + std::to_string(m_sn)
                            : std::string("no query is open")));
        return false;
    }
    if (!page.deviceId.isEmpty() && page.deviceId != m_camera) {
        notes->add("record answer for device " + shown(page.deviceId) +
                   " ignored: the query is for " + shown(m_camera));
        return false;
    }
    return true;
}

// The largest total announced holds: completion is never declared before every page arrived.
void RecordAssembler::readSumNum(const manscdp::RecordPage& page, manscdp::Notes* notes) {
    int64_t total = 0;
    if (!page.hasSumNum || !readCount(page.sumNum, &total)) {
        notes->add((page.hasSumNum ? "record answer with an unreadable SumNum " + shown(page.sumNum)
                                   : std::string("record answer without SumNum")) +
                   (m_announced < 0 ? ": taken as the whole answer" : ""));
        return;
    }
    if (m_announced >= 0 && total != m_announced)
        notes->add("record answer pages disagree on SumNum: " + std::to_string(m_announced) +
                   " and " + std::to_string(total));
    m_announced = std::max(m_announced, total);
}

void RecordAssembler::takeItem(const manscdp::RecordItem& item, manscdp::Notes* notes) {
    if (m_received.size() >= kMaxItems) {
        if (!m_toldFull)
            notes->add("record answer holds more than " + std::to_string(kMaxItems) +
                       " items: the rest are ignored");
        m_toldFull = true;
        return;
    }
    if (!m_received.insert(itemHash(item)).second)
        return;  // already taken from a repeated page
    Segment s;
    if (!parseRecordTime(item.startTime, &s.start) || !parseRecordTime(item.endTime, &s.end)) {
        notes->add("record item skipped: " + shown(item.startTime) + " to " + shown(item.endTime) +
                   " is not a pair of times");
        return;
    }
    if (s.end < s.start) {
        notes->add("record item skipped: it ends (" + shown(item.endTime) + ") before it starts (" +
                   shown(item.startTime) + ")");
        return;
    }
    m_segments.push_back(s);
}

RecordAssembler::Outcome RecordAssembler::add(const manscdp::RecordPage& page,
                                              manscdp::Notes* notes) {
    if (!isCurrent(page, notes))
        return Outcome::Stale;
    ++m_pages;
    readSumNum(page, notes);
    for (const manscdp::RecordItem& item : page.items)
        takeItem(item, notes);
    // A platform that sends more than it announced loses nothing: every item is kept.
    if (m_announced >= 0 && int64_t(m_received.size()) > m_announced && !m_toldSurplus) {
        notes->add("record answer holds more items than its SumNum " + std::to_string(m_announced) +
                   ": all are kept");
        m_toldSurplus = true;
    }
    return complete() ? Outcome::Complete : Outcome::Added;
}

}  // namespace recordquery
