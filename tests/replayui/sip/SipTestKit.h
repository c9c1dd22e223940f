#pragma once
// Shared fixture pieces: a codec with fixed session parameters, identifiers and clock.
#include <cstdint>
#include <string>
#include <vector>

#include "CCTVCAR.h"

namespace siptest {

inline constexpr const char* kHostIp = "10.0.0.5";
inline constexpr const char* kHostCode = "34020000001320000001";
inline constexpr const char* kHostPort = "5061";
inline constexpr const char* kPlatIp = "10.0.0.9";
inline constexpr const char* kPlatCode = "34020000002000000001";
inline constexpr const char* kPlatPort = "5060";

// Identifier draws 42, 43, ... for x and 7, 8, ... for y.
struct CountingIds {
    uint32_t x = 42, y = 7;
    void operator()(uint32_t& outX, uint32_t& outY) {
        outX = x++;
        outY = y++;
    }
};

inline void configure(CCTVCAR& car, const char* sn = "1") {
    car.setSessionParams(kHostIp, kHostCode, kHostPort, kPlatIp, kPlatCode, kPlatPort, "admin",
                         "12345678", "0", "0", sn);
    car.setIdentifierSource(CountingIds{});
    car.setClockSource([] { return QDateTime(QDate(2024, 3, 5), QTime(9, 0, 0)); });
}

// Joins lines with CRLF, each line terminated.
inline std::string crlf(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& l : lines)
        out += l + "\r\n";
    return out;
}

// The length is read only after the builder ran (it is passed by reference).
inline std::string built(const char* text, const int& length) {
    return text == nullptr ? std::string() : std::string(text, size_t(length));
}

inline int feed(CCTVCAR& car, const std::string& datagram) {
    return car.handleIncoming(datagram.data(), int(datagram.size()));
}

}  // namespace siptest
