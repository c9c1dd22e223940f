#include "PlaybackText.h"

#include "SipMessage.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
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

}  // namespace

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
