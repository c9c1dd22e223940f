// The two small texts of a playback: the SDP offer of the INVITE and the MANSRTSP body of an INFO.
#pragma once

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
