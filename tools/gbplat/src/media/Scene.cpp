#include "Scene.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>

namespace gbplat {

namespace {

constexpr uint8_t kBackgroundY = 40;
constexpr uint8_t kNeutralChroma = 128;
constexpr uint8_t kTextY = 235;
constexpr uint8_t kSquareY = 170, kSquareU = 50, kSquareV = 200;  // orange
constexpr double kSquarePeriodSeconds = 4.0;                      // one pass across the picture

// Code points of the text; bytes that do not form UTF-8 are skipped.
std::vector<uint32_t> codepoints(const std::string& utf8) {
    std::vector<uint32_t> out;
    for (size_t i = 0; i < utf8.size();) {
        uint8_t b = uint8_t(utf8[i]);
        int extra = b < 0x80           ? 0
                    : (b >> 5) == 0x6  ? 1
                    : (b >> 4) == 0xE  ? 2
                    : (b >> 3) == 0x1E ? 3
                                       : -1;
        if (extra < 0 || i + size_t(extra) >= utf8.size()) {
            ++i;
            continue;
        }
        uint32_t cp = extra == 0 ? b : (b & (0x3F >> extra));
        bool ok = true;
        for (int k = 1; k <= extra; ++k) {
            uint8_t c = uint8_t(utf8[i + size_t(k)]);
            ok = ok && (c >> 6) == 0x2;
            cp = (cp << 6) | (c & 0x3F);
        }
        i += ok ? size_t(extra) + 1 : 1;
        if (ok)
            out.push_back(cp);
    }
    return out;
}

}  // namespace

struct TextFont::Handles {
    FT_Library library = nullptr;
    FT_Face face = nullptr;
    ~Handles() {
        if (face)
            FT_Done_Face(face);
        if (library)
            FT_Done_FreeType(library);
    }
};

std::shared_ptr<TextFont> TextFont::open(const std::string& path, std::string* why) {
    std::shared_ptr<TextFont> font(new TextFont);
    font->ft_ = std::make_unique<Handles>();
    if (FT_Init_FreeType(&font->ft_->library) != 0) {
        *why = "FreeType does not start";
        return nullptr;
    }
    if (FT_New_Face(font->ft_->library, path.c_str(), 0, &font->ft_->face) != 0) {
        *why = "cannot open the font " + path;
        return nullptr;
    }
    return font;
}

TextFont::~TextFont() = default;

const TextFont::Glyph& TextFont::glyph(uint32_t codepoint, int pixelSize) {
    auto key = std::make_pair(pixelSize, codepoint);
    auto it = glyphs_.find(key);
    if (it != glyphs_.end())
        return it->second;
    Glyph g;
    FT_Face face = ft_->face;
    if (FT_Get_Char_Index(face, codepoint) != 0 &&
        FT_Load_Char(face, codepoint, FT_LOAD_RENDER) == 0 &&
        face->glyph->bitmap.pixel_mode == FT_PIXEL_MODE_GRAY) {
        const FT_Bitmap& bm = face->glyph->bitmap;
        g.bitmap.width = int(bm.width);
        g.bitmap.height = int(bm.rows);
        g.bitmap.alpha.resize(size_t(bm.width) * bm.rows);
        for (unsigned r = 0; r < bm.rows; ++r)
            std::memcpy(&g.bitmap.alpha[size_t(r) * bm.width], bm.buffer + int(r) * bm.pitch,
                        bm.width);
        g.left = face->glyph->bitmap_left;
        g.top = face->glyph->bitmap_top;
        g.advance = int(face->glyph->advance.x >> 6);
    }
    return glyphs_.emplace(key, std::move(g)).first->second;
}

Coverage TextFont::render(const std::string& utf8, int pixelSize) {
    std::lock_guard<std::mutex> lock(mutex_);
    pixelSize = std::clamp(pixelSize, 6, 400);
    FT_Set_Pixel_Sizes(ft_->face, 0, FT_UInt(pixelSize));
    int ascender = int(ft_->face->size->metrics.ascender >> 6);
    int descender = int(ft_->face->size->metrics.descender >> 6);
    std::vector<const Glyph*> line;
    int pen = 0, width = 0;
    for (uint32_t cp : codepoints(utf8)) {
        const Glyph& g = glyph(cp, pixelSize);
        width = std::max(width, pen + g.left + g.bitmap.width);
        pen += g.advance;
        line.push_back(&g);
    }
    Coverage out;
    out.width = std::max(width, pen);
    out.height = std::max(1, ascender - descender);
    out.alpha.assign(size_t(out.width) * size_t(out.height), 0);
    pen = 0;
    for (const Glyph* g : line) {
        for (int r = 0; r < g->bitmap.height; ++r) {
            int y = ascender - g->top + r;
            if (y < 0 || y >= out.height)
                continue;
            for (int c = 0; c < g->bitmap.width; ++c) {
                int x = pen + g->left + c;
                if (x < 0 || x >= out.width)
                    continue;
                uint8_t& a = out.alpha[size_t(y) * size_t(out.width) + size_t(x)];
                a = std::max(a, g->bitmap.alpha[size_t(r) * size_t(g->bitmap.width) + size_t(c)]);
            }
        }
        pen += g->advance;
    }
    return out;
}

Scene::Scene(int width, int height, std::shared_ptr<TextFont> font, const std::string& cameraName,
             const std::string& cameraCode, int64_t utcOffsetSeconds)
    : width_(width), height_(height), font_(std::move(font)), utcOffset_(utcOffsetSeconds) {
    if (font_) {
        name_ = font_->render(cameraName, height_ * 56 / 540);
        code_ = font_->render(cameraCode, height_ * 40 / 540);
    }
}

void Scene::blit(const Coverage& text, int x0, int y0, YuvPicture& pic) const {
    if (text.width <= 0 || text.alpha.size() < size_t(text.width) * size_t(text.height))
        return;
    for (int r = 0; r < text.height; ++r) {
        int y = y0 + r;
        if (y < 0 || y >= pic.height)
            continue;
        uint8_t* row = pic.plane[0] + size_t(y) * size_t(pic.stride[0]);
        const uint8_t* a = &text.alpha[size_t(r) * size_t(text.width)];
        int from = std::max(0, -x0), to = std::min(text.width, pic.width - x0);
        for (int c = from; c < to; ++c) {
            if (a[c])
                row[x0 + c] = uint8_t(row[x0 + c] + ((kTextY - row[x0 + c]) * a[c] + 127) / 255);
        }
    }
}

void Scene::draw(double epochSeconds, YuvPicture& pic) {
    for (int p = 0; p < 3; ++p) {
        int rows = p == 0 ? pic.height : (pic.height + 1) / 2;
        int cols = p == 0 ? pic.width : (pic.width + 1) / 2;
        uint8_t value = p == 0 ? kBackgroundY : kNeutralChroma;
        for (int r = 0; r < rows; ++r)
            std::memset(pic.plane[p] + size_t(r) * size_t(pic.stride[p]), value, size_t(cols));
    }
    int margin = height_ * 24 / 540;
    blit(name_, margin, margin, pic);
    blit(code_, margin, margin + name_.height + margin / 3, pic);

    int64_t second = int64_t(std::floor(epochSeconds));
    if (font_ && second != timeSecond_) {
        time_t local = time_t(second + utcOffset_);
        std::tm tm{};
        gmtime_r(&local, &tm);
        char text[32];
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
        time_ = font_->render(text, height_ * 76 / 540);
        timeSecond_ = second;
    }
    blit(time_, (width_ - time_.width) / 2, height_ * 42 / 100, pic);

    // The square crosses the picture once every few seconds of recording, so motion, a pause
    // and a jump all show.
    int side = std::max(2, height_ * 64 / 540) & ~1;
    double phase = std::fmod(epochSeconds, kSquarePeriodSeconds) / kSquarePeriodSeconds;
    if (phase < 0)
        phase += 1;
    int x = int(phase * double(std::max(0, width_ - side))) & ~1;
    int y = std::max(0, height_ - margin - side) & ~1;
    for (int r = y; r < std::min(pic.height, y + side); ++r)
        std::memset(pic.plane[0] + size_t(r) * size_t(pic.stride[0]) + x, kSquareY,
                    size_t(std::min(side, pic.width - x)));
    for (int r = y / 2; r < std::min((pic.height + 1) / 2, (y + side) / 2); ++r) {
        std::memset(pic.plane[1] + size_t(r) * size_t(pic.stride[1]) + x / 2, kSquareU,
                    size_t(std::min(side, pic.width - x) / 2));
        std::memset(pic.plane[2] + size_t(r) * size_t(pic.stride[2]) + x / 2, kSquareV,
                    size_t(std::min(side, pic.width - x) / 2));
    }
}

}  // namespace gbplat
