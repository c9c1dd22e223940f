// The synthetic recording's picture: the camera's name and code and the recording's date and
// time in large letters, and a square that moves with the recording time, drawn straight into
// a YUV 4:2:0 picture. Text is rendered through FreeType once and kept: the name and code for
// the whole stream, the date and time until its second changes.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace gbplat {

// 8-bit coverage, row by row.
struct Coverage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> alpha;
};

// One font face shared by every stream; rendering is serialised (it happens once a second).
class TextFont {
public:
    // Nothing, with the reason in `why`, when FreeType cannot open the face.
    static std::shared_ptr<TextFont> open(const std::string& path, std::string* why);
    ~TextFont();
    TextFont(const TextFont&) = delete;
    TextFont& operator=(const TextFont&) = delete;

    // One line of UTF-8 text at `pixelSize`; characters the font lacks are left out, and
    // bytes that are not UTF-8 are skipped.
    Coverage render(const std::string& utf8, int pixelSize);

private:
    struct Glyph {
        Coverage bitmap;
        int left = 0;
        int top = 0;
        int advance = 0;
    };
    TextFont() = default;
    const Glyph& glyph(uint32_t codepoint, int pixelSize);

    struct Handles;
    std::unique_ptr<Handles> ft_;
    std::mutex mutex_;
    std::map<std::pair<int, uint32_t>, Glyph> glyphs_;
};

struct YuvPicture {
    uint8_t* plane[3];
    int stride[3];
    int width;
    int height;
};

class Scene {
public:
    // `font` may be null: the picture then has the moving square only.
    Scene(int width, int height, std::shared_ptr<TextFont> font, const std::string& cameraName,
          const std::string& cameraCode, int64_t utcOffsetSeconds);

    // The picture of the recording at `epochSeconds` (fractional).
    void draw(double epochSeconds, YuvPicture& picture);

private:
    void blit(const Coverage& text, int x, int y, YuvPicture& picture) const;

    int width_;
    int height_;
    std::shared_ptr<TextFont> font_;
    int64_t utcOffset_;
    Coverage name_;
    Coverage code_;
    Coverage time_;
    int64_t timeSecond_ = INT64_MIN;
};

}  // namespace gbplat
