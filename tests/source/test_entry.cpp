// The built data source, "TwainDll.ds", as a Data Source Manager sees it.
#include "dsm/dsm_control.h"
#include "platform/module.h"
#include "tests/common/twain_app.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

namespace {

const std::filesystem::path kSourceFile = std::filesystem::path(OSTRA_TWAIN_FOLDER) / "TwainDll.ds";

TEST(TwainDll, AnswersItsIdentityAcrossRepeatedLoads) {
    for (int round = 0; round < 5; ++round) {
        std::string error;
        auto module = platform::Module::load(kSourceFile, &error);
        ASSERT_TRUE(module) << error;
        auto entry = module.function<DSENTRYPROC>("DS_Entry");
        ASSERT_NE(entry, nullptr);
        TW_IDENTITY id{};
        ASSERT_EQ(entry(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GET, &id), TWRC_SUCCESS);
        EXPECT_STREQ(id.ProductName, "Vanto Sensor Twain");
        EXPECT_STREQ(id.Manufacturer, "IT Vanto");
        EXPECT_EQ(+id.SupportedGroups, DG_CONTROL | DG_IMAGE | DF_DS2);
        TW_STATUS status{};
        ASSERT_EQ(entry(nullptr, DG_CONTROL, DAT_STATUS, MSG_GET, &status), TWRC_SUCCESS);
        EXPECT_EQ(+status.ConditionCode, TWCC_SUCCESS);
    }
}

TEST(TwainDll, ListedByTheDsmScanWithItsIdentity) {
    OstraDsm_resetControls();
    TwainApp app;
    ASSERT_EQ(app.openDsm(), TWRC_SUCCESS);
    TW_IDENTITY found{};
    ASSERT_EQ(app.dsm(DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &found), TWRC_SUCCESS);
    EXPECT_STREQ(found.ProductName, "Vanto Sensor Twain");
    EXPECT_STREQ(found.ProductFamily, "Vanto");
    EXPECT_STREQ(found.Version.Info, "v1.0.2");
    EXPECT_EQ(+found.ProtocolMajor, 2);
    EXPECT_EQ(+found.ProtocolMinor, 3);
    EXPECT_EQ(app.dsm(DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &found), TWRC_ENDOFLIST);
    EXPECT_EQ(OstraDsm_sourceLoads(), 1u);
}

TEST(TwainDll, FindsTheDsmByNameWhenNoEntryPointWasHandedOver) {
    // The stand-in DSM is loaded in this process under its Linux names; without DAT_ENTRYPOINT the
    // source looks it up itself, so an open is not refused for want of a DSM.
    auto module = platform::Module::load(kSourceFile);
    ASSERT_TRUE(module);
    auto entry = module.function<DSENTRYPROC>("DS_Entry");
    TW_IDENTITY app{};
    app.Id = 9;
    TW_IDENTITY source{};
    source.Id = 10;
    const TW_UINT16 opened = entry(&app, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source);
    TW_STATUS status{};
    ASSERT_EQ(entry(&app, DG_CONTROL, DAT_STATUS, MSG_GET, &status), TWRC_SUCCESS);
    EXPECT_NE(+status.ConditionCode, TWCC_BUMMER);
    ASSERT_EQ(opened, TWRC_SUCCESS);
    // Closed as an application closes it, so that the connection thread ends before the process does.
    EXPECT_EQ(entry(&app, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source), TWRC_SUCCESS);
    // The instance is gone: its status is the last call's of the module, and a second close of an
    // origin without instance also succeeds.
    EXPECT_EQ(entry(&app, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source), TWRC_SUCCESS);
}

} // namespace
