// ostra-acquire's run against the built source and the stand-in DSM when a transfer fails.
#include "dsm/dsm_control.h"
#include "host/acquire.h"
#include "tests/common/test_env.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

namespace {

TEST(HostAcquire, FailedTransferIsAnErrorAndTheSourceIsClosed) {
    OstraDsm_resetControls();
    host::Options options;
    options.demo = "Single Image";
    options.mechanism = host::Mechanism::native;
    options.dsm = OSTRA_TEST_DSM;
    options.out = testenv::tempRoot() / "images";
    // The source cannot get the memory for the bitmap from the DSM (the application's three
    // capability containers come first).
    OstraDsm_failAllocationNumber(4);
    std::ostringstream out;
    std::ostringstream err;
    const std::atomic<bool> stop{false};
    EXPECT_EQ(host::runAcquire(options, out, err, stop), host::kExitFailure);
    OstraDsm_resetControls();
    EXPECT_NE(err.str().find("ostra-acquire: the native transfer failed"), std::string::npos) << err.str();
    EXPECT_NE(out.str().find("Exposure 1 of 1: tile 1 drawn"), std::string::npos) << out.str();
    EXPECT_TRUE(std::filesystem::is_empty(*options.out));
    EXPECT_EQ(OstraDsm_outstandingHandles(), 0u);
}

} // namespace
