#include "CScdCsi.h"

namespace {
std::string Num(unsigned char v) {
    return std::to_string(static_cast<unsigned>(v));
}
std::string Text(const char* s) {
    return s ? s : "(null)";
}
}  // namespace

void CScdCsi::Record(std::string entry) {
    if (m_sink)
        m_sink("[CScdCsi] " + entry);
    m_journal.push_back(std::move(entry));
}

int CScdCsi::CCTV_Login(unsigned char level) {
    Record("CCTV_Login(" + Num(level) + ")");
    return 1;
}

int CScdCsi::CCTV_SelectCam(const char* cameraCode, unsigned char line, unsigned char station,
                            unsigned char division, unsigned char window, unsigned char extra1,
                            unsigned char extra2, unsigned char decoder) {
    Record("CCTV_SelectCam(" + Text(cameraCode) + "," + Num(line) + "," + Num(station) + "," +
           Num(division) + "," + Num(window) + "," + Num(extra1) + "," + Num(extra2) + "," +
           Num(decoder) + ")");
    return 1;
}

int CScdCsi::CCTV_SelectMon(const char* monitorCode) {
    Record("CCTV_SelectMon(" + Text(monitorCode) + ")");
    return 1;
}

int CScdCsi::CCTV_Scan(unsigned char argument) {
    Record("CCTV_Scan(" + Num(argument) + ")");
    return 1;
}
