// The platform's cameras (read from a UTF-8 CSV file) and the MANSCDP catalogue bodies that
// carry them, encoded in GB18030 as the console's peers do.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace gbplat {

struct Camera {
    std::string code;  // 20 digits
    std::string name;  // UTF-8
    bool online = true;
    int train = 0;
    int car = 0;
    int type = 0;
};

// The platform's cameras, in the file's order, found by code.
class CameraDirectory {
public:
    explicit CameraDirectory(std::vector<Camera> cameras);
    const std::vector<Camera>& all() const { return cameras_; }
    size_t size() const { return cameras_.size(); }
    const Camera* find(const std::string& code) const;
    // Sets a camera's status; false when the camera is unknown.
    bool setOnline(const std::string& code, bool online);

private:
    std::vector<Camera> cameras_;
    std::map<std::string, size_t> index_;
};

// Reads "code,name,online,train,car,type" rows after a header line. Rows that are malformed
// (wrong field count, a code that is not 20 digits, a duplicate code) are skipped and reported
// in `problems`, one text per row.
std::vector<Camera> parseCameraCsv(const std::string& text, std::vector<std::string>* problems);
bool loadCameraFile(const std::string& path, std::vector<Camera>& cameras,
                    std::vector<std::string>* problems);

// UTF-8 to GB18030 through iconv; nothing when the input is not valid UTF-8.
bool utf8ToGb18030(const std::string& utf8, std::string& out);
std::string xmlEscape(const std::string& text);

struct CatalogPage {
    size_t first = 0;  // index of the first camera in this page
    size_t count = 0;
};

// Pages of at most pageSize items covering all cameras in order (none for no cameras).
std::vector<CatalogPage> catalogPages(size_t cameraCount, size_t pageSize);
// The same, but an empty list is still answered: one page without items.
std::vector<CatalogPage> answerPages(size_t itemCount, size_t pageSize);

struct CatalogBodyInput {
    std::string root;  // "Response" or "Notify"
    std::string sn;
    std::string deviceId;  // the platform's code
    std::string xmlEncoding = "GB2312";
    size_t sumNum = 0;
};

// The whole body in GB18030 bytes.
std::string buildCatalogBody(const CatalogBodyInput& in, const std::vector<Camera>& cameras,
                             CatalogPage page);
// A status change: each item as in the catalogue, with <Event> ON or OFF after its DeviceID.
std::string buildCatalogChangeBody(const CatalogBodyInput& in, const std::vector<Camera>& changed);
// The camera's name escaped for XML in GB18030 (its code when the name is not UTF-8), and the
// place it is in.
std::string xmlName(const Camera& cam);
std::string cameraAddress(const Camera& cam);

// Text of the first element with this name in a flat MANSCDP body; empty when absent.
std::string xmlElementText(const std::string& body, const std::string& name);
// Name of the document element, or empty.
std::string xmlRootName(const std::string& body);

}  // namespace gbplat
