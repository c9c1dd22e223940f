// The two small texts of a playback: the SDP offer of the INVITE and the MANSRTSP body of an INFO.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace gbplat {

struct PlaybackOffer {
    std::string session;  // s= ("Playback")
    std::string camera;   // u= up to its colon
    std::string uLine;    // u= as sent
    int64_t start = 0;    // t=
    int64_t end = 0;
};

// Nothing when s=, u= or t= is missing or t= is not two numbers.
std::optional<PlaybackOffer> parsePlaybackOffer(const std::string& sdp);

// Where the offer wants the video sent: the c= of the video section (else the session's), the
// m=video port, the payload type mapped to PS, and the SSRC its y= names.
struct MediaOffer {
    std::string host;  // dotted IPv4
    int port = 0;
    int payloadType = 96;
    std::string yLine;             // y= as sent; empty when absent
    std::optional<uint32_t> ssrc;  // y= when it is a decimal number of at most 32 bits
};

// Nothing, with the reason in `why`, without an m=video over RTP/AVP (UDP) on a port above 0, a
// c= with a unicast IPv4 address (not 0.0.0.0), or a PS payload type (an rtpmap to PS, or 96
// without an rtpmap).
std::optional<MediaOffer> parseMediaOffer(const std::string& sdp, std::string* why = nullptr);

struct RtspCommand {
    std::string method;  // PLAY, PAUSE, TEARDOWN
    int cseq = -1;
    bool hasScale = false;
    double scale = 1.0;
    bool hasRange = false;
    bool rangeNow = false;    // npt=now-
    double rangeStart = 0.0;  // seconds from the start of the recording
};

// Nothing for a body that is not a MANSRTSP/1.0 request or carries an unreadable Scale/Range.
std::optional<RtspCommand> parseMansrtsp(const std::string& body);

}  // namespace gbplat
