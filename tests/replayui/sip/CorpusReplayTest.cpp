// Replays every seed datagram and every input a fuzzer once failed on through both entry points;
// a crash or sanitizer report here is a regression.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "SipTestKit.h"

namespace {

std::vector<std::filesystem::path> corpusFiles() {
    std::vector<std::filesystem::path> files;
    for (const char* dir : {SIP_SEED_DIR, SIP_REGRESSION_DIR}) {
        if (!std::filesystem::is_directory(dir))
            continue;
        for (const auto& entry : std::filesystem::directory_iterator(dir)) {
            if (entry.is_regular_file() && entry.path().filename().string()[0] != '.')
                files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

TEST(CorpusReplay, EveryInputIsHandledWithinItsBytes) {
    const auto files = corpusFiles();
    ASSERT_FALSE(files.empty());
    for (const auto& file : files) {
        SCOPED_TRACE(file.filename().string());
        std::ifstream in(file, std::ios::binary);
        // An exact-size heap copy, so a read past the end is caught by the sanitizer.
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
        std::unique_ptr<char[]> exact(new char[bytes.size() + 1]);
        std::copy(bytes.begin(), bytes.end(), exact.get());

        CHTTPHdrs codec;
        int h = codec.parseHeaders(exact.get(), int(bytes.size()));
        EXPECT_LE(h, int(bytes.size()));
        // A hostile datagram holds no more than a few times its own size.
        EXPECT_LT(codec.incomingFootprint(), std::max<size_t>(4 * bytes.size(), 16384));

        CCTVCAR car;
        siptest::configure(car);
        car.buildPlaybackInvite(nullptr, 1, 2, "34020000001310000001");
        car.buildPlaybackAck(nullptr);
        int r = car.handleIncoming(exact.get(), int(bytes.size()));
        EXPECT_GE(r, -1);
        if (r <= 0) {
            EXPECT_TRUE(car.messageKind().empty());
        }
        int length = 0;
        car.buildMessageOk(&length);
        car.buildPlaybackMessageOk(&length);
        car.buildPlaybackBye(&length);
    }
}

}  // namespace
