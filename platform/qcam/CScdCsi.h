#pragma once
// CCTV switching interface. This build drives no matrix: every call is written, with its
// arguments, to the owner's log (through the sink) and to an in-memory journal, in call order.
#include <functional>
#include <string>
#include <vector>

class CScdCsi {
public:
    using Sink = std::function<void(const std::string&)>;

    CScdCsi() = default;
    void SetSink(Sink sink) { m_sink = std::move(sink); }

    int CCTV_Login(unsigned char level);
    int CCTV_SelectCam(const char* cameraCode, unsigned char line, unsigned char station,
                       unsigned char division, unsigned char window, unsigned char extra1,
                       unsigned char extra2, unsigned char decoder);
    int CCTV_SelectMon(const char* monitorCode);
    int CCTV_Scan(unsigned char argument);

    // One entry per call, e.g. "CCTV_SelectCam(code,3,0,1,2,2,3,0)".
    const std::vector<std::string>& Journal() const { return m_journal; }
    void ClearJournal() { m_journal.clear(); }

private:
    void Record(std::string entry);

    Sink m_sink;
    std::vector<std::string> m_journal;
};
