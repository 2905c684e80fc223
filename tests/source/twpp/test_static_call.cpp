// Calls that find no instance for their origin.
#include "tests/source/twpp/fake_source.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TW_UINT16 TW_CALLINGSTYLE acceptingDsm(TW_IDENTITY*, TW_IDENTITY*, TW_UINT32, TW_UINT16, TW_UINT16,
                                       TW_MEMREF) {
    return TWRC_SUCCESS;
}

TW_UINT16 staticStatus() {
    TW_STATUS status{0xAAAA, 0xBBBB};
    TW_IDENTITY nobody{};
    nobody.Id = 4242;
    EXPECT_EQ(FakeSource::entry(&nobody, DG_CONTROL, DAT_STATUS, MSG_GET, &status), TWRC_SUCCESS);
    EXPECT_EQ(+status.Data, 0);
    return status.ConditionCode;
}

TEST(StaticCall, AnswersWithoutAnInstance) {
    struct Case {
        TW_UINT32 dg;
        TW_UINT16 dat;
        TW_UINT16 msg;
        bool withData;
        TW_UINT16 rc;
        TW_UINT16 cc;
    };
    const Case cases[] = {
        {DG_IMAGE, DAT_IMAGEINFO, MSG_GET, true, TWRC_FAILURE, TWCC_SEQERROR},
        {DG_AUDIO, DAT_AUDIOINFO, MSG_GET, true, TWRC_FAILURE, TWCC_SEQERROR},
        {DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, true, TWRC_SUCCESS, TWCC_SUCCESS},
        {DG_CONTROL, DAT_IDENTITY, MSG_GET, false, TWRC_FAILURE, TWCC_BADVALUE},
        {DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, true, TWRC_FAILURE, TWCC_BADPROTOCOL},
        {DG_CONTROL, DAT_STATUS, MSG_GET, false, TWRC_FAILURE, TWCC_BADVALUE},
        {DG_CONTROL, DAT_STATUS, MSG_SET, true, TWRC_FAILURE, TWCC_BADPROTOCOL},
        {DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, false, TWRC_FAILURE, TWCC_BADVALUE},
        {DG_CONTROL, DAT_ENTRYPOINT, MSG_GET, true, TWRC_FAILURE, TWCC_BADPROTOCOL},
        {DG_CONTROL, DAT_CAPABILITY, MSG_GET, true, TWRC_FAILURE, TWCC_BADPROTOCOL},
        {DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, true, TWRC_FAILURE, TWCC_BADPROTOCOL},
    };
    for (const auto& c : cases) {
        alignas(8) unsigned char data[256]{};
        TW_IDENTITY app{};
        app.Id = 7;
        EXPECT_EQ(FakeSource::entry(&app, c.dg, c.dat, c.msg, c.withData ? data : nullptr), +c.rc)
            << std::hex << c.dat << " " << c.msg;
        EXPECT_EQ(staticStatus(), +c.cc) << std::hex << c.dat << " " << c.msg;
    }
    EXPECT_EQ(FakeSource::instanceCount(), 0u);
}

TEST(StaticCall, StatusAnswersThePreviousCallOfAnyApplicationThenItsOwn) {
    TW_IDENTITY app{};
    app.Id = 3;
    FakeSource::entry(&app, DG_IMAGE, DAT_IMAGEINFO, MSG_GET, nullptr);
    EXPECT_EQ(staticStatus(), TWCC_SEQERROR);
    EXPECT_EQ(staticStatus(), TWCC_SUCCESS);
    // A null origin also takes the static path.
    TW_STATUS status{};
    EXPECT_EQ(FakeSource::entry(nullptr, DG_CONTROL, DAT_STATUS, MSG_GET, &status), TWRC_SUCCESS);
}

TEST(StaticCall, IdentityGetAnswersTheSourcesOwnIdentity) {
    TW_IDENTITY id;
    std::memset(&id, 0xCC, sizeof(id));
    ASSERT_EQ(FakeSource::entry(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GET, &id), TWRC_SUCCESS);
    EXPECT_EQ(+id.Id, 0u);
    EXPECT_EQ(+id.Version.MajorNum, 1);
    EXPECT_EQ(+id.Version.MinorNum, 0);
    EXPECT_EQ(+id.Version.Language, TWLG_ENGLISH);
    EXPECT_EQ(+id.Version.Country, TWCY_CANADA);
    EXPECT_EQ(+id.ProtocolMajor, 2);
    EXPECT_EQ(+id.ProtocolMinor, 3);
    EXPECT_EQ(+id.SupportedGroups, 0x40000003u);
    const std::pair<const char*, const char*> strings[] = {{id.Version.Info, "v1.0.2"},
                                                           {id.Manufacturer, "IT Vanto"},
                                                           {id.ProductFamily, "Vanto"},
                                                           {id.ProductName, "Vanto Sensor Twain"}};
    for (const auto& [field, text] : strings) {
        EXPECT_STREQ(field, text);
        // Zero-padded to the full width.
        for (std::size_t i = std::strlen(text); i < 34; ++i) {
            EXPECT_EQ(field[i], '\0') << text << " byte " << i;
        }
    }
}

TEST(StaticCall, OpenWithNullOriginCreatesAndDiscardsAnInstance) {
    TW_ENTRYPOINT entry{};
    entry.DSM_Entry = &acceptingDsm;
    ASSERT_EQ(FakeSource::entry(nullptr, DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &entry), TWRC_SUCCESS);
    TW_IDENTITY src{};
    EXPECT_EQ(FakeSource::entry(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &src), TWRC_FAILURE);
    EXPECT_EQ(staticStatus(), TWCC_BADPROTOCOL);
    EXPECT_EQ(FakeSource::instanceCount(), 0u);
    EXPECT_TRUE(FakeSource::all().empty());
}

TEST(StaticCall, OpenFailsWhenNoDsmCanBeReached) {
    // No entry point was handed over and no DSM library is loadable in this process.
    TW_IDENTITY app{};
    app.Id = 5;
    TW_IDENTITY src{};
    EXPECT_EQ(FakeSource::entry(&app, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &src), TWRC_FAILURE);
    EXPECT_EQ(staticStatus(), TWCC_BUMMER);
    EXPECT_EQ(FakeSource::instanceCount(), 0u);
}

} // namespace
