// Parse-and-classify throughput of CCTVCAR::handleIncoming on typical and hostile datagrams, the
// cost of each builder, and libosip2's osip_message_parse on the same datagrams for comparison.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include <osipparser2/osip_parser.h>

#include "CCTVCAR.h"

namespace {

const char* const kDatagrams[] = {"01-register-200.sip",          "02-challenge-401.sip",
                                  "03-invite-200-sdp.sip",        "04-notify-catalog-10.sip",
                                  "05-keepalive-message.sip",     "11-folded-header-30k.sip",
                                  "12-name-30000-characters.sip", "14-entity-blowup.sip",
                                  "19-record-info-page.sip",      "20-deep-nesting.sip"};
constexpr int kLastDatagram = int(sizeof kDatagrams / sizeof kDatagrams[0]) - 1;

std::string datagram(int index) {
    std::ifstream in(std::string(SIP_SEED_DIR) + "/" + kDatagrams[index], std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

void configure(CCTVCAR& car) {
    car.setSessionParams("10.0.0.5", "34020000001320000001", "5061", "10.0.0.9",
                         "34020000002000000001", "5060", "admin", "12345678", "0", "0", "1");
}

void HandleIncoming(benchmark::State& state) {
    const std::string d = datagram(int(state.range(0)));
    CCTVCAR car;
    configure(car);
    // The playback dialog the INVITE answer belongs to.
    car.setIdentifierSource([](uint32_t& x, uint32_t& y) { x = 123456789, y = 7; });
    car.buildPlaybackInvite(nullptr, 1, 2, "34020000001310000001");
    car.setIdentifierSource(nullptr);
    for (auto _ : state) {
        benchmark::DoNotOptimize(car.handleIncoming(d.data(), int(d.size())));
    }
    if (car.messageKind().empty())
        state.SkipWithError("datagram not classified");
    state.SetLabel(kDatagrams[state.range(0)]);
    state.SetItemsProcessed(int64_t(state.iterations()));
}
BENCHMARK(HandleIncoming)->DenseRange(0, kLastDatagram);

void OsipMessageParse(benchmark::State& state) {
    const std::string d = datagram(int(state.range(0)));
    for (auto _ : state) {
        osip_message_t* sip = nullptr;
        osip_message_init(&sip);
        benchmark::DoNotOptimize(osip_message_parse(sip, d.data(), d.size()));
        osip_message_free(sip);
    }
    state.SetLabel(kDatagrams[state.range(0)]);
    state.SetItemsProcessed(int64_t(state.iterations()));
}
BENCHMARK(OsipMessageParse)->DenseRange(0, kLastDatagram);

template <typename Build>
void runBuilder(benchmark::State& state, Build build) {
    CCTVCAR car;
    configure(car);
    car.setIdentifierSource([](uint32_t& x, uint32_t& y) { x = 123456789, y = 7; });
    const std::string msg = datagram(4);
    car.handleIncoming(msg.data(), int(msg.size()));
    int length = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(build(car, &length));
    }
    if (length <= 0)
        state.SkipWithError("nothing built");
    state.SetItemsProcessed(int64_t(state.iterations()));
}

#define SIP_BUILDER_BENCH(name, call)                                          \
    void name(benchmark::State& state) {                                       \
        runBuilder(state, [](CCTVCAR& car, int* length) { return car.call; }); \
    }                                                                          \
    BENCHMARK(name)

SIP_BUILDER_BENCH(BuildRegister0, buildRegister(0, length));
SIP_BUILDER_BENCH(BuildRegister1, buildRegister(1, length));
SIP_BUILDER_BENCH(BuildSubscribe, buildSubscribe(length));
SIP_BUILDER_BENCH(BuildCatalogQuery, buildCatalogQuery(length));
SIP_BUILDER_BENCH(BuildKeepalive, buildKeepalive(length));
SIP_BUILDER_BENCH(BuildMessageOk, buildMessageOk(length));
SIP_BUILDER_BENCH(BuildRecordInfoQuery,
                  buildRecordInfoQuery(length, "34020000001310000001",
                                       QDateTime(QDate(2024, 3, 5), QTime(3, 0)),
                                       QDateTime(QDate(2024, 3, 5), QTime(3, 10)), 17));
SIP_BUILDER_BENCH(BuildByeOk, buildByeOk(length));
SIP_BUILDER_BENCH(BuildPlaybackInvite,
                  buildPlaybackInvite(length, 1700000000, 1700003600, "34020000001310000001"));
SIP_BUILDER_BENCH(BuildPlaybackAck, buildPlaybackAck(length));
SIP_BUILDER_BENCH(BuildPlaybackInfo, buildPlaybackInfo(length, 3, "2.0", -1));
SIP_BUILDER_BENCH(BuildPlaybackMessageOk, buildPlaybackMessageOk(length));
SIP_BUILDER_BENCH(BuildPlaybackBye, buildPlaybackBye(length));
SIP_BUILDER_BENCH(BuildPlayUrlControl,
                  buildPlayUrlControl(length, 1, "34020000001310000001", "34020000001330000001"));
SIP_BUILDER_BENCH(BuildDecoderDivision, buildDecoderDivision(length, "34020000001330000001", 4));
SIP_BUILDER_BENCH(BuildDeviceControl,
                  buildDeviceControl(length, "34020000001310000001", "A50F010800FF00BC"));

}  // namespace

int main(int argc, char** argv) {
    setenv("NXROOT", "/tmp", 0);
    parser_init();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
