// Arbitrary datagrams through the handler while a playback dialog is open, a record answer
// through the assembler and the timeline, then every reply that echoes what was received.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "CCTVCAR.h"
#include "recordtimeline.h"

namespace {

CCTVCAR& codec() {
    static CCTVCAR* car = [] {
        setenv("NXROOT", "/tmp", 0);
        auto* c = new CCTVCAR;
        c->setSessionParams("10.0.0.5", "34020000001320000001", "5061", "10.0.0.9",
                            "34020000002000000001", "5060", "admin", "12345678", "0", "0", "1");
        c->setIdentifierSource([](uint32_t& x, uint32_t& y) { x = 123456789, y = 7; });
        return c;
    }();
    return *car;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CCTVCAR& car = codec();
    int length = 0;
    car.buildPlaybackInvite(&length, 1700000000, 1700003600, "34020000001310000001");
    car.buildPlaybackAck(&length);
    const int count = size > 65536 ? 65536 : int(size);
    const int r = car.handleIncoming(reinterpret_cast<const char*>(data), count);
    if (r < -1 || (r <= 0 && !car.messageKind().empty()))
        __builtin_trap();
    if (car.bodyCommand() == manscdp::Command::RecordInfo) {
        recordquery::RecordAssembler assembler;
        assembler.begin(17, QStringLiteral("34020000001310000001"));
        manscdp::Notes notes;
        assembler.add(car.recordPage(), &notes);
        recordquery::Timeline::of(1700000000, 1700086400, assembler.segments());
    }
    car.buildMessageOk(&length);
    car.buildPlaybackMessageOk(&length);
    car.buildByeOk(&length);
    car.buildRegister(1, &length);
    car.buildPlaybackInfo(&length, 4, "1.0", car.recordDuration());
    car.buildPlaybackBye(&length);
    return 0;
}
