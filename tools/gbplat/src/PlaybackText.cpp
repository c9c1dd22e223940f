#include "PlaybackText.h"

#include "SipMessage.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <algorithm>
#include <sstream>
#include <vector>

namespace gbplat {

namespace {

std::vector<std::string> bodyLines(const std::string& body) {
    std::vector<std::string> lines;
    std::istringstream in(body);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

bool readInt64(const std::string& s, int64_t& out) {
    if (s.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(s.c_str(), &end, 10);
    if (errno != 0 || *end != '\0')
        return false;
    out = v;
    return true;
}

bool readDouble(const std::string& s, double& out) {
    if (s.empty())
        return false;
    char* end = nullptr;
    out = std::strtod(s.c_str(), &end);
    return *end == '\0' && std::isfinite(out);
}

// "IN IP4 a.b.c.d" (a multicast TTL suffix is cut off): the address when it can take our video.
std::optional<std::string> unicastIpv4(const std::string& cValue) {
    std::istringstream in(cValue);
    std::string net, type, addr;
    in >> net >> type >> addr;
    addr = addr.substr(0, addr.find('/'));
    in_addr a{};
    if (net != "IN" || type != "IP4" || inet_pton(AF_INET, addr.c_str(), &a) != 1)
        return std::nullopt;
    uint32_t host = ntohl(a.s_addr);
    if (host == 0 || host == 0xFFFFFFFFu || (host >> 28) == 0xE)
        return std::nullopt;
    return addr;
}

std::optional<uint32_t> ssrcOfY(const std::string& y) {
    int64_t v = 0;
    if (y.empty() || y.size() > 10 || y.find_first_not_of("0123456789") != std::string::npos ||
        !readInt64(y, v) || v > 0xFFFFFFFFLL) {
        return std::nullopt;
    }
    return uint32_t(v);
}

struct VideoSection {
    bool seen = false;
    std::string port, proto;
    std::vector<std::string> formats;
    std::string c;
    std::string psFormat;             // from a=rtpmap:N PS/90000
    std::vector<std::string> mapped;  // every format with an rtpmap
};

void readMediaLine(const std::string& value, VideoSection& video) {
    std::istringstream in(value);
    std::string media;
    in >> media >> video.port >> video.proto;
    for (std::string f; in >> f;)
        video.formats.push_back(f);
}

}  // namespace

std::optional<MediaOffer> parseMediaOffer(const std::string& sdp, std::string* why) {
    auto fail = [why](const char* reason) {
        if (why)
            *why = reason;
        return std::nullopt;
    };
    MediaOffer offer;
    VideoSection video;
    std::string sessionC;
    bool inMedia = false, inVideo = false;
    for (const auto& line : bodyLines(sdp)) {
        if (line.size() < 2 || line[1] != '=')
            continue;
        std::string value = trim(line.substr(2));
        char key = line[0];
        if (key == 'm') {
            inMedia = true;
            inVideo = !video.seen && value.compare(0, 6, "video ") == 0;
            if (inVideo) {
                video.seen = true;
                readMediaLine(value, video);
            }
        } else if (key == 'c') {
            if (inVideo)
                video.c = value;
            else if (!inMedia)
                sessionC = value;
        } else if (key == 'y') {
            offer.yLine = value;
        } else if (key == 'a' && inVideo && toLower(value).compare(0, 7, "rtpmap:") == 0) {
            std::istringstream in(value.substr(7));
            std::string pt, encoding;
            in >> pt >> encoding;
            video.mapped.push_back(pt);
            if (video.psFormat.empty() &&
                equalsNoCase(encoding.substr(0, encoding.find('/')), "PS"))
                video.psFormat = pt;
        }
    }
    if (!video.seen)
        return fail("no m=video line");
    if (!equalsNoCase(video.proto, "RTP/AVP"))
        return fail("m=video is not RTP/AVP over UDP");
    int64_t port = 0;
    if (!readInt64(video.port, port) || port < 1 || port > 65535)
        return fail("m=video names no port between 1 and 65535");
    auto host = unicastIpv4(video.c.empty() ? sessionC : video.c);
    if (!host)
        return fail("no c= line with a unicast IPv4 address");
    auto has = [](const std::vector<std::string>& list, const std::string& v) {
        return std::find(list.begin(), list.end(), v) != list.end();
    };
    std::string pt = video.psFormat;
    if (pt.empty() && !has(video.mapped, "96"))
        pt = "96";  // GB/T 28181's static choice for PS
    bool offered = has(video.formats, pt);
    int64_t ptNumber = -1;
    if (!offered || !readInt64(pt, ptNumber) || ptNumber < 0 || ptNumber > 127)
        return fail("m=video offers no PS payload type");
    offer.host = *host;
    offer.port = int(port);
    offer.payloadType = int(ptNumber);
    offer.ssrc = ssrcOfY(offer.yLine);
    return offer;
}

std::optional<PlaybackOffer> parsePlaybackOffer(const std::string& sdp) {
    PlaybackOffer offer;
    bool hasS = false, hasU = false, hasT = false;
    for (const auto& line : bodyLines(sdp)) {
        if (line.size() < 2 || line[1] != '=')
            continue;
        std::string value = line.substr(2);
        switch (line[0]) {
            case 's':
                offer.session = trim(value);
                hasS = true;
                break;
            case 'u':
                offer.uLine = trim(value);
                offer.camera = offer.uLine.substr(0, offer.uLine.find(':'));
                hasU = true;
                break;
            case 't': {
                std::istringstream in(value);
                std::string a, b;
                in >> a >> b;
                hasT = readInt64(a, offer.start) && readInt64(b, offer.end);
                if (!hasT)
                    return std::nullopt;
                break;
            }
            default:
                break;
        }
    }
    if (!hasS || !hasU || !hasT || offer.camera.empty())
        return std::nullopt;
    return offer;
}

std::optional<RtspCommand> parseMansrtsp(const std::string& body) {
    auto lines = bodyLines(body);
    if (lines.empty())
        return std::nullopt;
    RtspCommand cmd;
    std::istringstream first(lines[0]);
    std::string version;
    first >> cmd.method >> version;
    if (version != "MANSRTSP/1.0" || cmd.method.empty())
        return std::nullopt;
    for (size_t i = 1; i < lines.size(); ++i) {
        size_t colon = lines[i].find(':');
        if (colon == std::string::npos)
            continue;
        std::string name = trim(lines[i].substr(0, colon));
        std::string value = trim(lines[i].substr(colon + 1));
        if (equalsNoCase(name, "CSeq")) {
            int64_t n = 0;
            if (!readInt64(value, n))
                return std::nullopt;
            cmd.cseq = int(n);
        } else if (equalsNoCase(name, "Scale")) {
            if (!readDouble(value, cmd.scale))
                return std::nullopt;
            cmd.hasScale = true;
        } else if (equalsNoCase(name, "Range")) {
            // npt=now- | npt=START- | npt=START-END (the end is not used)
            if (toLower(value).compare(0, 4, "npt=") != 0)
                return std::nullopt;
            std::string from =
                value.substr(4, value.find('-', 4) == std::string::npos ? std::string::npos
                                                                        : value.find('-', 4) - 4);
            cmd.hasRange = true;
            if (equalsNoCase(from, "now")) {
                cmd.rangeNow = true;
            } else if (!readDouble(from, cmd.rangeStart) || cmd.rangeStart < 0) {
                return std::nullopt;
            }
        }
    }
    return cmd;
}

}  // namespace gbplat
