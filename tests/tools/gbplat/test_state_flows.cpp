// What the platform tells a console over time: record lists, subscriptions that end unless
// refreshed, and camera status changes sent to every live subscriber.
#include "PlatformFlow.h"

#include <ctime>
#include <set>

namespace {

const char* kOtherUser = "34020000001320000002";
const Endpoint kOtherConsole{"127.0.0.1", 5070};

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    for (size_t p = text.find(from); p != std::string::npos; p = text.find(from, p + to.size()))
        text.replace(p, from.size(), to);
    return text;
}

// The test's own local time (UTC in these tests) of an instant.
std::string localText(int64_t t) {
    time_t tt = time_t(t);
    std::tm tm{};
    gmtime_r(&tt, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &tm);
    return buf;
}

std::string recordQuery(const std::string& camera, const std::string& start, const std::string& end,
                        const std::string& type, const std::string& sn = "<SN>42</SN>\r\n") {
    return "<?xml version=\"1.0\"?>\r\n<Query>\r\n<CmdType>RecordInfo</CmdType>\r\n" + sn +
           "<DeviceID>" + camera + "</DeviceID>\r\n<StartTime>" + start +
           "</StartTime>\r\n<EndTime>" + end + "</EndTime>\r\n<Secrecy>0</Secrecy>\r\n<Type>" +
           type + "</Type>\r\n</Query>\r\n";
}

// Every element `name` of a body, in order.
std::vector<std::string> xmlTexts(const std::string& body, const std::string& name) {
    std::vector<std::string> out;
    std::string open = "<" + name + ">";
    for (size_t p = body.find(open); p != std::string::npos; p = body.find(open, p + 1))
        out.push_back(body.substr(p + open.size(), body.find('<', p + 1) - p - open.size()));
    return out;
}

// The catalogue item of one camera in a body, or empty.
std::string itemOf(const std::string& body, const std::string& code) {
    size_t p = body.find("<Item>\r\n<DeviceID>" + code + "</DeviceID>");
    return p == std::string::npos ? std::string() : body.substr(p, body.find("</Item>", p) - p);
}

// One subscriber's side of a subscription dialog.
struct Sub {
    Sub(std::string id, std::string tag, std::string device = kUser, int at = 5060)
        : callId(std::move(id)), fromTag(std::move(tag)), user(std::move(device)), port(at) {}
    std::string callId;
    std::string fromTag;
    std::string toTag;  // ours, once the 200 gave it
    int cseq = 1;
    std::string user;
    int port;
};

std::string subscribeText(const Sub& s, int expires) {
    static int branch = 0;
    std::string at = "127.0.0.1:" + std::to_string(s.port);
    return withBody(
        "SUBSCRIBE sip:01552403048401000001@127.0.0.1:5061 SIP/2.0\r\n"
        "Via: SIP/2.0/UDP " +
            at + ";rport;branch=z9hG4bK-sub" + std::to_string(++branch) +
            "\r\nFrom: <sip:" + s.user + "@127.0.0.1>;tag=" + s.fromTag +
            "\r\nTo: <sip:01552403048401000001@127.0.0.1>" +
            (s.toTag.empty() ? "" : ";tag=" + s.toTag) + "\r\nCall-ID: " + s.callId +
            "\r\nCSeq: " + std::to_string(s.cseq) +
            " SUBSCRIBE\r\nEvent: presence\r\nMax-Forwards: 70\r\nContact: <sip:" + s.user + "@" +
            at + ">\r\nContent-Type: application/MANSCDP+xml\r\nExpires: " +
            std::to_string(expires) + "\r\n",
        kCatalogQuery);
}

class StateFlow : public PlatformFlow {
protected:
    // Answers every request of the platform with 200 until it has nothing more to send;
    // returns those requests.
    std::vector<Sent> answerAll(std::vector<Sent> pending) {
        std::vector<Sent> requests;
        for (size_t i = 0; i < pending.size(); ++i) {
            Sent s = pending[i];
            if (startLine(s.text).rfind("SIP/2.0 ", 0) == 0)
                continue;
            requests.push_back(s);
            for (auto& next : in(okFor(s.text), s.to))
                pending.push_back(next);
        }
        return requests;
    }
    // Subscribes and takes the whole catalogue; returns the 200's Expires.
    std::string subscribe(Sub& s, int expires) {
        auto r = in(subscribeText(s, expires), {"127.0.0.1", s.port});
        EXPECT_GE(r.size(), 1u);
        if (r.empty())
            return std::string();
        EXPECT_EQ(startLine(r[0].text), "SIP/2.0 200 OK");
        if (s.toTag.empty())
            s.toTag = tagOf(field(r[0].text, "To"));
        for (auto& n : answerAll({r.begin() + 1, r.end()}))
            EXPECT_EQ(field(n.text, "Call-ID"), s.callId);
        return field(r[0].text, "Expires");
    }
    void registerOtherConsole() {
        auto as = [](const std::string& t) {
            return replaceAll(replaceAll(t, kUser, kOtherUser), "127.0.0.1:5060", "127.0.0.1:5070");
        };
        std::string resp =
            digestResponse(kOtherUser, "3402000000", "482913", "REGISTER",
                           "sip:01552403048401000001@127.0.0.1:5061", kNonce, "", "", "");
        auto r = in(as(registerText(2, consoleAuth(resp))), kOtherConsole);
        ASSERT_EQ(r.size(), 1u);
        ASSERT_EQ(startLine(r[0].text), "SIP/2.0 200 OK");
    }
};

TEST_F(StateFlow, RecordInfoListsTheRecordedSegmentsInPages) {
    start();
    registerConsole();
    const int64_t day = 86400, midnight = kNoon - 12 * 3600, h = 3600;
    const int64_t from = midnight - 5 * day, to = midnight - 1;
    std::vector<TimeSpan> fiveDays = {{from, from + 3 * h}};
    for (int64_t d = -5; d <= -2; ++d)
        fiveDays.push_back({midnight + d * day + 3 * h + 600, midnight + (d + 1) * day + 3 * h});
    fiveDays.push_back({midnight - day + 3 * h + 600, to});
    const int64_t yesterday = midnight - day;
    struct Case {
        const char* what;
        std::string camera;
        TimeSpan span;
        const char* type;
        std::vector<TimeSpan> expected;
    } cases[] = {
        {"five days, four gaps", kCamera, {from, to}, "all", fiveDays},
        {"02:00 to 04:00 across the gap",
         kCamera,
         {yesterday + 2 * h, yesterday + 4 * h},
         "time",
         {{yesterday + 2 * h, yesterday + 3 * h}, {yesterday + 3 * h + 600, yesterday + 4 * h}}},
        {"wholly in the gap",
         kCamera,
         {yesterday + 3 * h + 60, yesterday + 3 * h + 540},
         "all",
         {}},
        {"alarm recordings", kCamera, {from, to}, "alarm", {}},
        {"unknown camera", "00399001010019999999", {from, to}, "all", {}},
    };
    int branch = 0;
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto r = in(
            manscdp("MESSAGE", "z9hG4bK-000000090" + std::to_string(branch++),
                    recordQuery(c.camera, localText(c.span.start), localText(c.span.end), c.type)));
        ASSERT_GE(r.size(), 2u);
        EXPECT_EQ(startLine(r[0].text), "SIP/2.0 200 OK");
        auto pages = answerAll({r.begin() + 1, r.end()});
        EXPECT_EQ(pages.size(), std::max<size_t>(1, (c.expected.size() + 3) / 4));
        std::vector<std::string> starts, ends;
        for (auto& p : pages) {
            EXPECT_EQ(startLine(p.text), "MESSAGE sip:34020000001320000001@127.0.0.1:5060 SIP/2.0");
            std::string body = bodyOf(p.text);
            EXPECT_EQ(xmlRootName(body), "Response");
            EXPECT_EQ(xmlText(body, "CmdType"), "RecordInfo");
            EXPECT_EQ(xmlText(body, "SN"), "42");
            EXPECT_EQ(xmlText(body, "DeviceID"), c.camera);
            EXPECT_EQ(xmlText(body, "SumNum"), std::to_string(c.expected.size()));
            int items = count(body, "<Item>");
            EXPECT_LE(items, 4);
            EXPECT_NE(body.find("<RecordList Num=\"" + std::to_string(items) + "\">"),
                      std::string::npos);
            EXPECT_EQ(count(body, "<Type>time</Type>"), items);
            for (auto& s : xmlTexts(body, "StartTime"))
                starts.push_back(s);
            for (auto& e : xmlTexts(body, "EndTime"))
                ends.push_back(e);
        }
        ASSERT_EQ(starts.size(), c.expected.size());
        ASSERT_EQ(ends.size(), c.expected.size());
        for (size_t i = 0; i < c.expected.size(); ++i) {
            EXPECT_EQ(starts[i], localText(c.expected[i].start)) << "item " << i;
            EXPECT_EQ(ends[i], localText(c.expected[i].end)) << "item " << i;
        }
    }
    struct Bad {
        const char* what;
        std::string body;
    } bad[] = {
        {"EndTime before StartTime",
         recordQuery(kCamera, "2024-03-05T10:00:00", "2024-03-05T09:00:00", "all")},
        {"no SN", recordQuery(kCamera, "2024-03-05T09:00:00", "2024-03-05T10:00:00", "all", "")},
        {"30 February", recordQuery(kCamera, "2024-02-30T09:00:00", "2024-03-05T10:00:00", "all")},
        {"no seconds", recordQuery(kCamera, "2024-03-05T09:00", "2024-03-05T10:00:00", "all")},
    };
    for (auto& b : bad) {
        auto r = in(manscdp("MESSAGE", "z9hG4bK-000000091" + std::to_string(branch++), b.body));
        ASSERT_EQ(r.size(), 1u) << b.what;
        EXPECT_EQ(startLine(r[0].text), "SIP/2.0 400 Bad Request") << b.what;
    }
}

TEST_F(StateFlow, SubscriptionEndsAtItsGrantedExpiresWithATerminatedNotify) {
    PlatformConfig cfg;
    cfg.subscribeExpiresMax = 60;
    start(cfg);
    registerConsole();
    Sub a{"sub-a@127.0.0.1", "aaaa000001"};
    EXPECT_EQ(subscribe(a, 3600), "60");  // capped
    EXPECT_TRUE(advance(59'000).empty());
    auto r = advance(1'000);
    ASSERT_EQ(r.size(), 1u);
    const std::string& last = r[0].text;
    EXPECT_EQ(startLine(last), "NOTIFY sip:34020000001320000001@127.0.0.1:5060 SIP/2.0");
    EXPECT_EQ(field(last, "Subscription-State"), "terminated;reason=timeout");
    EXPECT_EQ(field(last, "Call-ID"), a.callId);
    EXPECT_EQ(tagOf(field(last, "From")), a.toTag);
    EXPECT_EQ(tagOf(field(last, "To")), a.fromTag);
    EXPECT_EQ(bodyOf(last), "");
    EXPECT_TRUE(in(okFor(last)).empty());
    EXPECT_EQ(plat->subscriptionCount(), 0u);
    EXPECT_EQ(plat->setCameraStatus(kCamera, false), StatusChange::Changed);
    EXPECT_TRUE(take().empty());  // nothing for an ended subscription
    ++a.cseq;
    EXPECT_EQ(startLine(in(subscribeText(a, 60)).at(0).text),
              "SIP/2.0 481 Call/Transaction Does Not Exist");

    // Expires 0 inside the dialog ends it at once, with the same final NOTIFY.
    Sub b{"sub-b@127.0.0.1", "bbbb000001"};
    EXPECT_EQ(subscribe(b, 30), "30");
    ++b.cseq;
    r = in(subscribeText(b, 0));
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(startLine(r[0].text), "SIP/2.0 200 OK");
    EXPECT_EQ(field(r[0].text, "Expires"), "0");
    EXPECT_EQ(field(r[1].text, "Subscription-State"), "terminated;reason=timeout");
    EXPECT_EQ(field(r[1].text, "Call-ID"), b.callId);
    in(okFor(r[1].text));
    EXPECT_EQ(plat->subscriptionCount(), 0u);

    // A restart forgets subscriptions without a word.
    Sub c{"sub-c@127.0.0.1", "cccc000001"};
    subscribe(c, 30);
    plat->restart();
    EXPECT_EQ(plat->subscriptionCount(), 0u);
    plat->setCameraStatus(kCamera, true);
    EXPECT_TRUE(advance(60'000).empty());
}

// Both ways a console may keep its subscription: a refresh inside the dialog, or a fresh
// SUBSCRIBE, which replaces the earlier one.
TEST_F(StateFlow, RefreshedSubscriptionGoesOn) {
    PlatformConfig cfg;
    cfg.subscribeExpiresMax = 60;
    for (bool fresh : {false, true}) {
        SCOPED_TRACE(fresh ? "fresh SUBSCRIBE" : "refresh in the dialog");
        start(cfg);
        registerConsole();
        Sub first{fresh ? "fresh-1@127.0.0.1" : "dialog@127.0.0.1", "dddd000001"};
        subscribe(first, 60);
        EXPECT_TRUE(advance(40'000).empty());
        Sub live = first;
        if (fresh) {
            live = Sub{"fresh-2@127.0.0.1", "dddd000002"};
        } else {
            ++live.cseq;
        }
        EXPECT_EQ(subscribe(live, 60), "60");  // the catalogue again, in the live dialog
        EXPECT_EQ(plat->subscriptionCount(), 1u);
        EXPECT_TRUE(advance(50'000).empty());  // the first grant has run out: nothing ends
        EXPECT_EQ(plat->setCameraStatus(kCamera, false), StatusChange::Changed);
        auto r = take();
        ASSERT_EQ(r.size(), 1u);
        EXPECT_EQ(field(r[0].text, "Call-ID"), live.callId);
        EXPECT_EQ(tagOf(field(r[0].text, "From")), live.toTag);
        in(okFor(r[0].text));
        r = advance(10'000);  // 60 s after the refresh
        ASSERT_EQ(r.size(), 1u);
        EXPECT_EQ(field(r[0].text, "Subscription-State"), "terminated;reason=timeout");
        EXPECT_EQ(field(r[0].text, "Call-ID"), live.callId);
    }
}

TEST_F(StateFlow, StatusChangesReachEveryLiveSubscriber) {
    start();
    registerConsole();
    registerOtherConsole();
    Sub a{"status-a@127.0.0.1", "eeee000001"};
    Sub b{"status-b@127.0.0.1", "ffff000001", kOtherUser, 5070};
    subscribe(a, 3600);
    subscribe(b, 3600);
    EXPECT_EQ(plat->setCameraStatus(kCamera, false), StatusChange::Changed);
    auto r = take();
    ASSERT_EQ(r.size(), 2u);
    std::set<int> ports;
    for (auto& n : r) {
        ports.insert(n.to.port);
        EXPECT_EQ(startLine(n.text).rfind("NOTIFY ", 0), 0u);
        EXPECT_EQ(field(n.text, "Subscription-State").rfind("active;expires=", 0), 0u);
        std::string body = bodyOf(n.text);
        EXPECT_EQ(xmlText(body, "CmdType"), "Catalog");
        EXPECT_EQ(xmlText(body, "SumNum"), "1");
        EXPECT_NE(body.find("<DeviceList Num=\"1\">"), std::string::npos);
        std::string item = itemOf(body, kCamera);
        EXPECT_NE(item.find("<Event>OFF</Event>"), std::string::npos) << body;
        EXPECT_NE(item.find("<Status>OFF</Status>"), std::string::npos) << body;
        EXPECT_NE(item.find("<Name>"), std::string::npos) << body;
    }
    EXPECT_EQ(ports, (std::set<int>{5060, 5070}));
    EXPECT_EQ(plat->setCameraStatus(kCamera, false), StatusChange::Unchanged);
    EXPECT_EQ(plat->setCameraStatus("00399001010019999999", true), StatusChange::UnknownCamera);
    answerAll(r);
    EXPECT_TRUE(take().empty());

    // Two quick changes are two NOTIFYs to each, in order, each as it happened.
    plat->setCameraStatus(kCamera, true);
    plat->setCameraStatus(kCamera, false);
    std::vector<std::string> seenByA;
    for (auto& n : answerAll(take())) {
        if (n.to == kConsole)
            seenByA.push_back(xmlText(itemOf(bodyOf(n.text), kCamera), "Event"));
    }
    EXPECT_EQ(seenByA, (std::vector<std::string>{"ON", "OFF"}));

    // b ends its subscription; a refuses the next NOTIFY with 481, which ends a's too.
    ++b.cseq;
    answerAll(in(subscribeText(b, 0), kOtherConsole));
    EXPECT_EQ(plat->setCameraStatus(kCamera, true), StatusChange::Changed);
    r = take();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].to, kConsole);
    EXPECT_NE(itemOf(bodyOf(r[0].text), kCamera).find("<Event>ON</Event>"), std::string::npos);
    std::string refused = okFor(r[0].text);
    refused.replace(0, refused.find("\r\n"), "SIP/2.0 481 Call/Transaction Does Not Exist");
    in(refused);
    EXPECT_EQ(plat->subscriptionCount(), 0u);
    plat->setCameraStatus(kCamera, false);
    EXPECT_TRUE(advance(60'000).empty());

    // The catalogue answer shows the status as it is now.
    r = in(manscdp("MESSAGE", "z9hG4bK-0000000950", kCatalogQuery));
    ASSERT_EQ(r.size(), 2u);
    EXPECT_NE(itemOf(bodyOf(r[1].text), kCamera).find("<Status>OFF</Status>"), std::string::npos);
    EXPECT_EQ(itemOf(bodyOf(r[1].text), kCamera).find("<Event>"), std::string::npos);
}

TEST_F(StateFlow, FlapsAreSeededAndEachIsANotify) {
    auto run = [this](uint64_t seed) {
        std::vector<std::string> events;
        log.setCapture([&events](const std::string& line) {
            size_t p = line.find(" EVENT camera ");
            if (p != std::string::npos)
                events.push_back(line.substr(p + 7));
        });
        PlatformConfig cfg;
        cfg.flapMs = 1000;
        cfg.flapSeed = seed;
        start(cfg);
        registerConsole();
        Sub s{"flap-" + std::to_string(seed) + "@127.0.0.1", "abcd000001"};
        subscribe(s, 3600);
        for (int i = 0; i < 5; ++i) {
            auto r = advance(1000);
            EXPECT_EQ(r.size(), 1u);
            if (r.size() == 1) {
                EXPECT_EQ(count(bodyOf(r[0].text), "<Event>"), 1);
            }
            answerAll(r);
        }
        log.setCapture(nullptr);
        return events;
    };
    auto first = run(7), again = run(7);
    ASSERT_EQ(first.size(), 5u);
    EXPECT_EQ(first, again);
    EXPECT_EQ(first[0].rfind("camera ", 0), 0u);
}

// With compressed timers a console asks for short registrations: they last what it asked.
TEST_F(StateFlow, RegistrationLastsTheExpiresAsked) {
    start();
    in(registerText(1));
    std::string text = replaceAll(registerText(2, consoleAuth("9f586f5be903ec43253dd3eb5199ee26")),
                                  "Expires: 3600", "Expires: 3");
    auto r = in(text);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(field(r[0].text, "Expires"), "3");
    advance(2'500);
    EXPECT_EQ(startLine(in(manscdp("MESSAGE", "z9hG4bK-0000000960", kKeepalive)).at(0).text),
              "SIP/2.0 200 OK");
    advance(1'000);
    EXPECT_FALSE(plat->isRegistered(kUser));
    EXPECT_EQ(startLine(in(manscdp("MESSAGE", "z9hG4bK-0000000961", kKeepalive)).at(0).text),
              "SIP/2.0 401 Unauthorized");
}

}  // namespace
