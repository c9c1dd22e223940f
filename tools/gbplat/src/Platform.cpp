#include "Platform.h"

#include "PlaybackText.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <set>
#include <tuple>

namespace gbplat {

namespace {

const char* const kAllow = "REGISTER, MESSAGE, SUBSCRIBE, INVITE, ACK, INFO, BYE, OPTIONS";

struct DialogKey {
    std::string callId;
    std::string localTag;
    std::string remoteTag;
    bool operator<(const DialogKey& o) const {
        return std::tie(callId, localTag, remoteTag) < std::tie(o.callId, o.localTag, o.remoteTag);
    }
};

// What every request must carry before anything else looks at it (RFC 3261 §8.1.1).
struct RequestIds {
    Via via;
    NameAddr from;
    NameAddr to;
    SipUri fromUri;
    std::string callId;
    CSeq cseq;
};

bool isSuccess(const SipMessage* r) {
    return r && r->status >= 200 && r->status < 300;
}

bool isIpv4(const std::string& host) {
    int parts = 0;
    for (auto& p : splitTopLevel(host, '.')) {
        if (p.empty() || p.size() > 3 || p.find_first_not_of("0123456789") != std::string::npos) {
            return false;
        }
        ++parts;
    }
    return parts == 4;
}

std::string formatParams(const Params& params) {
    std::string out;
    for (auto& [n, v] : params)
        out += ";" + n + (v.empty() ? "" : "=" + v);
    return out;
}

std::string viaText(const Via& via) {
    return via.protocol + " " + via.host + (via.port ? ":" + std::to_string(via.port) : "") +
           formatParams(via.params);
}

}  // namespace

struct Platform::Impl {
    struct Timer {
        uint64_t id;
        std::function<void()> fn;
    };
    struct ClientTx {
        std::string bytes;
        Endpoint dest;
        std::string method;
        std::string callId;
        std::string fromTag;
        std::string toTag;
        uint32_t cseq = 0;
        int intervalMs = 0;
        uint64_t retransmitTimer = 0;
        uint64_t timeoutTimer = 0;
        std::function<void(const SipMessage*)> onFinal;  // nullptr: timed out
    };
    struct Registration {
        std::string aor;  // To URI of the REGISTER
        std::string contactUri;
        Endpoint contact;
        int64_t expiresMs = 0;
    };
    enum class PlayState { AwaitAck, Playing, EndNotified };
    struct Playback {
        DialogKey key;
        std::string remoteFrom;  // the client's From value, tag included
        std::string target;      // the client's Contact URI
        Endpoint dest;
        std::string camera;
        TimeSpan span;
        PlaybackClock clock{0, 0};
        uint32_t inviteCSeq = 0;
        uint32_t remoteCSeq = 0;
        uint32_t localCSeq = 0;
        PlayState state = PlayState::AwaitAck;
        std::string okBytes;
        Endpoint okDest;
        int okIntervalMs = 0;
        uint64_t okTimer = 0;
        uint64_t ackTimeout = 0;
        uint64_t endTimer = 0;
        uint64_t byeWait = 0;
        StreamOrder stream;  // its id is 0 until the ACK starts the video
        uint32_t seeks = 0;
    };
    struct Subscription {
        DialogKey key;
        std::string remoteFrom;
        std::string target;
        Endpoint dest;
        std::string event;
        uint32_t remoteCSeq = 0;
        uint32_t localCSeq = 0;
        int64_t expiresMs = 0;
    };
    struct CatalogJob {
        std::string root;  // "Response" (MESSAGE) or "Notify" (NOTIFY in a subscription)
        std::string sn;
        std::vector<CatalogPage> pages;
        size_t next = 0;
        Endpoint dest;           // Response only
        std::string target;      // Response only
        std::string toValue;     // Response only
        DialogKey subscription;  // Notify only
    };
    struct CachedResponse {
        std::string bytes;
        Endpoint dest;
        uint64_t expiryTimer = 0;
    };

    using Handler = void (Impl::*)(const SipMessage&, const RequestIds&, const Endpoint&);

    PlatformConfig cfg;
    std::vector<Camera> cameras;
    std::set<std::string> cameraCodes;
    PlatformClock& clock;
    SendFn send;
    EventLog& log;
    MediaControl* media;
    RecordingModel recordings;
    std::mt19937_64 rng;
    PlatformStats stats;
    std::string nonce;

    std::map<std::pair<int64_t, uint64_t>, std::function<void()>> timers;
    std::map<uint64_t, int64_t> timerDue;
    uint64_t nextTimerId = 1;

    std::map<std::string, ClientTx> clientTx;           // by branch
    std::map<std::string, CachedResponse> serverTx;     // by branch|method|sent-by
    std::map<std::string, Registration> registrations;  // by device code
    std::map<DialogKey, Playback> playbacks;
    std::map<DialogKey, Subscription> subscriptions;
    std::map<uint64_t, CatalogJob> jobs;
    uint64_t nextJobId = 1;
    uint32_t outOfDialogCSeq = 1;
    uint64_t snCounter = 1;
    uint64_t nextStreamId = 1;

    Impl(PlatformConfig c, std::vector<Camera> cams, PlatformClock& clk, SendFn s, EventLog& l,
         MediaControl* m)
        : cfg(std::move(c)),
          cameras(std::move(cams)),
          clock(clk),
          send(std::move(s)),
          log(l),
          media(m),
          recordings(cfg.recording),
          rng(std::random_device{}()) {
        for (auto& cam : cameras)
            cameraCodes.insert(cam.code);
        nonce = cfg.nonce.empty() ? randomHex(32) : cfg.nonce;
    }
    ~Impl() {
        for (auto& [key, pb] : playbacks)
            stopVideo(pb);
    }

    // ---- identifiers -------------------------------------------------------------------
    std::string randomHex(int digits) {
        static const char* hex = "0123456789abcdef";
        std::string s;
        for (int i = 0; i < digits; ++i)
            s += hex[rng() & 15];
        return s;
    }
    std::string newTag() { return randomHex(10); }
    std::string newBranch() { return "z9hG4bK" + randomHex(16); }
    std::string newCallId() { return randomHex(20) + "@" + cfg.address; }
    std::string ourUri() const {
        return "sip:" + cfg.deviceId + "@" + cfg.address + ":" + std::to_string(cfg.port);
    }
    std::string ourContact() const { return "<" + ourUri() + ">"; }
    int t2Ms() const { return cfg.t1Ms * 8; }
    int txLifetimeMs() const { return cfg.t1Ms * 64; }

    // ---- timers ------------------------------------------------------------------------
    uint64_t addTimer(int64_t delayMs, std::function<void()> fn) {
        uint64_t id = nextTimerId++;
        int64_t due = clock.steadyMs() + std::max<int64_t>(0, delayMs);
        timers[{due, id}] = std::move(fn);
        timerDue[id] = due;
        return id;
    }
    void cancelTimer(uint64_t& id) {
        auto it = timerDue.find(id);
        if (it != timerDue.end()) {
            timers.erase({it->second, id});
            timerDue.erase(it);
        }
        id = 0;
    }
    int64_t runTimers() {
        for (;;) {
            if (timers.empty() || timers.begin()->first.first > clock.steadyMs())
                break;
            auto it = timers.begin();
            auto fn = std::move(it->second);
            timerDue.erase(it->first.second);
            timers.erase(it);
            fn();
        }
        return nextDeadline();
    }
    int64_t nextDeadline() const { return timers.empty() ? -1 : timers.begin()->first.first; }

    // ---- sending -----------------------------------------------------------------------
    void transmit(const Endpoint& to, const std::string& bytes) {
        log.datagram(true, to, bytes);
        send(to, bytes);
    }

    // Where a request goes: the host and port of a URI (Contact or remote target).
    std::optional<Endpoint> resolveTarget(const std::string& uriText, const Endpoint& fallback) {
        auto uri = parseSipUri(uriText);
        if (!uri)
            return std::nullopt;
        Endpoint e{uri->host, uri->port ? uri->port : 5060};
        if (!isIpv4(e.host)) {
            log.event("target %s is not an IPv4 address; using the source address %s",
                      uriText.c_str(), fallback.host.c_str());
            e.host = fallback.host;
        }
        return e;
    }

    std::string serverTxKey(const SipMessage& req, const RequestIds& ids) const {
        return ids.via.branch() + "|" + req.method + "|" + ids.via.host + ":" +
               std::to_string(ids.via.port);
    }

    // RFC 3261 §18.2.2 with RFC 3581: to the source address, at the source port when the
    // client asked for rport, else at the sent-by port.
    void respond(const SipMessage& req, const RequestIds& ids, const Endpoint& from, int status,
                 const std::string& reason, const std::string& toTag = std::string(),
                 std::vector<SipHeader> extra = {}, const std::string& body = std::string()) {
        SipMessage r;
        r.status = status;
        r.reason = reason;
        Via top = ids.via;
        bool rport = false;
        for (auto& [n, v] : top.params) {
            if (equalsNoCase(n, "rport")) {
                rport = true;
                v = std::to_string(from.port);
            }
        }
        if (rport || top.host != from.host)
            top.params.push_back({"received", from.host});
        auto vias = req.headerValues("Via");
        for (size_t i = 0; i < vias.size(); ++i)
            r.add("Via", i == 0 ? viaText(top) : vias[i]);
        r.add("From", *req.header("From"));
        std::string to = *req.header("To");
        if (ids.to.tag().empty() && !toTag.empty() && status > 100)
            to += ";tag=" + toTag;
        r.add("To", to);
        r.add("Call-ID", ids.callId);
        r.add("CSeq", *req.header("CSeq"));
        for (auto& h : extra)
            r.add(h.name, h.value);
        r.add("Server", "gbplat");
        if (!body.empty())
            r.body = body;
        Endpoint dest{from.host, rport ? from.port : (ids.via.port ? ids.via.port : 5060)};
        std::string bytes = r.serialize();
        transmit(dest, bytes);
        if (req.method != "ACK")
            remember(serverTxKey(req, ids), bytes, dest);
    }

    // Keeps the last answer of a server transaction so a retransmitted request gets it again.
    void remember(const std::string& key, const std::string& bytes, const Endpoint& dest) {
        auto& c = serverTx[key];
        cancelTimer(c.expiryTimer);
        c.bytes = bytes;
        c.dest = dest;
        c.expiryTimer = addTimer(txLifetimeMs(), [this, key] { serverTx.erase(key); });
    }

    void challenge(const SipMessage& req, const RequestIds& ids, const Endpoint& from, bool stale) {
        Challenge c{
            cfg.realm, nonce, cfg.opaque,
            cfg.offerQop < 0 ? cfg.challengeStyle == ChallengeStyle::Compact : cfg.offerQop > 0,
            stale};
        ++stats.challenged;
        respond(req, ids, from, 401, "Unauthorized", newTag(),
                {{"WWW-Authenticate", challengeValue(c, cfg.challengeStyle)}});
    }

    // Sends a request in a new client transaction and retransmits it until a final answer
    // (RFC 3261 §17.1.2, timers E and F).
    void sendRequest(SipMessage req, const Endpoint& dest,
                     std::function<void(const SipMessage*)> onFinal) {
        std::string branch = newBranch();
        req.headers.insert(req.headers.begin(),
                           {"Via", "SIP/2.0/UDP " + cfg.address + ":" + std::to_string(cfg.port) +
                                       ";rport;branch=" + branch});
        ClientTx tx;
        tx.bytes = req.serialize();
        tx.dest = dest;
        tx.method = req.method;
        tx.callId = *req.header("Call-ID");
        tx.fromTag = parseNameAddr(*req.header("From"))->tag();
        tx.toTag = parseNameAddr(*req.header("To"))->tag();
        tx.cseq = parseCSeq(*req.header("CSeq"))->number;
        tx.intervalMs = cfg.t1Ms;
        tx.onFinal = std::move(onFinal);
        tx.retransmitTimer = addTimer(tx.intervalMs, [this, branch] { retransmit(branch); });
        tx.timeoutTimer = addTimer(txLifetimeMs(), [this, branch] { timeOut(branch); });
        transmit(dest, tx.bytes);
        clientTx[branch] = std::move(tx);
    }

    void retransmit(const std::string& branch) {
        auto it = clientTx.find(branch);
        if (it == clientTx.end())
            return;
        transmit(it->second.dest, it->second.bytes);
        it->second.intervalMs = std::min(it->second.intervalMs * 2, t2Ms());
        it->second.retransmitTimer =
            addTimer(it->second.intervalMs, [this, branch] { retransmit(branch); });
    }

    void timeOut(const std::string& branch) {
        auto it = clientTx.find(branch);
        if (it == clientTx.end())
            return;
        ClientTx tx = std::move(it->second);
        clientTx.erase(it);
        cancelTimer(tx.retransmitTimer);
        log.event("%s %s timed out: no final answer", tx.method.c_str(), tx.callId.c_str());
        if (tx.onFinal)
            tx.onFinal(nullptr);
    }

    SipMessage newRequest(const std::string& method, const std::string& target,
                          const std::string& from, const std::string& to, const std::string& callId,
                          uint32_t cseq) {
        SipMessage m;
        m.isRequest = true;
        m.method = method;
        m.uri = target;
        m.add("From", from);
        m.add("To", to);
        m.add("Call-ID", callId);
        m.add("CSeq", std::to_string(cseq) + " " + method);
        m.add("Contact", ourContact());
        m.add("Max-Forwards", "70");
        m.add("User-Agent", "gbplat");
        return m;
    }

    SipMessage playbackRequest(Playback& pb, const std::string& method) {
        return newRequest(method, pb.target, ourContact() + ";tag=" + pb.key.localTag,
                          pb.remoteFrom, pb.key.callId, ++pb.localCSeq);
    }

    // ---- datagrams in ------------------------------------------------------------------
    void onDatagram(const std::string& data, const Endpoint& from) {
        log.datagram(false, from, data);
        if (data.find_first_not_of("\r\n") == std::string::npos)
            return;  // keep-alive CRLFs
        std::string why;
        auto msg = parseSipMessage(data, &why);
        if (!msg) {
            log.event("malformed datagram from %s dropped: %s", from.text().c_str(), why.c_str());
            return;
        }
        if (msg->isRequest) {
            onRequest(*msg, from);
        } else {
            onResponse(*msg);
        }
    }

    std::optional<RequestIds> requestIds(const SipMessage& req, std::string& why) {
        RequestIds ids;
        const std::string* via = req.header("Via");
        auto v = via ? parseVia(*via) : std::nullopt;
        if (!v) {
            why = "no usable Via";
            return std::nullopt;
        }
        ids.via = *v;
        const std::string *from = req.header("From"), *to = req.header("To"),
                          *callId = req.header("Call-ID"), *cseq = req.header("CSeq");
        auto f = from ? parseNameAddr(*from) : std::nullopt;
        auto t = to ? parseNameAddr(*to) : std::nullopt;
        auto fu = f ? parseSipUri(f->uri) : std::nullopt;
        auto c = cseq ? parseCSeq(*cseq) : std::nullopt;
        if (!f || !t || !fu || !callId || callId->empty() || !c) {
            why = "missing or malformed From, To, Call-ID or CSeq";
        } else if (c->method != req.method) {
            why = "CSeq method differs from the request method";
        } else if (f->tag().empty()) {
            why = "From has no tag";
        } else if (ids.via.branch().empty()) {
            why = "Via has no branch";
        }
        if (callId)
            ids.callId = *callId;
        if (!why.empty())
            return ids;  // answerable: the Via is known
        ids.from = *f;
        ids.to = *t;
        ids.fromUri = *fu;
        ids.callId = *callId;
        ids.cseq = *c;
        return ids;
    }

    void onRequest(const SipMessage& req, const Endpoint& from) {
        std::string why;
        auto ids = requestIds(req, why);
        if (!ids) {
            log.event("%s from %s dropped: %s", req.method.c_str(), from.text().c_str(),
                      why.c_str());
            return;
        }
        if (!why.empty()) {
            log.event("%s from %s refused: %s", req.method.c_str(), from.text().c_str(),
                      why.c_str());
            if (req.method != "ACK" && req.header("From") && req.header("To") &&
                req.header("Call-ID") && req.header("CSeq")) {
                respond(req, *ids, from, 400, "Bad Request");
            }
            return;
        }
        auto cached = serverTx.find(serverTxKey(req, *ids));
        if (cached != serverTx.end()) {
            log.event("retransmitted %s: answer repeated", req.method.c_str());
            transmit(cached->second.dest, cached->second.bytes);
            return;
        }
        if (req.method == "REGISTER")
            return handleRegister(req, *ids, from);
        if (req.method == "OPTIONS") {
            return respond(req, *ids, from, 200, "OK", newTag(), {{"Allow", kAllow}});
        }
        if (!ids->to.tag().empty())
            return handleInDialog(req, *ids, from);
        handleOutOfDialog(req, *ids, from);
    }

    void handleOutOfDialog(const SipMessage& req, const RequestIds& ids, const Endpoint& from) {
        static const std::map<std::string, Handler> table = {
            {"MESSAGE", &Impl::handleMessage},
            {"SUBSCRIBE", &Impl::handleSubscribe},
            {"INVITE", &Impl::handleInvite},
        };
        if (req.method == "ACK") {
            ++stats.noDialog;
            log.event("ACK without To tag matches no dialog: dropped (Call-ID %s)",
                      ids.callId.c_str());
            return;
        }
        if (req.method == "BYE" || req.method == "INFO" || req.method == "CANCEL") {
            ++stats.noDialog;
            log.event("%s outside any dialog (Call-ID %s): 481", req.method.c_str(),
                      ids.callId.c_str());
            return respond(req, ids, from, 481, "Call/Transaction Does Not Exist", newTag());
        }
        auto it = table.find(req.method);
        if (it == table.end()) {
            return respond(req, ids, from, 405, "Method Not Allowed", newTag(),
                           {{"Allow", kAllow}});
        }
        if (!addressedToUs(req)) {
            log.event("%s for %s: not this platform or one of its cameras: 404", req.method.c_str(),
                      req.uri.c_str());
            return respond(req, ids, from, 404, "Not Found", newTag());
        }
        if (!requireRegistration(req, ids, from))
            return;
        (this->*(it->second))(req, ids, from);
    }

    bool addressedToUs(const SipMessage& req) const {
        auto uri = parseSipUri(req.uri);
        return uri &&
               (uri->user.empty() || uri->user == cfg.deviceId || cameraCodes.count(uri->user));
    }

    bool requireRegistration(const SipMessage& req, const RequestIds& ids, const Endpoint& from) {
        if (isRegistered(ids.fromUri.user))
            return true;
        log.event("%s from unregistered device %s: %d", req.method.c_str(),
                  ids.fromUri.user.c_str(), cfg.unregisteredStatus);
        if (cfg.unregisteredStatus == 401) {
            challenge(req, ids, from, false);
        } else {
            ++stats.forbidden;
            respond(req, ids, from, 403, "Forbidden", newTag());
        }
        return false;
    }

    bool isRegistered(const std::string& user) const {
        auto it = registrations.find(user);
        return it != registrations.end() && it->second.expiresMs > clock.steadyMs();
    }

    // ---- registration ------------------------------------------------------------------
    void handleRegister(const SipMessage& req, const RequestIds& ids, const Endpoint& from) {
        auto uri = parseSipUri(req.uri);
        if (!uri || !(uri->user.empty() || uri->user == cfg.deviceId)) {
            log.event("REGISTER for %s: not this platform: 404", req.uri.c_str());
            return respond(req, ids, from, 404, "Not Found", newTag());
        }
        const std::string* auth = req.header("Authorization");
        if (!auth)
            return challenge(req, ids, from, false);
        auto params = parseDigestParams(*auth);
        DigestCheck check{"REGISTER", req.uri, cfg.password, cfg.user,
                          Challenge{cfg.realm, nonce, cfg.opaque, false, false}};
        DigestVerdict verdict = params ? verifyDigest(*params, check) : DigestVerdict::Malformed;
        log.event("REGISTER from %s: credentials %s", ids.fromUri.user.c_str(),
                  verdictText(verdict));
        switch (verdict) {
            case DigestVerdict::Ok:
                return acceptRegister(req, ids, from);
            case DigestVerdict::StaleNonce:
                return challenge(req, ids, from, true);
            case DigestVerdict::Malformed:
            case DigestVerdict::WrongUri:
                return respond(req, ids, from, 400, "Bad Request", newTag());
            case DigestVerdict::WrongUser:
            case DigestVerdict::WrongRealm:
            case DigestVerdict::WrongOpaque:
            case DigestVerdict::WrongResponse:
                ++stats.forbidden;
                return respond(req, ids, from, 403, "Forbidden", newTag());
        }
    }

    void acceptRegister(const SipMessage& req, const RequestIds& ids, const Endpoint& from) {
        auto toUri = parseSipUri(ids.to.uri);
        std::string user = toUri ? toUri->user : ids.fromUri.user;
        const std::string* contact = req.header("Contact");
        int expires = expiresOf(req.header("Expires"));
        std::optional<NameAddr> contactAddr;
        if (contact && trim(*contact) != "*") {
            contactAddr = parseNameAddr(*contact);
            bool has = false;
            std::string ce = contactAddr ? paramValue(contactAddr->params, "expires", &has) : "";
            if (has)
                expires = expiresOf(&ce);
        }
        if ((contact && !contactAddr && trim(*contact) != "*") || expires < 0) {
            return respond(req, ids, from, 400, "Bad Request", newTag());
        }
        if (expires == 0 || !contactAddr) {
            if (expires == 0) {
                registrations.erase(user);
                log.event("device %s unregistered", user.c_str());
            }
            return respond(req, ids, from, 200, "OK", newTag(),
                           {{"Expires", std::to_string(expires)}, {"Date", dateValue()}});
        }
        auto dest = resolveTarget(contactAddr->uri, from);
        if (!dest)
            return respond(req, ids, from, 400, "Bad Request", newTag());
        registrations[user] = {ids.to.uri, contactAddr->uri, *dest,
                               clock.steadyMs() + int64_t(expires) * 1000};
        ++stats.registered;
        log.event("device %s registered, contact %s, expires %d", user.c_str(),
                  contactAddr->uri.c_str(), expires);
        respond(req, ids, from, 200, "OK", newTag(),
                {{"Contact", "<" + contactAddr->uri + ">;expires=" + std::to_string(expires)},
                 {"Expires", std::to_string(expires)},
                 {"Date", dateValue()}});
    }

    // GB/T 28181 devices set their clock from the Date of the 200 to REGISTER.
    std::string dateValue() {
        time_t t = static_cast<time_t>(clock.epochSeconds());
        std::tm tm{};
        localtime_r(&t, &tm);
        char buf[40];
        std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S.000", &tm);
        return buf;
    }

    // ---- MANSCDP messages and the catalogue -------------------------------------------
    void handleMessage(const SipMessage& req, const RequestIds& ids, const Endpoint& from) {
        const std::string* type = req.header("Content-Type");
        if (!type || !equalsNoCase(trim(*type), "Application/MANSCDP+xml")) {
            return respond(req, ids, from, 415, "Unsupported Media Type", newTag(),
                           {{"Accept", "Application/MANSCDP+xml"}});
        }
        std::string root = xmlRootName(req.body), cmd = xmlElementText(req.body, "CmdType");
        if (root.empty() || cmd.empty()) {
            log.event("MESSAGE body without a root element or CmdType: 400");
            return respond(req, ids, from, 400, "Bad Request", newTag());
        }
        respond(req, ids, from, 200, "OK", newTag());
        if (root == "Notify" && cmd == "Keepalive") {
            log.event("keepalive from %s", ids.fromUri.user.c_str());
        } else if (root == "Query" && cmd == "Catalog") {
            startCatalogResponse(ids.fromUri.user, xmlElementText(req.body, "SN"));
        } else {
            log.event("%s/%s from %s answered 200, nothing more to do", root.c_str(), cmd.c_str(),
                      ids.fromUri.user.c_str());
        }
    }

    std::vector<CatalogPage> allPages() const {
        auto pages = catalogPages(cameras.size(), cfg.pageSize);
        if (pages.empty())
            pages.push_back({0, 0});  // an empty catalogue is still answered
        return pages;
    }

    void startCatalogResponse(const std::string& user, const std::string& sn) {
        auto reg = registrations.find(user);
        if (reg == registrations.end())
            return;
        CatalogJob job;
        job.root = "Response";
        job.sn = sn.empty() ? std::to_string(snCounter++) : sn;
        job.pages = allPages();
        job.dest = reg->second.contact;
        job.target = reg->second.contactUri;
        job.toValue = "<" + reg->second.aor + ">";
        startJob(std::move(job));
    }

    void startJob(CatalogJob job) {
        uint64_t id = nextJobId++;
        log.event("catalogue of %zu cameras as %zu %s pages", cameras.size(), job.pages.size(),
                  job.root.c_str());
        jobs[id] = std::move(job);
        sendCatalogPage(id);
    }

    // Pages go one at a time: the next leaves when the client has answered the previous one.
    void sendCatalogPage(uint64_t id) {
        auto it = jobs.find(id);
        if (it == jobs.end())
            return;
        CatalogJob& job = it->second;
        CatalogBodyInput in{job.root, job.sn, cfg.deviceId, cfg.xmlEncoding, cameras.size()};
        std::string body = buildCatalogBody(in, cameras, job.pages[job.next]);
        SipMessage req;
        Endpoint dest = job.dest;
        if (job.root == "Notify") {
            auto sub = subscriptions.find(job.subscription);
            if (sub == subscriptions.end()) {
                jobs.erase(it);
                return;
            }
            Subscription& s = sub->second;
            req = newRequest("NOTIFY", s.target, ourContact() + ";tag=" + s.key.localTag,
                             s.remoteFrom, s.key.callId, ++s.localCSeq);
            req.add("Event", s.event);
            int64_t left = std::max<int64_t>(0, (s.expiresMs - clock.steadyMs()) / 1000);
            req.add("Subscription-State", "active;expires=" + std::to_string(left));
            dest = s.dest;
        } else {
            req = newRequest("MESSAGE", job.target, ourContact() + ";tag=" + newTag(), job.toValue,
                             newCallId(), outOfDialogCSeq++);
        }
        req.add("Content-Type", "Application/MANSCDP+xml");
        req.body = body;
        size_t page = job.next;
        sendRequest(req, dest,
                    [this, id, page](const SipMessage* r) { onPageAnswered(id, page, r); });
    }

    void onPageAnswered(uint64_t id, size_t page, const SipMessage* r) {
        auto it = jobs.find(id);
        if (it == jobs.end())
            return;
        if (!isSuccess(r)) {
            log.event("catalogue stopped: page %zu of %zu %s", page + 1, it->second.pages.size(),
                      r ? ("answered " + std::to_string(r->status)).c_str() : "not answered");
            jobs.erase(it);
            return;
        }
        if (++it->second.next >= it->second.pages.size()) {
            log.event("catalogue sent: %zu pages answered", it->second.pages.size());
            jobs.erase(it);
            return;
        }
        sendCatalogPage(id);
    }

    void handleSubscribe(const SipMessage& req, const RequestIds& ids, const Endpoint& from) {
        const std::string* event = req.header("Event");
        std::string ev = event ? trim(splitTopLevel(*event, ';')[0]) : std::string();
        if (!equalsNoCase(ev, "presence") && !equalsNoCase(ev, "Catalog")) {
            log.event("SUBSCRIBE for event '%s': 489", ev.c_str());
            return respond(req, ids, from, 489, "Bad Event", newTag(),
                           {{"Allow-Events", "presence, Catalog"}});
        }
        const std::string* contact = req.header("Contact");
        auto contactAddr = contact ? parseNameAddr(*contact) : std::nullopt;
        auto dest = contactAddr ? resolveTarget(contactAddr->uri, from) : std::nullopt;
        if (!dest) {
            log.event("SUBSCRIBE without a usable Contact: 400");
            return respond(req, ids, from, 400, "Bad Request", newTag());
        }
        int expires = expiresOf(req.header("Expires"));
        if (expires < 0)
            return respond(req, ids, from, 400, "Bad Request", newTag());
        std::string tag = newTag();
        respond(req, ids, from, 200, "OK", tag,
                {{"Expires", std::to_string(expires)}, {"Contact", ourContact()}});
        if (expires == 0)
            return;
        Subscription s;
        s.key = {ids.callId, tag, ids.from.tag()};
        s.remoteFrom = *req.header("From");
        s.target = contactAddr->uri;
        s.dest = *dest;
        s.event = ev;
        s.remoteCSeq = ids.cseq.number;
        s.localCSeq = 0;
        s.expiresMs = clock.steadyMs() + int64_t(expires) * 1000;
        log.event("subscription %s from %s, NOTIFYs to %s", ids.callId.c_str(),
                  ids.fromUri.user.c_str(), s.target.c_str());
        subscriptions[s.key] = s;
        scheduleSubscriptionExpiry(s.key, expires);
        startNotify(s.key, xmlElementText(req.body, "SN"));
    }

    // Seconds from an Expires value, capped; 3600 when absent, -1 when not a number.
    int expiresOf(const std::string* text) const {
        if (!text)
            return 3600;
        std::string t = trim(*text);
        if (t.empty() || t.size() > 10 || t.find_first_not_of("0123456789") != std::string::npos) {
            return -1;
        }
        return int(std::min<long long>(std::stoll(t), cfg.registerExpiresMax));
    }

    void startNotify(const DialogKey& key, const std::string& sn) {
        CatalogJob job;
        job.root = "Notify";
        job.sn = sn.empty() ? std::to_string(snCounter++) : sn;
        job.pages = allPages();
        job.subscription = key;
        startJob(std::move(job));
    }

    // ---- in-dialog requests ------------------------------------------------------------
    void handleInDialog(const SipMessage& req, const RequestIds& ids, const Endpoint& from) {
        DialogKey key{ids.callId, ids.to.tag(), ids.from.tag()};
        auto pb = playbacks.find(key);
        auto sub = subscriptions.find(key);
        if (pb == playbacks.end() && sub == subscriptions.end()) {
            ++stats.noDialog;
            log.event("%s matches no dialog (Call-ID %s, From tag %s, To tag %s)%s",
                      req.method.c_str(), ids.callId.c_str(), key.remoteTag.c_str(),
                      key.localTag.c_str(), req.method == "ACK" ? ": dropped" : ": 481");
            if (req.method == "ACK")
                return;
            return respond(req, ids, from, 481, "Call/Transaction Does Not Exist");
        }
        if (req.method == "ACK") {
            if (pb != playbacks.end())
                handleAck(pb->second, ids);
            return;
        }
        uint32_t& remote = pb != playbacks.end() ? pb->second.remoteCSeq : sub->second.remoteCSeq;
        if (ids.cseq.number <= remote) {
            // RFC 3261 §12.2.2: an old CSeq in the dialog is out of order.
            ++stats.outOfOrder;
            log.event("%s CSeq %u not above %u in dialog %s: 500", req.method.c_str(),
                      ids.cseq.number, remote, ids.callId.c_str());
            return respond(req, ids, from, 500, "Server Internal Error", std::string(),
                           {{"Retry-After", "1"}});
        }
        remote = ids.cseq.number;
        if (pb != playbacks.end())
            return playbackRequestIn(pb->second, req, ids, from);
        subscriptionRequestIn(sub->second, req, ids, from);
    }

    void playbackRequestIn(Playback& pb, const SipMessage& req, const RequestIds& ids,
                           const Endpoint& from) {
        if (req.method == "INFO")
            return handleInfo(pb, req, ids, from);
        if (req.method == "BYE") {
            double pos = pb.clock.offset(clock.steadyMs());
            log.event("playback %s of %s ended by the client at %.1f s of %" PRId64 " s",
                      pb.key.callId.c_str(), pb.camera.c_str(), pos, pb.span.end - pb.span.start);
            endPlayback(DialogKey(pb.key));  // the video stops before the answer goes
            return respond(req, ids, from, 200, "OK");
        }
        if (req.method == "MESSAGE")
            return respond(req, ids, from, 200, "OK");
        respond(req, ids, from, 405, "Method Not Allowed", std::string(), {{"Allow", kAllow}});
    }

    void subscriptionRequestIn(Subscription& s, const SipMessage& req, const RequestIds& ids,
                               const Endpoint& from) {
        if (req.method != "SUBSCRIBE") {
            return respond(req, ids, from, 405, "Method Not Allowed", std::string(),
                           {{"Allow", kAllow}});
        }
        int expires = expiresOf(req.header("Expires"));
        if (expires < 0)
            return respond(req, ids, from, 400, "Bad Request");
        respond(req, ids, from, 200, "OK", std::string(), {{"Expires", std::to_string(expires)}});
        DialogKey key = s.key;
        if (expires == 0) {
            log.event("subscription %s ended by the client", key.callId.c_str());
            subscriptions.erase(key);
            return;
        }
        s.expiresMs = clock.steadyMs() + int64_t(expires) * 1000;
        scheduleSubscriptionExpiry(key, expires);
        startNotify(key, xmlElementText(req.body, "SN"));
    }

    // A subscription the client stops refreshing ends quietly at its expiry.
    void scheduleSubscriptionExpiry(const DialogKey& key, int expires) {
        addTimer(int64_t(expires) * 1000, [this, key] {
            auto it = subscriptions.find(key);
            if (it == subscriptions.end() || it->second.expiresMs > clock.steadyMs())
                return;
            log.event("subscription %s expired", key.callId.c_str());
            subscriptions.erase(it);
        });
    }

    // ---- playback ----------------------------------------------------------------------
    void handleInvite(const SipMessage& req, const RequestIds& ids, const Endpoint& from) {
        const std::string* contact = req.header("Contact");
        auto contactAddr = contact ? parseNameAddr(*contact) : std::nullopt;
        auto dest = contactAddr ? resolveTarget(contactAddr->uri, from) : std::nullopt;
        if (!dest) {
            log.event("INVITE without a usable Contact: 400");
            return respond(req, ids, from, 400, "Bad Request");
        }
        const std::string* type = req.header("Content-Type");
        if (!type || !equalsNoCase(trim(*type), "application/sdp")) {
            return respond(req, ids, from, 415, "Unsupported Media Type", std::string(),
                           {{"Accept", "application/sdp"}});
        }
        respond(req, ids, from, 100, "Trying");
        auto offer = parsePlaybackOffer(req.body);
        if (!offer || !equalsNoCase(offer->session, "Playback")) {
            log.event("INVITE offer is not a Playback with u= and t=: 488");
            return respond(req, ids, from, 488, "Not Acceptable Here", newTag());
        }
        std::string why;
        auto mediaOffer = parseMediaOffer(req.body, &why);
        if (!mediaOffer) {
            log.event("INVITE offer names no place for the video (%s): 488", why.c_str());
            return respond(req, ids, from, 488, "Not Acceptable Here", newTag());
        }
        if (!cameraCodes.count(offer->camera)) {
            log.event("INVITE for unknown camera %s: 404", offer->camera.c_str());
            return respond(req, ids, from, 404, "Not Found", newTag());
        }
        auto span = recordings.clip({offer->start, offer->end}, clock.epochSeconds());
        if (!span) {
            log.event("INVITE for %s: no recording in %" PRId64 "..%" PRId64 ": 404",
                      offer->camera.c_str(), offer->start, offer->end);
            return respond(req, ids, from, 404, "Not Found", newTag());
        }
        if (media && playbacks.size() >= cfg.maxStreams) {
            // Each one has an encoder and a thread: a flood of INVITEs must not exhaust them.
            log.event("INVITE for %s: %zu playbacks already stream: 486", offer->camera.c_str(),
                      playbacks.size());
            return respond(req, ids, from, 486, "Busy Here", newTag());
        }
        openPlayback(req, ids, from, *offer, *span, contactAddr->uri, *dest,
                     streamOrder(*offer, *span, *mediaOffer));
    }

    // The offer's y= when it names an SSRC; else one of ours, "1" and nine digits (a
    // recording), announced in the answer.
    StreamOrder streamOrder(const PlaybackOffer& offer, const TimeSpan& span,
                            const MediaOffer& mediaOffer) {
        StreamOrder order;
        order.cameraCode = offer.camera;
        for (auto& cam : cameras) {
            if (cam.code == offer.camera)
                order.cameraName = cam.name;
        }
        order.span = span;
        order.dest = {mediaOffer.host, mediaOffer.port};
        order.payloadType = uint8_t(mediaOffer.payloadType);
        if (!mediaOffer.yLine.empty() && !mediaOffer.ssrc)
            log.event("offer's y=%s is no SSRC: drawing one", mediaOffer.yLine.c_str());
        order.ssrc = mediaOffer.ssrc ? *mediaOffer.ssrc : uint32_t(1000000000 + rng() % 1000000000);
        return order;
    }

    std::string answerSdp(const PlaybackOffer& offer, const StreamOrder& order) {
        char ssrc[16];
        std::snprintf(ssrc, sizeof ssrc, "%010u", order.ssrc);
        std::string a = cfg.address;
        int mediaPort = cfg.mediaPort > 0 ? cfg.mediaPort : cfg.port + 2;
        return "v=0\r\no=" + offer.camera + " 0 0 IN IP4 " + a +
               "\r\ns=Playback\r\nu=" + offer.uLine + "\r\nc=IN IP4 " + a +
               "\r\nt=" + std::to_string(order.span.start) + " " + std::to_string(order.span.end) +
               "\r\nm=video " + std::to_string(mediaPort) + " RTP/AVP " +
               std::to_string(order.payloadType) +
               "\r\na=sendonly\r\na=rtpmap:" + std::to_string(order.payloadType) +
               " PS/90000\r\ny=" + ssrc + "\r\n";
    }

    void openPlayback(const SipMessage& req, const RequestIds& ids, const Endpoint& from,
                      const PlaybackOffer& offer, const TimeSpan& span, const std::string& target,
                      const Endpoint& dest, const StreamOrder& stream) {
        std::string tag = newTag();
        DialogKey key{ids.callId, tag, ids.from.tag()};
        Playback pb;
        pb.key = key;
        pb.remoteFrom = *req.header("From");
        pb.target = target;
        pb.dest = dest;
        pb.camera = offer.camera;
        pb.span = span;
        pb.clock = PlaybackClock(span.start, span.end, cfg.speedup);
        pb.inviteCSeq = pb.remoteCSeq = ids.cseq.number;
        pb.stream = stream;
        log.event(
            "playback %s of %s: asked %" PRId64 "..%" PRId64 ", answering %" PRId64 "..%" PRId64,
            ids.callId.c_str(), offer.camera.c_str(), offer.start, offer.end, span.start, span.end);
        respond(req, ids, from, 200, "OK", tag,
                {{"Contact", ourContact()}, {"Content-Type", "APPLICATION/SDP"}},
                answerSdp(offer, stream));
        pb.okBytes = serverTx[serverTxKey(req, ids)].bytes;
        pb.okDest = serverTx[serverTxKey(req, ids)].dest;
        pb.okIntervalMs = cfg.t1Ms;
        pb.okTimer = addTimer(pb.okIntervalMs, [this, key] { retransmitOk(key); });
        pb.ackTimeout = addTimer(txLifetimeMs(), [this, key] { ackTimedOut(key); });
        playbacks.emplace(key, std::move(pb));
    }

    // RFC 3261 §13.3.1.4: the 2xx is repeated until its ACK arrives.
    void retransmitOk(const DialogKey& key) {
        auto it = playbacks.find(key);
        if (it == playbacks.end() || it->second.state != PlayState::AwaitAck)
            return;
        Playback& pb = it->second;
        transmit(pb.okDest, pb.okBytes);
        pb.okIntervalMs = std::min(pb.okIntervalMs * 2, t2Ms());
        pb.okTimer = addTimer(pb.okIntervalMs, [this, key] { retransmitOk(key); });
    }

    void ackTimedOut(const DialogKey& key) {
        auto it = playbacks.find(key);
        if (it == playbacks.end() || it->second.state != PlayState::AwaitAck)
            return;
        it->second.ackTimeout = 0;
        log.event("playback %s: no matching ACK for the 200 OK; ending the call",
                  key.callId.c_str());
        sendBye(key);
    }

    void handleAck(Playback& pb, const RequestIds& ids) {
        if (ids.cseq.number != pb.inviteCSeq) {
            ++stats.noDialog;
            log.event("ACK CSeq %u differs from the INVITE's %u: dropped", ids.cseq.number,
                      pb.inviteCSeq);
            return;
        }
        if (pb.state != PlayState::AwaitAck)
            return;  // a repeated ACK
        cancelTimer(pb.okTimer);
        cancelTimer(pb.ackTimeout);
        pb.state = PlayState::Playing;
        pb.clock.play(clock.steadyMs());
        log.event("playback %s confirmed: playing %s from %" PRId64, pb.key.callId.c_str(),
                  pb.camera.c_str(), pb.span.start);
        scheduleEnd(pb);
        startVideo(pb);
    }

    void handleInfo(Playback& pb, const SipMessage& req, const RequestIds& ids,
                    const Endpoint& from) {
        const std::string* type = req.header("Content-Type");
        if (!type || !equalsNoCase(trim(*type), "Application/MANSRTSP")) {
            return respond(req, ids, from, 415, "Unsupported Media Type", std::string(),
                           {{"Accept", "Application/MANSRTSP"}});
        }
        auto cmd = parseMansrtsp(req.body);
        if (!cmd || !applyRtsp(pb, *cmd)) {
            log.event("INFO body is not a MANSRTSP command this platform serves: 400");
            return respond(req, ids, from, 400, "Bad Request");
        }
        int64_t now = clock.steadyMs();
        log.event("playback %s: %s%s -> %s, scale %.2f, at %.1f s of %" PRId64 " s",
                  pb.key.callId.c_str(), cmd->method.c_str(),
                  cmd->hasRange ? (cmd->rangeNow ? " Range now" : " Range seek") : "",
                  pb.clock.playing() ? "playing" : "paused", pb.clock.scale(), pb.clock.offset(now),
                  pb.span.end - pb.span.start);
        // The video is steered before the answer goes, so no frame of the old state follows it.
        if (media && pb.stream.id)
            media->steerStream(pb.stream.id, streamClock(pb));
        respond(req, ids, from, 200, "OK");
        if (pb.state == PlayState::EndNotified && !pb.clock.atEnd(now))
            pb.state = PlayState::Playing;
        scheduleEnd(pb);
    }

    StreamClock streamClock(const Playback& pb) const {
        return {pb.clock.offset(clock.steadyMs()), pb.clock.playing(), pb.clock.rate(), pb.seeks};
    }

    void startVideo(Playback& pb) {
        if (!media)
            return;
        pb.stream.id = nextStreamId++;
        log.event("playback %s: video to %s, payload type %d, SSRC %010u", pb.key.callId.c_str(),
                  pb.stream.dest.text().c_str(), pb.stream.payloadType, pb.stream.ssrc);
        media->startStream(pb.stream, streamClock(pb));
    }

    void stopVideo(Playback& pb) {
        if (media && pb.stream.id)
            media->stopStream(pb.stream.id);
        pb.stream.id = 0;
    }

    bool applyRtsp(Playback& pb, const RtspCommand& cmd) {
        int64_t now = clock.steadyMs();
        if (cmd.method == "PAUSE") {
            pb.clock.pause(now);
            return true;
        }
        if (cmd.method == "TEARDOWN") {
            pb.clock.pause(now);
            return true;
        }
        if (cmd.method != "PLAY")
            return false;
        if (cmd.hasScale && !pb.clock.setScale(now, cmd.scale))
            return false;
        if (cmd.hasRange && !cmd.rangeNow) {
            pb.clock.seek(now, cmd.rangeStart);
            ++pb.seeks;
        }
        if (pb.state != PlayState::AwaitAck)
            pb.clock.play(now);
        return true;
    }

    void scheduleEnd(Playback& pb) {
        cancelTimer(pb.endTimer);
        if (pb.state != PlayState::Playing)
            return;
        int64_t ms = pb.clock.msUntilEnd(clock.steadyMs());
        if (ms < 0)
            return;
        DialogKey key = pb.key;
        pb.endTimer = addTimer(ms, [this, key] { onEndTimer(key); });
    }

    void onEndTimer(const DialogKey& key) {
        auto it = playbacks.find(key);
        if (it == playbacks.end())
            return;
        Playback& pb = it->second;
        pb.endTimer = 0;
        if (pb.state != PlayState::Playing)
            return;
        if (!pb.clock.atEnd(clock.steadyMs()))
            return scheduleEnd(pb);
        sendMediaStatus(pb);
    }

    void sendMediaStatus(Playback& pb) {
        pb.state = PlayState::EndNotified;
        SipMessage req = playbackRequest(pb, "MESSAGE");
        req.add("Content-Type", "Application/MANSCDP+xml");
        req.body = "<?xml version=\"1.0\" encoding=\"" + cfg.xmlEncoding + "\"?>\r\n<Notify>\r\n" +
                   "<CmdType>MediaStatus</CmdType>\r\n<SN>" + std::to_string(snCounter++) +
                   "</SN>\r\n<DeviceID>" + pb.camera + "</DeviceID>\r\n" +
                   "<NotifyType>121</NotifyType>\r\n</Notify>\r\n";
        ++stats.mediaStatusSent;
        log.event("playback %s reached the end of its span: MediaStatus sent",
                  pb.key.callId.c_str());
        DialogKey key = pb.key;
        sendRequest(req, pb.dest,
                    [this, key](const SipMessage* r) { onMediaStatusAnswered(key, r); });
    }

    void onMediaStatusAnswered(const DialogKey& key, const SipMessage* r) {
        auto it = playbacks.find(key);
        if (it == playbacks.end())
            return;
        if (!isSuccess(r)) {
            log.event("playback %s: MediaStatus %s; ending the call", key.callId.c_str(),
                      r ? ("answered " + std::to_string(r->status)).c_str() : "not answered");
            return sendBye(key);
        }
        log.event("playback %s: MediaStatus answered, waiting for the client's BYE",
                  key.callId.c_str());
        it->second.byeWait = addTimer(txLifetimeMs(), [this, key] {
            auto pbIt = playbacks.find(key);
            if (pbIt == playbacks.end())
                return;
            pbIt->second.byeWait = 0;
            log.event("playback %s: no BYE after MediaStatus; ending the call", key.callId.c_str());
            sendBye(key);
        });
    }

    void sendBye(const DialogKey& key) {
        auto it = playbacks.find(key);
        if (it == playbacks.end())
            return;
        SipMessage req = playbackRequest(it->second, "BYE");
        Endpoint dest = it->second.dest;
        endPlayback(key);
        ++stats.byeSent;
        sendRequest(req, dest, [this, key](const SipMessage* r) {
            log.event("our BYE for %s %s", key.callId.c_str(),
                      r ? ("answered " + std::to_string(r->status)).c_str() : "not answered");
        });
    }

    void endPlayback(const DialogKey& key) {
        auto it = playbacks.find(key);
        if (it == playbacks.end())
            return;
        Playback& pb = it->second;
        for (uint64_t* t : {&pb.okTimer, &pb.ackTimeout, &pb.endTimer, &pb.byeWait})
            cancelTimer(*t);
        stopVideo(pb);
        playbacks.erase(it);
    }

    // ---- responses to our requests -----------------------------------------------------
    void onResponse(const SipMessage& resp) {
        const std::string* via = resp.header("Via");
        auto v = via ? parseVia(*via) : std::nullopt;
        auto it = v ? clientTx.find(v->branch()) : clientTx.end();
        if (it == clientTx.end()) {
            ++stats.strayResponses;
            log.event("response %d matches no request we sent: dropped", resp.status);
            return;
        }
        std::string why = responseMismatch(it->second, resp);
        if (!why.empty()) {
            ++stats.mismatchedResponses;
            log.event("response %d to %s does not match its request (%s): dropped", resp.status,
                      it->second.method.c_str(), why.c_str());
            return;
        }
        if (resp.status < 200) {
            it->second.intervalMs = t2Ms();  // RFC 3261 §17.1.2.2: provisional slows E to T2
            return;
        }
        ClientTx tx = std::move(it->second);
        clientTx.erase(it);
        cancelTimer(tx.retransmitTimer);
        cancelTimer(tx.timeoutTimer);
        if (tx.onFinal)
            tx.onFinal(&resp);
    }

    static std::string responseMismatch(const ClientTx& tx, const SipMessage& resp) {
        auto cseq = resp.header("CSeq") ? parseCSeq(*resp.header("CSeq")) : std::nullopt;
        auto from = resp.header("From") ? parseNameAddr(*resp.header("From")) : std::nullopt;
        auto to = resp.header("To") ? parseNameAddr(*resp.header("To")) : std::nullopt;
        const std::string* callId = resp.header("Call-ID");
        if (!cseq || cseq->method != tx.method || cseq->number != tx.cseq)
            return "CSeq";
        if (!callId || *callId != tx.callId)
            return "Call-ID";
        if (!from || from->tag() != tx.fromTag)
            return "From tag";
        if (!to || (!tx.toTag.empty() && to->tag() != tx.toTag))
            return "To tag";
        return std::string();
    }

    // ---- faults ------------------------------------------------------------------------
    void restart() {
        timers.clear();
        timerDue.clear();
        clientTx.clear();
        serverTx.clear();
        registrations.clear();
        for (auto& [key, pb] : playbacks)
            stopVideo(pb);
        playbacks.clear();
        subscriptions.clear();
        jobs.clear();
        nonce = randomHex(32);
        ++stats.restarts;
        log.event("restart: every registration, dialog and subscription forgotten; new nonce %s",
                  nonce.c_str());
    }

    int byeOpenPlaybacks() {
        std::vector<DialogKey> keys;
        for (auto& [k, pb] : playbacks)
            keys.push_back(k);
        for (auto& k : keys) {
            log.event("fault: ending playback %s with our BYE", k.callId.c_str());
            sendBye(k);
        }
        return int(keys.size());
    }
};

Platform::Platform(PlatformConfig config, std::vector<Camera> cameras, PlatformClock& clock,
                   SendFn send, EventLog& log, MediaControl* media)
    : impl_(std::make_unique<Impl>(std::move(config), std::move(cameras), clock, std::move(send),
                                   log, media)) {}

Platform::~Platform() = default;

void Platform::onDatagram(const std::string& data, const Endpoint& from) {
    impl_->onDatagram(data, from);
}
int64_t Platform::runTimers() {
    return impl_->runTimers();
}
int64_t Platform::nextDeadline() const {
    return impl_->nextDeadline();
}
void Platform::restart() {
    impl_->restart();
}
int Platform::byeOpenPlaybacks() {
    return impl_->byeOpenPlaybacks();
}

bool Platform::byePlayback(const std::string& callId) {
    for (auto& [k, pb] : impl_->playbacks) {
        if (k.callId != callId)
            continue;
        DialogKey key = k;
        impl_->log.event("fault: ending playback %s with our BYE", callId.c_str());
        impl_->sendBye(key);
        return true;
    }
    return false;
}
const PlatformStats& Platform::stats() const {
    return impl_->stats;
}
bool Platform::isRegistered(const std::string& user) const {
    return impl_->isRegistered(user);
}
std::string Platform::currentNonce() const {
    return impl_->nonce;
}

std::vector<Platform::PlaybackView> Platform::playbacks() const {
    std::vector<PlaybackView> out;
    int64_t now = impl_->clock.steadyMs();
    for (auto& [k, pb] : impl_->playbacks) {
        out.push_back({k.callId, pb.camera, pb.span, pb.state != Impl::PlayState::AwaitAck,
                       pb.clock.position(now), pb.clock.playing(), pb.clock.scale()});
    }
    return out;
}

}  // namespace gbplat
