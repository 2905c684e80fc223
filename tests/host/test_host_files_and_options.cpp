// ostra-acquire's command line and the bitmap files it writes from the DIBs sources hand over.
#include "host/image_files.h"
#include "host/options.h"
#include "tests/common/test_env.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

using host::parseOptions;

struct CommandLine {
    std::vector<std::string> arguments;
    std::string error; // empty: accepted
};

TEST(HostOptions, RefusesWhatItCannotDoAndTakesTheRest) {
    const CommandLine cases[] = {
        {{"--xfer", "memory", "--buffer-rows", "1"}, ""},
        {{"--demo", "Full Mouth 18", "--screenshot", "d.png"}, ""},
        {{"--events", "process", "--source", "Other", "--dsm", "/x.so", "--out", "o"}, ""},
        {{"--xfer", "file"}, "--xfer takes native or memory"},
        {{"--xfer"}, "--xfer needs a value"},
        {{"--buffer-rows", "1"}, "--buffer-rows goes with --xfer memory"},
        {{"--xfer", "memory", "--buffer-rows", "0"}, "--buffer-rows takes"},
        {{"--xfer", "memory", "--buffer-rows", "12x"}, "--buffer-rows takes"},
        {{"--events", "poll"}, "--events takes callback or process"},
        {{"--screenshot", "d.png"}, "--screenshot goes with --demo"},
        {{"--out", ""}, "--out needs a value"},
        {{"--verbose"}, "unknown option \"--verbose\""},
        {{"--demo", "Biteswing", "--steps", " expose, retake 1 ,unplug,plug,expose,save", "--new-sensor",
          "--demo-folder", "d", "--refuse-first-xferready"},
         ""},
        {{"--steps", "expose,save"}, "--steps goes with --demo"},
        {{"--refuse-first-xferready"}, "--refuse-first-xferready goes with --demo"},
        {{"--demo", "Biteswing", "--steps", "expose,flash,save"}, "unknown step \"flash\""},
        {{"--demo", "Biteswing", "--steps", "retake 0,save"}, "retake takes a tile number"},
        {{"--demo", "Biteswing", "--steps", "retake 1 2,save"}, "unknown step \"retake 1 2\""},
        {{"--demo", "Biteswing", "--steps", "save,expose"}, "ends with save"},
        {{"--demo", "Biteswing", "--steps", "save,save"}, "ends with save"},
    };
    for (const auto& c : cases) {
        const auto parsed = parseOptions(c.arguments);
        if (c.error.empty()) {
            EXPECT_TRUE(parsed.options.has_value()) << c.arguments.front() << ": " << parsed.error;
        } else {
            EXPECT_FALSE(parsed.options.has_value()) << c.arguments.front();
            EXPECT_NE(parsed.error.find(c.error), std::string::npos) << parsed.error;
        }
    }
    const auto parsed = parseOptions({"--xfer", "memory", "--buffer-rows", "7", "--events", "process"});
    ASSERT_TRUE(parsed.options);
    EXPECT_EQ(parsed.options->mechanism, host::Mechanism::memory);
    EXPECT_EQ(parsed.options->bufferRows, 7u);
    EXPECT_EQ(parsed.options->events, host::EventStyle::process);
    EXPECT_EQ(parsed.options->source, "Vanto Sensor Twain");

    using Step = host::DemoStep;
    std::string error;
    EXPECT_EQ(host::parseSteps("expose,retake 3,unplug,plug,save", error),
              (std::vector<Step>{{Step::Kind::expose, 0},
                                 {Step::Kind::retake, 3},
                                 {Step::Kind::unplug, 0},
                                 {Step::Kind::plug, 0},
                                 {Step::Kind::save, 0}}));
}

std::vector<unsigned char> dib(std::int32_t width, std::int32_t height, std::uint16_t bits = 8,
                               std::uint32_t compression = 0, std::uint32_t colours = 0,
                               std::uint32_t header = 40) {
    std::vector<unsigned char> bytes(40);
    const auto put = [&](std::size_t at, auto value) {
        std::memcpy(bytes.data() + at, &value, sizeof(value));
    };
    put(0, header);
    put(4, width);
    put(8, height);
    put(12, std::uint16_t{1});
    put(14, bits);
    put(16, compression);
    put(32, colours);
    return bytes;
}

TEST(HostBitmap, SizeComesFromTheHeaderAndBrokenHeadersAreRefused) {
    // Rows are padded to whole 32-bit words; an 8-bit bitmap carries 256 palette entries.
    EXPECT_EQ(host::dibSize(dib(3, 2).data()), 40u + 1024u + 2 * 4u);
    EXPECT_EQ(host::dibSize(dib(3, -2).data()), 40u + 1024u + 2 * 4u); // top-down
    EXPECT_EQ(host::dibSize(dib(5, 1, 8, 0, 16).data()), 40u + 64u + 8u);
    EXPECT_EQ(host::dibSize(dib(4, 4, 24).data()), 40u + 4 * 12u);
    const std::vector<unsigned char> broken[] = {
        dib(0, 2),
        dib(-3, 2),
        dib(3, 0),
        dib(3, 2, 7),
        dib(3, 2, 8, 1),
        dib(3, 2, 8, 0, 300),
        dib(3, 2, 8, 0, 0, 12),
        dib(1 << 20, 2),
    };
    for (const auto& header : broken) {
        EXPECT_EQ(host::dibSize(header.data()), 0u);
    }
    EXPECT_EQ(host::dibSize(nullptr), 0u);
}

TEST(HostBitmap, FileHeaderPointsAtThePixels) {
    std::vector<unsigned char> bitmap = dib(3, 2);
    bitmap.resize(host::dibSize(bitmap.data()), 0x7f);
    const auto file = testenv::tempRoot() / "image.bmp";
    ASSERT_EQ(host::writeBitmapFile(file, bitmap.data(), bitmap.size()), "");
    std::ifstream in(file, std::ios::binary);
    const std::vector<unsigned char> written((std::istreambuf_iterator<char>(in)),
                                             std::istreambuf_iterator<char>());
    ASSERT_EQ(written.size(), 14 + bitmap.size());
    EXPECT_EQ(written[0], 'B');
    EXPECT_EQ(written[1], 'M');
    std::uint32_t size = 0;
    std::uint32_t offset = 0;
    std::memcpy(&size, written.data() + 2, 4);
    std::memcpy(&offset, written.data() + 10, 4);
    EXPECT_EQ(size, written.size());
    EXPECT_EQ(offset, 14u + 40u + 1024u);
    EXPECT_TRUE(std::equal(bitmap.begin(), bitmap.end(), written.begin() + 14));

    EXPECT_NE(host::writeBitmapFile(file, bitmap.data(), 0), "");
    EXPECT_NE(
        host::writeBitmapFile(testenv::tempRoot() / "no-folder" / "x.bmp", bitmap.data(), bitmap.size()), "");
}

TEST(HostOutputFolder, CreatedWhenMissingAndRefusedWhenItCannotBe) {
    EXPECT_EQ(host::checkWritableFolder(testenv::tempRoot() / "out" / "deeper"), "");
    std::ofstream(testenv::tempRoot() / "a-file") << "x";
    EXPECT_NE(host::checkWritableFolder(testenv::tempRoot() / "a-file" / "out"), "");
}

} // namespace
