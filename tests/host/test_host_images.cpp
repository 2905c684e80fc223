// The files ostra-acquire saves in a demo hold exactly the simulator's exposures run through the
// enhancement, as the dialog shows them: same size, orientation and grey levels.
#include "host/acquire.h"
#include "imaging/format_image.h"
#include "sensor-sim/products.h"
#include "sensor-sim/synthetic_image.h"
#include "support/config_file.h"
#include "tests/common/acquisition_checks.h"
#include "tests/common/test_env.h"
#include "ui/template_layouts.h"

#include <QtGui/QImage>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

namespace {

namespace fs = std::filesystem;

constexpr int kBiteswing = 1;

fs::path runBiteswing(host::Mechanism mechanism, host::EventStyle events, std::optional<unsigned> rows) {
    host::Options options;
    options.demo = "Biteswing";
    options.mechanism = mechanism;
    options.events = events;
    options.bufferRows = rows;
    options.out = testenv::tempRoot() / "images";
    std::ostringstream out;
    std::ostringstream err;
    const std::atomic<bool> stop{false};
    EXPECT_EQ(host::runAcquire(options, out, err, stop), 0) << err.str();
    return *options.out;
}

TEST(HostImages, MemoryTransferInOddStripsGivesTheDialogsPictures) {
    const fs::path folder = runBiteswing(host::Mechanism::memory, host::EventStyle::callback, 7);
    EXPECT_TRUE(fs::exists(folder / "composite.png"));
    for (int exposure = 1; exposure <= 4; ++exposure) {
        QImage saved(
            QString::fromStdString((folder / ("xray-" + std::to_string(exposure) + ".png")).string()));
        ASSERT_FALSE(saved.isNull()) << exposure;
        ASSERT_EQ(saved.format(), QImage::Format_Grayscale8);
        const std::vector<char> expected = testenv::expectedPicture("SN1001", kBiteswing, exposure, false);
        ASSERT_EQ(static_cast<std::size_t>(saved.width()) * saved.height(), expected.size());
        for (int row = 0; row < saved.height(); ++row) {
            ASSERT_EQ(std::memcmp(saved.constScanLine(row),
                                  expected.data() + std::size_t(row) * saved.width(), saved.width()),
                      0)
                << "image " << exposure << " row " << row;
        }
    }
}

TEST(HostImages, NativeTransferThroughTheMessageLoopGivesTheDialogsBitmaps) {
    const fs::path folder = runBiteswing(host::Mechanism::native, host::EventStyle::process, std::nullopt);
    for (int exposure = 1; exposure <= 4; ++exposure) {
        std::ifstream in(folder / ("xray-" + std::to_string(exposure) + ".bmp"), std::ios::binary);
        const std::vector<char> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::vector<char> expected = testenv::expectedPicture("SN1001", kBiteswing, exposure, true);
        ASSERT_EQ(file.size(), 14 + expected.size()) << exposure;
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), file.begin() + 14)) << "image " << exposure;
    }
}

} // namespace
