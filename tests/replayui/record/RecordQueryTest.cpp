// The answer to a record query assembled from its pages, and the timeline of a span.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include <QDateTime>

#include "recordtimeline.h"

using recordquery::RecordAssembler;
using recordquery::Timeline;
using Outcome = RecordAssembler::Outcome;

namespace {

const QString kCamera = QStringLiteral("34020000001310000001");

// Local time on a day of March 2024, as "yyyy-MM-ddTHH:mm:ss" and in seconds since the epoch.
QString text(int day, int hour, int minute) {
    return QDateTime(QDate(2024, 3, day), QTime(hour, minute))
        .toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
}
int64_t secs(int day, int hour, int minute) {
    return QDateTime(QDate(2024, 3, day), QTime(hour, minute)).toSecsSinceEpoch();
}

manscdp::RecordPage page(const char* sn, const char* sumNum,
                         const std::vector<std::pair<QString, QString>>& items,
                         const QString& device = kCamera) {
    manscdp::RecordPage p;
    p.sn = QLatin1String(sn);
    p.deviceId = device;
    p.hasSumNum = sumNum != nullptr;
    p.sumNum = QLatin1String(sumNum ? sumNum : "");
    for (const auto& [start, end] : items)
        p.items.push_back({kCamera, QStringLiteral("rec"), start, end, QStringLiteral("0"),
                           QStringLiteral("time")});
    return p;
}

// One recording from 03:10 of a day to 03:00 of the next: the daily gap of 03:00 to 03:10.
std::pair<QString, QString> day(int d) {
    return {text(d, 3, 10), text(d + 1, 3, 0)};
}

TEST(RecordAssembler, PagesOfTheCurrentQuery) {
    const auto good = day(4);
    const std::pair<QString, QString> badTime{text(5, 1, 0), QStringLiteral("2024-03-05T25:00:00")};
    const std::pair<QString, QString> reversed{text(5, 2, 0), text(5, 1, 0)};
    const std::pair<QString, QString> spaced{QStringLiteral("2024-03-05 03:10:00"), text(5, 4, 0)};
    struct Row {
        const char* name;
        std::vector<manscdp::RecordPage> pages;
        std::vector<Outcome> outcomes;
        size_t segments;
        const char* note;  // a reason expected among the notes, or nullptr for none at all
    };
    const std::vector<Row> rows = {
        {"complete when SumNum items arrived",
         {page("17", "3", {day(4), day(5)}), page("17", "3", {day(6)})},
         {Outcome::Added, Outcome::Complete},
         3,
         nullptr},
        {"stale SN",
         {page("16", "1", {day(4)})},
         {Outcome::Stale},
         0,
         "the current query has SN 17"},
        {"another camera",
         {page("17", "1", {day(4)}, QStringLiteral("34020000001310000002"))},
         {Outcome::Stale},
         0,
         "ignored: the query is for"},
        {"missing SumNum: the page is the whole answer",
         {page("17", nullptr, {day(4), spaced})},
         {Outcome::Complete},
         2,
         "without SumNum: taken as the whole answer"},
        {"bad times are skipped but counted",
         {page("17", "3", {good, badTime, reversed})},
         {Outcome::Complete},
         1,
         "is not a pair of times"},
        {"a recording that ends before it starts",
         {page("17", "1", {reversed})},
         {Outcome::Complete},
         0,
         "before it starts"},
        {"more items than SumNum are all kept",
         {page("17", "1", {day(4), day(5)})},
         {Outcome::Complete},
         2,
         "more items than its SumNum 1: all are kept"},
        {"a repeated page counts once",
         {page("17", "3", {day(4), day(5)}), page("17", "3", {day(4), day(5)}),
          page("17", "3", {day(6)})},
         {Outcome::Added, Outcome::Added, Outcome::Complete},
         3,
         nullptr},
        {"SumNum 0: known to hold nothing", {page("17", "0", {})}, {Outcome::Complete}, 0, nullptr},
        {"unreadable SumNum", {page("17", "x", {day(4)})}, {Outcome::Complete}, 1, "unreadable"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        RecordAssembler a;
        a.begin(17, kCamera);
        manscdp::Notes notes;
        for (size_t i = 0; i < row.pages.size(); ++i)
            EXPECT_EQ(a.add(row.pages[i], &notes), row.outcomes[i]) << "page " << i;
        EXPECT_EQ(a.segments().size(), row.segments);
        EXPECT_EQ(a.answered(), row.outcomes.back() != Outcome::Stale);
        std::string all;
        for (const std::string& line : notes.lines())
            all += line + "\n";
        if (row.note == nullptr) {
            EXPECT_TRUE(all.empty()) << all;
        } else {
            EXPECT_NE(all.find(row.note), std::string::npos) << all;
        }
    }
}

TEST(RecordAssembler, NothingIsTakenBeforeAQueryAndANewQueryForgetsTheOld) {
    RecordAssembler a;
    manscdp::Notes notes;
    EXPECT_EQ(a.add(page("17", "1", {day(4)}), &notes), Outcome::Stale);
    a.begin(17, kCamera);
    EXPECT_EQ(a.add(page("17", "2", {day(4)}), &notes), Outcome::Added);
    a.begin(18, kCamera);
    EXPECT_FALSE(a.answered());
    EXPECT_FALSE(a.complete());
    EXPECT_TRUE(a.segments().empty());
    EXPECT_EQ(a.add(page("17", "2", {day(5)}), &notes), Outcome::Stale);
}

struct Piece {
    int64_t start, end;
    bool recorded;
};

TEST(Timeline, SpanAcrossTheDailyGap) {
    // The answer to a query for 4 to 7 March, in two pages.
    RecordAssembler a;
    a.begin(17, kCamera);
    manscdp::Notes notes;
    a.add(page("17", "3", {day(4), day(5)}), &notes);
    ASSERT_EQ(a.add(page("17", "3", {day(6)}), &notes), Outcome::Complete);
    const std::vector<recordquery::Segment> answer = a.segments();

    struct Row {
        const char* name;
        int64_t from, to;
        std::vector<recordquery::Segment> recordings;
        std::vector<Piece> pieces;
        std::optional<int64_t> first;
    };
    const std::vector<Row> rows = {
        {"02:00 to 04:00 crosses the gap",
         secs(5, 2, 0),
         secs(5, 4, 0),
         answer,
         {{secs(5, 2, 0), secs(5, 3, 0), true},
          {secs(5, 3, 0), secs(5, 3, 10), false},
          {secs(5, 3, 10), secs(5, 4, 0), true}},
         secs(5, 2, 0)},
        {"a span that starts in the gap plays from the first recording",
         secs(6, 3, 5),
         secs(6, 5, 0),
         answer,
         {{secs(6, 3, 5), secs(6, 3, 10), false}, {secs(6, 3, 10), secs(6, 5, 0), true}},
         secs(6, 3, 10)},
        {"a span wholly in the gap",
         secs(5, 3, 1),
         secs(5, 3, 9),
         answer,
         {{secs(5, 3, 1), secs(5, 3, 9), false}},
         std::nullopt},
        {"overlapping and touching recordings merge",
         secs(5, 0, 0),
         secs(5, 2, 0),
         {{secs(5, 1, 0), secs(5, 1, 30)},
          {secs(4, 23, 0), secs(5, 0, 30)},
          {secs(5, 0, 20), secs(5, 1, 0)}},
         {{secs(5, 0, 0), secs(5, 1, 30), true}, {secs(5, 1, 30), secs(5, 2, 0), false}},
         secs(5, 0, 0)},
        {"an empty answer",
         secs(5, 0, 0),
         secs(5, 1, 0),
         {},
         {{secs(5, 0, 0), secs(5, 1, 0), false}},
         std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Timeline t = Timeline::of(row.from, row.to, row.recordings);
        EXPECT_TRUE(t.known());
        ASSERT_EQ(t.pieces().size(), row.pieces.size());
        for (size_t i = 0; i < row.pieces.size(); ++i) {
            EXPECT_EQ(t.pieces()[i].start, row.pieces[i].start) << i;
            EXPECT_EQ(t.pieces()[i].end, row.pieces[i].end) << i;
            EXPECT_EQ(t.pieces()[i].recorded, row.pieces[i].recorded) << i;
        }
        EXPECT_EQ(t.firstRecordedInstant(), row.first);
        EXPECT_EQ(t.nothingRecorded(), !row.first.has_value());
    }

    // No answer is not an empty answer.
    const Timeline unknown;
    EXPECT_FALSE(unknown.known());
    EXPECT_FALSE(unknown.nothingRecorded());
    EXPECT_TRUE(unknown.pieces().empty());
}

}  // namespace
