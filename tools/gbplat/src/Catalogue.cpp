#include "Catalogue.h"

#include <iconv.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <fstream>
#include <set>
#include <sstream>

namespace gbplat {

namespace {

std::vector<std::string> splitCsvLine(const std::string& line) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (c == '"') {
            if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
                fields.back() += '"';
                ++i;
            } else {
                quoted = !quoted;
            }
        } else if (c == ',' && !quoted) {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

bool isDigits(const std::string& s, size_t len) {
    return s.size() == len && std::all_of(s.begin(), s.end(), [](char c) {
               return std::isdigit(static_cast<unsigned char>(c));
           });
}

bool toInt(const std::string& s, int& out) {
    if (s.empty() || s.size() > 9 || !std::all_of(s.begin(), s.end(), [](char c) {
            return std::isdigit(static_cast<unsigned char>(c));
        })) {
        return false;
    }
    out = std::stoi(s);
    return true;
}

// A change notice (a status NOTIFY) names what changed in <Event>, as GB/T 28181 platforms do.
std::string itemXml(const Camera& cam, const std::string& parentId, bool withEvent) {
    const char* status = cam.online ? "ON" : "OFF";
    std::ostringstream o;
    o << "<Item>\r\n"
      << "<DeviceID>" << cam.code << "</DeviceID>\r\n";
    if (withEvent)
        o << "<Event>" << status << "</Event>\r\n";
    o << "<Name>" << xmlName(cam) << "</Name>\r\n"
      << "<Manufacturer>Demo</Manufacturer>\r\n"
      << "<Model>IPC</Model>\r\n"
      << "<Owner>Owner</Owner>\r\n"
      << "<CivilCode>" << cam.code.substr(0, 6) << "</CivilCode>\r\n"
      << "<Address>" << cameraAddress(cam) << "</Address>\r\n"
      << "<Parental>0</Parental>\r\n"
      << "<ParentID>" << parentId << "</ParentID>\r\n"
      << "<SafetyWay>0</SafetyWay>\r\n"
      << "<RegisterWay>1</RegisterWay>\r\n"
      << "<Secrecy>0</Secrecy>\r\n"
      << "<IPAddress>10." << cam.train % 256 << "." << cam.car % 256 << "." << cam.type % 256
      << "</IPAddress>\r\n"
      << "<Status>" << status << "</Status>\r\n"
      << "</Item>\r\n";
    return o.str();
}

std::string catalogBody(const CatalogBodyInput& in, const Camera* first, size_t count,
                        bool withEvent) {
    std::ostringstream o;
    o << "<?xml version=\"1.0\" encoding=\"" << in.xmlEncoding << "\"?>\r\n"
      << "<" << in.root << ">\r\n"
      << "<CmdType>Catalog</CmdType>\r\n"
      << "<SN>" << in.sn << "</SN>\r\n"
      << "<DeviceID>" << in.deviceId << "</DeviceID>\r\n"
      << "<SumNum>" << in.sumNum << "</SumNum>\r\n"
      << "<DeviceList Num=\"" << count << "\">\r\n";
    for (size_t i = 0; i < count; ++i)
        o << itemXml(first[i], in.deviceId, withEvent);
    o << "</DeviceList>\r\n"
      << "</" << in.root << ">\r\n";
    return o.str();
}

}  // namespace

CameraDirectory::CameraDirectory(std::vector<Camera> cameras) : cameras_(std::move(cameras)) {
    for (size_t i = 0; i < cameras_.size(); ++i)
        index_[cameras_[i].code] = i;
}

const Camera* CameraDirectory::find(const std::string& code) const {
    auto it = index_.find(code);
    return it == index_.end() ? nullptr : &cameras_[it->second];
}

bool CameraDirectory::setOnline(const std::string& code, bool online) {
    auto it = index_.find(code);
    if (it == index_.end())
        return false;
    cameras_[it->second].online = online;
    return true;
}

std::vector<Camera> parseCameraCsv(const std::string& text, std::vector<std::string>* problems) {
    std::vector<Camera> cameras;
    std::set<std::string> seen;
    std::istringstream in(text);
    std::string line;
    int lineNo = 0;
    auto complain = [&](const std::string& why) {
        if (problems)
            problems->push_back("line " + std::to_string(lineNo) + ": " + why);
    };
    while (std::getline(in, line)) {
        ++lineNo;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (lineNo == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0)
            line.erase(0, 3);
        if (line.empty() || (lineNo == 1 && line.compare(0, 5, "code,") == 0))
            continue;
        auto f = splitCsvLine(line);
        Camera cam;
        if (f.size() != 6) {
            complain("expected 6 fields, found " + std::to_string(f.size()));
            continue;
        }
        int online = 0;
        cam.code = f[0];
        cam.name = f[1];
        if (!isDigits(cam.code, 20) || !toInt(f[2], online) || !toInt(f[3], cam.train) ||
            !toInt(f[4], cam.car) || !toInt(f[5], cam.type)) {
            complain("bad field");
            continue;
        }
        if (!seen.insert(cam.code).second) {
            complain("duplicate code " + cam.code);
            continue;
        }
        cam.online = online != 0;
        cameras.push_back(cam);
    }
    return cameras;
}

bool loadCameraFile(const std::string& path, std::vector<Camera>& cameras,
                    std::vector<std::string>* problems) {
    std::ifstream f(path, std::ios::binary);
    if (!f)
        return false;
    std::ostringstream s;
    s << f.rdbuf();
    cameras = parseCameraCsv(s.str(), problems);
    return true;
}

bool utf8ToGb18030(const std::string& utf8, std::string& out) {
    iconv_t cd = iconv_open("GB18030", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    out.clear();
    std::string input = utf8;
    char* inPtr = input.data();
    size_t inLeft = input.size();
    char buf[256];
    bool ok = true;
    while (inLeft > 0) {
        char* outPtr = buf;
        size_t outLeft = sizeof buf;
        size_t r = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        out.append(buf, sizeof buf - outLeft);
        if (r == static_cast<size_t>(-1) && errno != E2BIG) {
            ok = false;
            break;
        }
    }
    iconv_close(cd);
    return ok;
}

std::string xmlEscape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::vector<CatalogPage> catalogPages(size_t cameraCount, size_t pageSize) {
    std::vector<CatalogPage> pages;
    if (pageSize == 0)
        pageSize = 1;
    for (size_t first = 0; first < cameraCount; first += pageSize) {
        pages.push_back({first, std::min(pageSize, cameraCount - first)});
    }
    return pages;
}

std::vector<CatalogPage> answerPages(size_t itemCount, size_t pageSize) {
    auto pages = catalogPages(itemCount, pageSize);
    if (pages.empty())
        pages.push_back({0, 0});
    return pages;
}

std::string buildCatalogBody(const CatalogBodyInput& in, const std::vector<Camera>& cameras,
                             CatalogPage page) {
    size_t first = std::min(page.first, cameras.size());
    size_t count = std::min(page.count, cameras.size() - first);
    return catalogBody(in, cameras.data() + first, count, false);
}

std::string buildCatalogChangeBody(const CatalogBodyInput& in, const std::vector<Camera>& changed) {
    return catalogBody(in, changed.data(), changed.size(), true);
}

std::string xmlName(const Camera& cam) {
    std::string name;
    if (!utf8ToGb18030(xmlEscape(cam.name), name))
        name = cam.code;
    return name;
}

std::string cameraAddress(const Camera& cam) {
    return "Train " + std::to_string(cam.train) + " Car " + std::to_string(cam.car);
}

std::string xmlElementText(const std::string& body, const std::string& name) {
    std::string open = "<" + name + ">", close = "</" + name + ">";
    size_t b = body.find(open);
    if (b == std::string::npos)
        return std::string();
    b += open.size();
    size_t e = body.find(close, b);
    if (e == std::string::npos)
        return std::string();
    size_t s = body.find_first_not_of(" \t\r\n", b);
    size_t t = body.find_last_not_of(" \t\r\n", e - 1);
    return s == std::string::npos || s >= e ? std::string() : body.substr(s, t - s + 1);
}

std::string xmlRootName(const std::string& body) {
    size_t pos = 0;
    while ((pos = body.find('<', pos)) != std::string::npos) {
        if (pos + 1 < body.size() && (body[pos + 1] == '?' || body[pos + 1] == '!')) {
            ++pos;
            continue;
        }
        size_t end = body.find_first_of(" \t\r\n/>", pos + 1);
        if (end == std::string::npos)
            return std::string();
        return body.substr(pos + 1, end - pos - 1);
    }
    return std::string();
}

}  // namespace gbplat
