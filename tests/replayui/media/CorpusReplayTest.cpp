// Replays every fuzz seed and every input the fuzzer once failed on; a crash or a sanitizer
// report here is a regression.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "MediaFuzzInput.h"

namespace {

TEST(MediaCorpusReplay, EveryInputRunsWithinItsBytes) {
    std::vector<std::filesystem::path> files;
    for (const char* dir : {MEDIA_SEED_DIR, MEDIA_REGRESSION_DIR}) {
        if (!std::filesystem::is_directory(dir))
            continue;
        for (const auto& entry : std::filesystem::directory_iterator(dir)) {
            if (entry.is_regular_file() && entry.path().filename().string()[0] != '.')
                files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    ASSERT_FALSE(files.empty());
    for (const auto& file : files) {
        SCOPED_TRACE(file.filename().string());
        std::ifstream in(file, std::ios::binary);
        const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
        // An exact-size heap copy, so a read past the end is caught by the sanitizer.
        std::unique_ptr<uint8_t[]> exact(new uint8_t[bytes.size()]);
        std::copy(bytes.begin(), bytes.end(), exact.get());
        mediafuzz::runInput(exact.get(), bytes.size());
    }
}

}  // namespace
