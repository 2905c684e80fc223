// DS_Entry of a data source DLL reached through the DSM stand-in: the DSM finds it by its file,
// loads it, hands it the entry point and passes the application's triplets through the routing.
#include "tests/common/twain_app.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

TEST(DispatchDll, TripletsReachTheRoutingThroughTheDsm) {
    _putenv_s("OSTRA_TWAIN_DS_FOLDER", DISPATCH_PROBE_FOLDER);
    TwainApp app;
    ASSERT_EQ(app.openDsm(), TWRC_SUCCESS);

    TW_IDENTITY first{};
    ASSERT_EQ(app.dsm(DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &first), TWRC_SUCCESS);
    EXPECT_STREQ(first.ProductName, "Vanto Sensor Twain");
    EXPECT_STREQ(first.Manufacturer, "IT Vanto");

    ASSERT_EQ(app.openSource(), TWRC_SUCCESS);

    struct Step {
        TW_UINT32 dg;
        TW_UINT16 dat;
        TW_UINT16 msg;
        bool withData;
        TW_UINT16 rc;
        TW_UINT16 cc;
    };
    const Step steps[] = {
        // State 4.
        {DG_CONTROL, DAT_CAPABILITY, MSG_GET, true, TWRC_SUCCESS, TWCC_SUCCESS},
        {DG_CONTROL, DAT_CAPABILITY, MSG_GETFIRST, true, TWRC_FAILURE, TWCC_BADPROTOCOL},
        {DG_IMAGE, DAT_IMAGEINFO, MSG_GET, true, TWRC_FAILURE, TWCC_SEQERROR},
        {DG_IMAGE, DAT_IMAGELAYOUT, MSG_GET, false, TWRC_FAILURE, TWCC_BADVALUE},
        {DG_CONTROL, DAT_XFERGROUP, MSG_GET, true, TWRC_SUCCESS, TWCC_SUCCESS},
        {DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, true, TWRC_SUCCESS, TWCC_SUCCESS},
        // State 5.
        {DG_CONTROL, DAT_CAPABILITY, MSG_SET, true, TWRC_FAILURE, TWCC_SEQERROR},
        {DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, true, TWRC_SUCCESS, TWCC_SUCCESS},
        // State 4 again.
        {DG_CONTROL, DAT_CAPABILITY, MSG_SET, true, TWRC_FAILURE, TWCC_BADVALUE}, // null container
    };
    for (const auto& step : steps) {
        alignas(8) unsigned char data[256]{};
        EXPECT_EQ(app.call(step.dg, step.dat, step.msg, step.withData ? data : nullptr), step.rc)
            << std::hex << step.dat << " " << step.msg;
        EXPECT_EQ(app.sourceCondition(), step.cc) << std::hex << step.dat << " " << step.msg;
    }

    EXPECT_EQ(app.closeSource(), TWRC_SUCCESS);
    EXPECT_EQ(app.closeDsm(), TWRC_SUCCESS);
}

} // namespace
