#include "SipCore.h"

#include <algorithm>

namespace gbplat {

namespace {

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

const char* const kAllowedMethods = "REGISTER, MESSAGE, SUBSCRIBE, INVITE, ACK, INFO, BYE, OPTIONS";

bool isSuccess(const SipMessage* r) {
    return r && r->status >= 200 && r->status < 300;
}

int expiresValue(const std::string* text, int absent, int cap) {
    if (!text)
        return std::min(absent, cap);
    std::string t = trim(*text);
    if (t.empty() || t.size() > 10 || t.find_first_not_of("0123456789") != std::string::npos) {
        return -1;
    }
    return int(std::min<long long>(std::stoll(t), cap));
}

SipCore::SipCore(const PlatformConfig& c, PlatformClock& clk, Platform::SendFn s, EventLog& l)
    : cfg(c), clock(clk), log(l), rng(std::random_device{}()), send_(std::move(s)) {}

std::string SipCore::randomHex(int digits) {
    static const char* hex = "0123456789abcdef";
    std::string s;
    for (int i = 0; i < digits; ++i)
        s += hex[rng() & 15];
    return s;
}

std::string SipCore::ourUri() const {
    return "sip:" + cfg.deviceId + "@" + cfg.address + ":" + std::to_string(cfg.port);
}

// ---- timers ----------------------------------------------------------------------------

uint64_t SipCore::addTimer(int64_t delayMs, std::function<void()> fn) {
    uint64_t id = nextTimerId_++;
    int64_t due = clock.steadyMs() + std::max<int64_t>(0, delayMs);
    timers_[{due, id}] = std::move(fn);
    timerDue_[id] = due;
    return id;
}

void SipCore::cancelTimer(uint64_t& id) {
    auto it = timerDue_.find(id);
    if (it != timerDue_.end()) {
        timers_.erase({it->second, id});
        timerDue_.erase(it);
    }
    id = 0;
}

int64_t SipCore::runTimers() {
    for (;;) {
        if (timers_.empty() || timers_.begin()->first.first > clock.steadyMs())
            break;
        auto it = timers_.begin();
        auto fn = std::move(it->second);
        timerDue_.erase(it->first.second);
        timers_.erase(it);
        fn();
    }
    return nextDeadline();
}

int64_t SipCore::nextDeadline() const {
    return timers_.empty() ? -1 : timers_.begin()->first.first;
}

// ---- sending ---------------------------------------------------------------------------

void SipCore::transmit(const Endpoint& to, const std::string& bytes) {
    log.datagram(true, to, bytes);
    send_(to, bytes);
}

std::optional<Endpoint> SipCore::resolveTarget(const std::string& uriText,
                                               const Endpoint& fallback) {
    auto uri = parseSipUri(uriText);
    if (!uri)
        return std::nullopt;
    Endpoint e{uri->host, uri->port ? uri->port : 5060};
    if (!isIpv4(e.host)) {
        log.event("target %s is not an IPv4 address; using the source address %s", uriText.c_str(),
                  fallback.host.c_str());
        e.host = fallback.host;
    }
    return e;
}

std::string SipCore::serverTxKey(const SipMessage& req, const RequestIds& ids) const {
    return ids.via.branch() + "|" + req.method + "|" + ids.via.host + ":" +
           std::to_string(ids.via.port);
}

void SipCore::respond(const Incoming& in, int status, const std::string& reason,
                      const std::string& toTag, std::vector<SipHeader> extra,
                      const std::string& body) {
    const SipMessage& req = in.req;
    const RequestIds& ids = in.ids;
    SipMessage r;
    r.status = status;
    r.reason = reason;
    Via top = ids.via;
    bool rport = false;
    for (auto& [n, v] : top.params) {
        if (equalsNoCase(n, "rport")) {
            rport = true;
            v = std::to_string(in.from.port);
        }
    }
    if (rport || top.host != in.from.host)
        top.params.push_back({"received", in.from.host});
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
    Endpoint dest{in.from.host, rport ? in.from.port : (ids.via.port ? ids.via.port : 5060)};
    std::string bytes = r.serialize();
    transmit(dest, bytes);
    if (req.method != "ACK")
        remember(serverTxKey(req, ids), bytes, dest);
}

// Keeps the last answer of a server transaction so a retransmitted request gets it again.
void SipCore::remember(const std::string& key, const std::string& bytes, const Endpoint& dest) {
    auto& c = serverTx_[key];
    cancelTimer(c.expiryTimer);
    c.bytes = bytes;
    c.dest = dest;
    c.expiryTimer = addTimer(txLifetimeMs(), [this, key] { serverTx_.erase(key); });
}

const SipCore::Answer* SipCore::earlierAnswer(const SipMessage& req, const RequestIds& ids) const {
    auto it = serverTx_.find(serverTxKey(req, ids));
    return it == serverTx_.end() ? nullptr : &it->second;
}

void SipCore::sendRequest(SipMessage req, const Endpoint& dest, FinalFn onFinal) {
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
    clientTx_[branch] = std::move(tx);
}

void SipCore::retransmit(const std::string& branch) {
    auto it = clientTx_.find(branch);
    if (it == clientTx_.end())
        return;
    transmit(it->second.dest, it->second.bytes);
    it->second.intervalMs = std::min(it->second.intervalMs * 2, t2Ms());
    it->second.retransmitTimer =
        addTimer(it->second.intervalMs, [this, branch] { retransmit(branch); });
}

void SipCore::timeOut(const std::string& branch) {
    auto it = clientTx_.find(branch);
    if (it == clientTx_.end())
        return;
    ClientTx tx = std::move(it->second);
    clientTx_.erase(it);
    cancelTimer(tx.retransmitTimer);
    log.event("%s %s timed out: no final answer", tx.method.c_str(), tx.callId.c_str());
    if (tx.onFinal)
        tx.onFinal(nullptr);
}

SipMessage SipCore::newRequest(const std::string& method, const std::string& target,
                               const std::string& from, const std::string& to,
                               const std::string& callId, uint32_t cseq) {
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

// ---- responses to our requests ---------------------------------------------------------

void SipCore::onResponse(const SipMessage& resp) {
    const std::string* via = resp.header("Via");
    auto v = via ? parseVia(*via) : std::nullopt;
    auto it = v ? clientTx_.find(v->branch()) : clientTx_.end();
    if (it == clientTx_.end()) {
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
    clientTx_.erase(it);
    cancelTimer(tx.retransmitTimer);
    cancelTimer(tx.timeoutTimer);
    if (tx.onFinal)
        tx.onFinal(&resp);
}

std::string SipCore::responseMismatch(const ClientTx& tx, const SipMessage& resp) {
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

bool SipCore::inOrder(const Incoming& in, uint32_t& remoteCSeq) {
    if (in.ids.cseq.number > remoteCSeq) {
        remoteCSeq = in.ids.cseq.number;
        return true;
    }
    ++stats.outOfOrder;
    log.event("%s CSeq %u not above %u in dialog %s: 500", in.req.method.c_str(),
              in.ids.cseq.number, remoteCSeq, in.ids.callId.c_str());
    respond(in, 500, "Server Internal Error", std::string(), {{"Retry-After", "1"}});
    return false;
}

void SipCore::reset() {
    timers_.clear();
    timerDue_.clear();
    clientTx_.clear();
    serverTx_.clear();
}

}  // namespace gbplat
