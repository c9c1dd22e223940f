#pragma once
// Assembles the answer to one record query. The platform spreads a camera's recordings over
// several MESSAGEs, each carrying the query's SN and the total count (SumNum); pages of an
// earlier query may still arrive after a new one was sent. Pure: pages in, segments out.
#include <cstdint>
#include <unordered_set>
#include <vector>

#include <QString>

#include "Manscdp.h"

namespace recordquery {

// One recording, in seconds since the epoch.
struct Segment {
    int64_t start = 0, end = 0;
};

// Seconds since the epoch of a record time: local time "yyyy-MM-ddTHH:mm:ss" (a space for the
// "T", fractions and a zone offset are accepted too); false when the text is no such time.
bool parseRecordTime(const QString& text, int64_t* seconds);

class RecordAssembler {
public:
    // Stale: the page belongs to no current query and changed nothing. Added: items were taken
    // and more are announced. Complete: every announced item has arrived; later pages of the same
    // query are still taken.
    enum class Outcome { Stale, Added, Complete };
    // Items kept per query; a hostile peer repeating pages cannot grow the list further.
    static constexpr size_t kMaxItems = 20000;

    // A new query: from now on only pages with this SN (and, when they name one, this camera)
    // are taken.
    void begin(uint32_t sn, const QString& cameraCode);
    // Takes one page. Every item counts towards SumNum, but only well-formed ones become
    // segments; each skipped item and each oddity of the page leaves a reason in notes.
    Outcome add(const manscdp::RecordPage& page, manscdp::Notes* notes);

    bool answered() const { return m_pages > 0; }  // a page of the current query arrived
    bool complete() const;
    const std::vector<Segment>& segments() const { return m_segments; }

private:
    bool isCurrent(const manscdp::RecordPage& page, manscdp::Notes* notes) const;
    void readSumNum(const manscdp::RecordPage& page, manscdp::Notes* notes);
    void takeItem(const manscdp::RecordItem& item, manscdp::Notes* notes);

    bool m_begun = false;
    uint32_t m_sn = 0;
    QString m_camera;
    int m_pages = 0;
    int64_t m_announced = -1;               // the largest SumNum received, -1 while none was
    std::unordered_set<size_t> m_received;  // hashes of the distinct items: a page repeated
                                            // by the platform counts once
    std::vector<Segment> m_segments;
    bool m_toldSurplus = false, m_toldFull = false;
};

}  // namespace recordquery
