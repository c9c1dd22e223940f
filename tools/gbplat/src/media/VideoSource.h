// Where a stream's H.264 comes from: the synthetic recording of a camera, encoded as it plays
// (libx264 through libavcodec), or a file's video, looped and passed on without re-encoding.
#pragma once

#include "ProgramStream.h"
#include "Scene.h"

#include <cstdint>
#include <memory>
#include <string>

namespace gbplat {

struct EncodedFrame {
    Bytes data;  // Annex B, parameter sets in front of every keyframe
    bool keyframe = false;
    int64_t ptsAfterDts = 0;  // 90 kHz; above 0 only for reordered frames of a file
};

class VideoSource {
public:
    virtual ~VideoSource() = default;
    // 90 kHz ticks from one frame to the next.
    virtual uint32_t frameTicks() const = 0;
    // The frame for `offset` seconds after the span start, a keyframe when asked. False (with
    // error() telling why) when no frame could be made.
    virtual bool frameAt(double offset, bool keyframe, EncodedFrame& out) = 0;
    virtual std::string error() const = 0;
};

constexpr int kSyntheticFps = 25;

struct SyntheticStream {
    int width = 960;
    int height = 540;
    std::shared_ptr<TextFont> font;  // null: no text
    std::string cameraName;          // UTF-8
    std::string cameraCode;
    int64_t spanStart = 0;  // seconds since 1970: the picture at offset 0
    int64_t utcOffsetSeconds = 0;
};

// Null, with the reason in `why`, when the encoder cannot be opened.
std::unique_ptr<VideoSource> openSyntheticSource(const SyntheticStream& stream, std::string* why);
// Null, with the reason in `why`, when the file cannot be opened or has no H.264 video.
std::unique_ptr<VideoSource> openFileSource(const std::string& path, std::string* why);

}  // namespace gbplat
