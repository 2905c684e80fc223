// The routing table of an open instance, row by row, through the entry.
#include "tests/source/twpp/fake_source.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <set>
#include <vector>

namespace {

std::vector<TW_UINT16> posted;
TW_IDENTITY postedOrigin{};
TW_IDENTITY postedDest{};

TW_UINT16 TW_CALLINGSTYLE fakeDsm(TW_IDENTITY* origin, TW_IDENTITY* dest, TW_UINT32, TW_UINT16, TW_UINT16 msg,
                                  TW_MEMREF) {
    posted.push_back(msg);
    postedOrigin = *origin;
    postedDest = *dest;
    return TWRC_SUCCESS;
}

TW_IDENTITY appIdentity(TW_UINT32 id) {
    TW_IDENTITY app{};
    app.Id = id;
    std::strcpy(app.ProductName, "App");
    return app;
}

class Routing : public testing::Test {
protected:
    void SetUp() override {
        FakeSource::answer = Twpp::success();
        FakeSource::pendingCount = 0;
        FakeSource::transferGroup = DG_IMAGE;
        FakeSource::groupFails = false;
        FakeSource::throwBadAlloc = false;
        FakeSource::throwTwpp = false;
        posted.clear();
        handOverEntryPoint();
    }
    void TearDown() override {
        FakeSource::throwBadAlloc = false;
        FakeSource::throwTwpp = false;
        for (TW_UINT32 id : {1u, 2u}) {
            if (auto* source = find(id)) {
                source->forceState(4);
                FakeSource::answer = Twpp::success();
                TW_IDENTITY app = appIdentity(id);
                TW_IDENTITY src = source->sourceIdentity();
                FakeSource::entry(&app, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &src);
            }
        }
        EXPECT_EQ(FakeSource::instanceCount(), 0u);
    }

    static void handOverEntryPoint() {
        TW_ENTRYPOINT entry{};
        entry.Size = sizeof(entry);
        entry.DSM_Entry = &fakeDsm;
        TW_IDENTITY dsm = appIdentity(999);
        ASSERT_EQ(FakeSource::entry(&dsm, DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &entry), TWRC_SUCCESS);
    }

    static FakeSource* find(TW_UINT32 appId) {
        for (auto* source : FakeSource::all()) {
            if (source->appIdentity().Id == appId) {
                return source;
            }
        }
        return nullptr;
    }

    static FakeSource* open(TW_UINT32 appId) {
        TW_IDENTITY app = appIdentity(appId);
        TW_IDENTITY src{};
        src.Id = 100 + appId;
        std::strcpy(src.ProductName, "Fake");
        FakeSource::answer = Twpp::success();
        EXPECT_EQ(FakeSource::entry(&app, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &src), TWRC_SUCCESS);
        FakeSource* source = find(appId);
        EXPECT_NE(source, nullptr);
        EXPECT_EQ(source->state(), 4);
        source->calls.clear();
        return source;
    }

    static TW_UINT16 send(TW_UINT32 appId, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) {
        TW_IDENTITY app = appIdentity(appId);
        return FakeSource::entry(&app, dg, dat, msg, data);
    }
};

struct Row {
    TW_UINT32 dg;
    TW_UINT16 dat;
    TW_UINT16 msg;
    std::set<TW_UINT16> states; // empty: any state
    const char* operation;      // null: answered by the base itself
    TW_UINT16 returnCode = TWRC_SUCCESS;
    std::optional<TW_UINT16> stateAfter = std::nullopt;
};

const std::set<TW_UINT16> kAny{};
const std::set<TW_UINT16> k4{4};
const std::set<TW_UINT16> k456{4, 5, 6};

const std::vector<Row> kRows = {
    {DG_CONTROL, DAT_CAPABILITY, MSG_GET, kAny, "capabilityGet"},
    {DG_CONTROL, DAT_CAPABILITY, MSG_GETCURRENT, kAny, "capabilityGetCurrent"},
    {DG_CONTROL, DAT_CAPABILITY, MSG_GETDEFAULT, kAny, "capabilityGetDefault"},
    {DG_CONTROL, DAT_CAPABILITY, MSG_QUERYSUPPORT, kAny, "capabilityQuerySupport"},
    {DG_CONTROL, DAT_CAPABILITY, MSG_SET, k4, "capabilitySet"},
    {DG_CONTROL, DAT_CAPABILITY, MSG_RESET, k4, "capabilityReset"},
    {DG_CONTROL, DAT_CAPABILITY, MSG_RESETALL, k4, "capabilityResetAll"},
    {DG_CONTROL, DAT_CAPABILITY, MSG_GETHELP, k4, "capabilityGetHelp"},
    {DG_CONTROL, DAT_CAPABILITY, MSG_GETLABEL, k4, "capabilityGetLabel"},
    {DG_CONTROL, DAT_CAPABILITY, MSG_GETLABELENUM, k4, "capabilityGetLabelEnum"},
    {DG_CONTROL, DAT_CAPABILITY, MSG_SETCONSTRAINT, k4, "capabilitySetConstraint"},
    {DG_CONTROL, DAT_CUSTOMDSDATA, MSG_GET, k4, "customDataGet"},
    {DG_CONTROL, DAT_CUSTOMDSDATA, MSG_SET, k4, "customDataSet"},
    {DG_CONTROL, DAT_DEVICEEVENT, MSG_GET, kAny, "deviceEventGet"},
    {DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, {5, 6, 7}, "eventProcess", TWRC_NOTDSEVENT},
    {DG_CONTROL, DAT_IDENTITY, MSG_GET, kAny, nullptr},
    {DG_CONTROL, DAT_FILESYSTEM, MSG_GETINFO, kAny, "fileSystemGetInfo"},
    {DG_CONTROL, DAT_FILESYSTEM, MSG_GETCLOSE, k456, "fileSystemGetClose"},
    {DG_CONTROL, DAT_FILESYSTEM, MSG_GETFIRSTFILE, k456, "fileSystemGetFirstFile"},
    {DG_CONTROL, DAT_FILESYSTEM, MSG_GETNEXTFILE, k456, "fileSystemGetNextFile"},
    {DG_CONTROL, DAT_FILESYSTEM, MSG_CHANGEDIRECTORY, k4, "fileSystemChangeDirectory"},
    {DG_CONTROL, DAT_FILESYSTEM, MSG_CREATEDIRECTORY, k4, "fileSystemCreateDirectory"},
    {DG_CONTROL, DAT_FILESYSTEM, MSG_DELETE, k4, "fileSystemDelete"},
    {DG_CONTROL, DAT_FILESYSTEM, MSG_FORMATMEDIA, k4, "fileSystemFormatMedia"},
    {DG_CONTROL, DAT_FILESYSTEM, MSG_RENAME, k4, "fileSystemRename"},
    {DG_CONTROL, DAT_FILESYSTEM, MSG_COPY, k4, "fileSystemCopy"},
    {DG_CONTROL, DAT_FILESYSTEM, MSG_AUTOMATICCAPTUREDIRECTORY, k4, "fileSystemAutomaticCaptureDirectory"},
    {DG_CONTROL, DAT_PASSTHRU, MSG_PASSTHRU, kAny, "passThrough"},
    {DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, {4, 5, 6, 7}, "pendingXfersGet"},
    {DG_CONTROL, DAT_PENDINGXFERS, MSG_STOPFEEDER, {6}, "pendingXfersStopFeeder"},
    {DG_CONTROL, DAT_SETUPFILEXFER, MSG_GET, k456, "setupFileXferGet"},
    {DG_CONTROL, DAT_SETUPFILEXFER, MSG_GETDEFAULT, k456, "setupFileXferGetDefault"},
    {DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, k456, "setupFileXferSet"},
    {DG_CONTROL, DAT_SETUPFILEXFER, MSG_RESET, k4, "setupFileXferReset"},
    {DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, k456, "setupMemXferGet"},
    {DG_CONTROL, DAT_STATUS, MSG_GET, kAny, nullptr},
    {DG_CONTROL, DAT_STATUSUTF8, MSG_GET, kAny, "statusUtf8Get"},
    {DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, {5}, "userInterfaceDisable", TWRC_SUCCESS, 4},
    {DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, k4, "userInterfaceEnable", TWRC_SUCCESS, 5},
    {DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, k4, "userInterfaceEnable", TWRC_CHECKSTATUS, 5},
    {DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDSUIONLY, k4, "userInterfaceEnableUiOnly", TWRC_SUCCESS, 5},
    {DG_CONTROL, DAT_XFERGROUP, MSG_GET, k456, "xferGroupGet"},
    {DG_CONTROL, DAT_XFERGROUP, MSG_SET, {6}, "xferGroupSet"},
    {DG_IMAGE, DAT_IMAGEINFO, MSG_GET, {6, 7}, "imageInfoGet"},
    {DG_IMAGE, DAT_IMAGELAYOUT, MSG_GET, k456, "imageLayoutGet"},
    {DG_IMAGE, DAT_IMAGELAYOUT, MSG_GETDEFAULT, k456, "imageLayoutGetDefault"},
    {DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, k4, "imageLayoutSet"},
    {DG_IMAGE, DAT_IMAGELAYOUT, MSG_RESET, k4, "imageLayoutReset"},
    {DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, {6, 7}, "imageMemXferGet", TWRC_SUCCESS, 7},
    {DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, {6, 7}, "imageMemXferGet", TWRC_XFERDONE, 7},
    {DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, {6}, "imageNativeXferGet", TWRC_XFERDONE, 7},
    {DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, {6}, "imageFileXferGet", TWRC_XFERDONE, 7},
    {DG_IMAGE, DAT_IMAGEMEMFILEXFER, MSG_GET, {6}, "imageMemFileXferGet", TWRC_XFERDONE, 7},
    {DG_IMAGE, DAT_EXTIMAGEINFO, MSG_GET, {7}, "extImageInfoGet"},
    {DG_IMAGE, DAT_ICCPROFILE, MSG_GET, {6, 7}, "iccProfileGet"},
    {DG_IMAGE, DAT_GRAYRESPONSE, MSG_SET, k4, "grayResponseSet"},
    {DG_IMAGE, DAT_GRAYRESPONSE, MSG_RESET, k4, "grayResponseReset"},
    {DG_IMAGE, DAT_RGBRESPONSE, MSG_SET, k4, "rgbResponseSet"},
    {DG_IMAGE, DAT_RGBRESPONSE, MSG_RESET, k4, "rgbResponseReset"},
    {DG_IMAGE, DAT_JPEGCOMPRESSION, MSG_GET, k456, "jpegCompressionGet"},
    {DG_IMAGE, DAT_JPEGCOMPRESSION, MSG_GETDEFAULT, k456, "jpegCompressionGetDefault"},
    {DG_IMAGE, DAT_JPEGCOMPRESSION, MSG_SET, k4, "jpegCompressionSet"},
    {DG_IMAGE, DAT_JPEGCOMPRESSION, MSG_RESET, k4, "jpegCompressionReset"},
    {DG_IMAGE, DAT_PALETTE8, MSG_GET, k456, "palette8Get"},
    {DG_IMAGE, DAT_PALETTE8, MSG_GETDEFAULT, k456, "palette8GetDefault"},
    {DG_IMAGE, DAT_PALETTE8, MSG_SET, k4, "palette8Set"},
    {DG_IMAGE, DAT_PALETTE8, MSG_RESET, k4, "palette8Reset"},
    {DG_AUDIO, DAT_AUDIOFILEXFER, MSG_GET, {6}, "audioFileXferGet", TWRC_XFERDONE, 7},
    {DG_AUDIO, DAT_AUDIOINFO, MSG_GET, {6, 7}, "audioInfoGet"},
    {DG_AUDIO, DAT_AUDIONATIVEXFER, MSG_GET, {6}, "audioNativeXferGet", TWRC_SUCCESS, 7},
};

// Big enough for any structure a triplet carries; a capability gets a non-null container.
struct Payload {
    alignas(8) unsigned char bytes[512]{};
    unsigned char container[16]{};
    void* forCall(TW_UINT16 dat) {
        std::memset(bytes, 0, sizeof(bytes));
        if (dat == DAT_CAPABILITY) {
            reinterpret_cast<TW_CAPABILITY*>(bytes)->hContainer = container;
        }
        return bytes;
    }
};

TEST_F(Routing, EveryRowCallsItsOperationOnlyInItsStates) {
    FakeSource* source = open(1);
    Payload payload;
    for (const Row& row : kRows) {
        for (TW_UINT16 state = 3; state <= 7; ++state) {
            SCOPED_TRACE(testing::Message() << "DG " << row.dg << " DAT 0x" << std::hex << row.dat
                                            << " MSG 0x" << row.msg << std::dec << " state " << state);
            source->forceState(state);
            source->calls.clear();
            FakeSource::answer = Twpp::Result(row.returnCode, TWCC_SUCCESS);
            const TW_UINT16 rc = send(1, row.dg, row.dat, row.msg, payload.forCall(row.dat));
            const bool allowed = row.states.empty() || row.states.count(state) == 1;
            if (allowed) {
                EXPECT_EQ(rc, +row.returnCode);
                if (row.operation != nullptr) {
                    EXPECT_EQ(source->calls, std::vector<std::string>{row.operation});
                }
                EXPECT_EQ(source->state(), row.stateAfter.value_or(state));
                EXPECT_EQ(source->lastStatus().ConditionCode, TWCC_SUCCESS);
            } else {
                EXPECT_EQ(rc, TWRC_FAILURE);
                EXPECT_EQ(source->lastStatus().ConditionCode, TWCC_SEQERROR);
                EXPECT_TRUE(source->calls.empty());
                EXPECT_EQ(source->state(), state);
            }
        }
    }
}

TEST_F(Routing, FailedOperationsLeaveTheStateAlone) {
    FakeSource* source = open(1);
    Payload payload;
    for (const Row& row : kRows) {
        if (!row.stateAfter) {
            continue;
        }
        const TW_UINT16 state = *row.states.begin();
        source->forceState(state);
        FakeSource::answer = Twpp::failure(TWCC_OPERATIONERROR);
        EXPECT_EQ(send(1, row.dg, row.dat, row.msg, payload.forCall(row.dat)), TWRC_FAILURE) << row.operation;
        EXPECT_EQ(source->state(), state) << row.operation;
        EXPECT_EQ(source->lastStatus().ConditionCode, TWCC_OPERATIONERROR);
    }
}

TEST_F(Routing, UnknownMessagesAnswerBadProtocolAndRestrictedRoutersCheckStateFirst) {
    FakeSource* source = open(1);
    Payload payload;
    std::set<std::pair<TW_UINT32, TW_UINT16>> types;
    for (const Row& row : kRows) {
        types.insert({row.dg, row.dat});
    }
    for (const auto& [dg, dat] : types) {
        source->forceState(4);
        EXPECT_EQ(send(1, dg, dat, 0x7777, payload.forCall(dat)), TWRC_FAILURE);
        EXPECT_EQ(source->lastStatus().ConditionCode, TWCC_BADPROTOCOL) << std::hex << dat;
    }
    for (TW_UINT16 dat : {DAT_CUSTOMDSDATA}) {
        source->forceState(5);
        send(1, DG_CONTROL, dat, 0x7777, payload.forCall(dat));
        EXPECT_EQ(source->lastStatus().ConditionCode, TWCC_SEQERROR);
    }
    for (TW_UINT16 dat : {DAT_GRAYRESPONSE, DAT_RGBRESPONSE}) {
        source->forceState(6);
        send(1, DG_IMAGE, dat, 0x7777, payload.forCall(dat));
        EXPECT_EQ(source->lastStatus().ConditionCode, TWCC_SEQERROR);
    }
    source->forceState(4);
    for (TW_UINT16 msg : {MSG_GETFIRST, MSG_GETNEXT}) {
        EXPECT_EQ(send(1, DG_CONTROL, DAT_CAPABILITY, msg, payload.forCall(DAT_CAPABILITY)), TWRC_FAILURE);
        EXPECT_EQ(source->lastStatus().ConditionCode, TWCC_BADPROTOCOL);
    }
    const std::pair<TW_UINT32, TW_UINT16> unknown[] = {
        {0x0008, DAT_CAPABILITY},   {DG_CONTROL, DAT_NULL},       {DG_CONTROL, DAT_PARENT},
        {DG_CONTROL, DAT_CALLBACK}, {DG_CONTROL, DAT_ENTRYPOINT}, {DG_IMAGE, DAT_CIECOLOR},
        {DG_IMAGE, DAT_FILTER},     {DG_AUDIO, DAT_IMAGEINFO},
    };
    for (const auto& [dg, dat] : unknown) {
        EXPECT_EQ(send(1, dg, dat, MSG_GET, payload.forCall(dat)), TWRC_FAILURE);
        EXPECT_EQ(source->lastStatus().ConditionCode, TWCC_BADPROTOCOL) << dg << " " << dat;
    }
    EXPECT_TRUE(source->calls.empty());
}

TEST_F(Routing, NullDataAnswersBadValueExceptFileTransfers) {
    FakeSource* source = open(1);
    source->forceState(6);
    for (const Row& row : kRows) {
        const bool fileXfer = row.dat == DAT_IMAGEFILEXFER || row.dat == DAT_AUDIOFILEXFER;
        send(1, row.dg, row.dat, row.msg, nullptr);
        if (fileXfer) {
            EXPECT_NE(source->lastStatus().ConditionCode, TWCC_BADVALUE) << row.operation;
        } else {
            EXPECT_EQ(source->lastStatus().ConditionCode, TWCC_BADVALUE) << std::hex << row.dat;
        }
        source->forceState(6);
    }
    source->forceState(4);
    TW_CAPABILITY noContainer{ICAP_PIXELTYPE, TWON_ONEVALUE, nullptr};
    for (TW_UINT16 msg : {MSG_SET, MSG_SETCONSTRAINT}) {
        source->calls.clear();
        EXPECT_EQ(send(1, DG_CONTROL, DAT_CAPABILITY, msg, &noContainer), TWRC_FAILURE);
        EXPECT_EQ(source->lastStatus().ConditionCode, TWCC_BADVALUE);
        EXPECT_TRUE(source->calls.empty());
    }
}

TEST_F(Routing, EndTransferMovesToFiveOnlyWhenNothingRemains) {
    struct Case {
        TW_UINT16 count;
        TW_UINT32 group;
        bool groupFails;
        TW_UINT16 expected;
    };
    const Case cases[] = {
        {0, DG_IMAGE, false, 5}, {0xFFFF, DG_IMAGE, false, 6}, {3, DG_IMAGE, false, 6},
        {0, DG_AUDIO, false, 6}, {0, DG_AUDIO, true, 5},       {2, DG_IMAGE, true, 6},
    };
    FakeSource* source = open(1);
    for (const auto& c : cases) {
        for (TW_UINT16 from : {6, 7}) {
            source->forceState(from);
            FakeSource::pendingCount = c.count;
            FakeSource::transferGroup = c.group;
            FakeSource::groupFails = c.groupFails;
            TW_PENDINGXFERS pending{};
            EXPECT_EQ(send(1, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending), TWRC_SUCCESS);
            EXPECT_EQ(+pending.Count, +c.count);
            EXPECT_EQ(source->state(), +c.expected) << c.count << " " << c.group << " " << c.groupFails;
        }
    }
    for (TW_UINT16 wrong : {4, 5}) {
        source->forceState(wrong);
        TW_PENDINGXFERS pending{};
        send(1, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending);
        EXPECT_EQ(source->lastStatus().ConditionCode, TWCC_SEQERROR);
    }
}

TEST_F(Routing, ResetTransfersReturnsToFiveUnlessTheGroupIsAudio) {
    FakeSource* source = open(1);
    const std::tuple<TW_UINT32, bool, TW_UINT16> cases[] = {
        {DG_IMAGE, false, 5}, {DG_AUDIO, false, 6}, {DG_AUDIO, true, 5}};
    for (const auto& [group, fails, expected] : cases) {
        source->forceState(6);
        FakeSource::transferGroup = group;
        FakeSource::groupFails = fails;
        TW_PENDINGXFERS pending{};
        EXPECT_EQ(send(1, DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending), TWRC_SUCCESS);
        EXPECT_EQ(source->state(), expected);
    }
}

TEST_F(Routing, EnableIsRefusedWhileAnotherApplicationsSourceIsEnabled) {
    FakeSource* first = open(1);
    FakeSource* second = open(2);
    TW_USERINTERFACE ui{};
    for (TW_UINT16 busy : {5, 6, 7}) {
        first->forceState(busy);
        EXPECT_EQ(send(2, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_FAILURE);
        EXPECT_EQ(second->lastStatus().ConditionCode, TWCC_SEQERROR);
        EXPECT_EQ(second->state(), 4);
    }
    first->forceState(4);
    EXPECT_EQ(send(2, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_SUCCESS);
    EXPECT_EQ(second->state(), 5);
    // An enable that moved the state itself keeps it.
    first->forceState(4);
    FakeSource::answer = Twpp::Result(TWRC_FAILURE, TWCC_BUMMER);
    EXPECT_EQ(send(2, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_FAILURE);
}

TEST_F(Routing, ExceptionsBecomeConditionCodes) {
    FakeSource* source = open(1);
    TW_CAPABILITY cap{ICAP_PIXELTYPE, TWON_ONEVALUE, nullptr};
    struct Case {
        bool badAlloc;
        bool twpp;
        TW_UINT16 expected;
    };
    for (const Case c : {Case{true, false, TWCC_LOWMEMORY}, Case{false, true, TWCC_BUMMER}}) {
        FakeSource::throwBadAlloc = c.badAlloc;
        FakeSource::throwTwpp = c.twpp;
        EXPECT_EQ(send(1, DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap), TWRC_FAILURE);
        FakeSource::throwBadAlloc = false;
        FakeSource::throwTwpp = false;
        TW_STATUS status{};
        EXPECT_EQ(send(1, DG_CONTROL, DAT_STATUS, MSG_GET, &status), TWRC_SUCCESS);
        EXPECT_EQ(+status.ConditionCode, +c.expected);
        EXPECT_EQ(source->state(), 4);
    }
}

TEST_F(Routing, ApplicationHandleIsKnownOnlyDuringTheCall) {
    open(1);
    unsigned char container[6]{};
    TW_CAPABILITY cap{ICAP_PIXELTYPE, TWON_ONEVALUE, container};
    send(1, DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap);
    EXPECT_EQ(FakeSource::observedAppHandle, container);
    EXPECT_EQ(Twpp::Memory::appOwnedHandle(), nullptr);

    FakeSource* source = find(1);
    source->forceState(6);
    TW_HANDLE native = reinterpret_cast<TW_HANDLE>(0x1234);
    FakeSource::answer = Twpp::Result(TWRC_XFERDONE, TWCC_SUCCESS);
    send(1, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &native);
    EXPECT_EQ(FakeSource::observedAppHandle, reinterpret_cast<TW_HANDLE>(0x1234));

    FakeSource::throwTwpp = true;
    source->forceState(4);
    send(1, DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap);
    EXPECT_EQ(Twpp::Memory::appOwnedHandle(), nullptr);
}

TEST_F(Routing, StatusAnswersTheInstancesPreviousCall) {
    FakeSource* source = open(1);
    open(2);
    FakeSource::answer = Twpp::failure(TWCC_CAPUNSUPPORTED);
    TW_CAPABILITY cap{ICAP_PIXELTYPE, TWON_ONEVALUE, nullptr};
    send(1, DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap);
    TW_STATUS status{};
    send(2, DG_CONTROL, DAT_STATUS, MSG_GET, &status);
    EXPECT_EQ(+status.ConditionCode, TWCC_SUCCESS);
    send(1, DG_CONTROL, DAT_STATUS, MSG_GET, &status);
    EXPECT_EQ(+status.ConditionCode, TWCC_CAPUNSUPPORTED);
    send(1, DG_CONTROL, DAT_STATUS, MSG_GET, &status);
    EXPECT_EQ(+status.ConditionCode, TWCC_SUCCESS);
    EXPECT_EQ(source->lastStatus().ConditionCode, TWCC_SUCCESS);
}

TEST_F(Routing, IdentityGetAnswersTheIdentityGivenAtOpen) {
    open(1);
    TW_IDENTITY identity{};
    EXPECT_EQ(send(1, DG_CONTROL, DAT_IDENTITY, MSG_GET, &identity), TWRC_SUCCESS);
    EXPECT_EQ(+identity.Id, 101u);
    EXPECT_STREQ(identity.ProductName, "Fake");
}

TEST_F(Routing, NotificationsGoThroughTheDsmFromSourceToApplication) {
    FakeSource* source = open(1);
    EXPECT_TRUE(source->notify(MSG_XFERREADY).succeeded());
    EXPECT_EQ(posted, std::vector<TW_UINT16>{MSG_XFERREADY});
    EXPECT_EQ(+postedOrigin.Id, 101u);
    EXPECT_EQ(+postedDest.Id, 1u);
}

TEST_F(Routing, OpenAndCloseManageTheInstanceList) {
    // A failed open leaves no instance; the application may open again.
    TW_IDENTITY app = appIdentity(1);
    TW_IDENTITY src{};
    FakeSource::answer = Twpp::failure(TWCC_OPERATIONERROR);
    EXPECT_EQ(FakeSource::entry(&app, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &src), TWRC_FAILURE);
    EXPECT_EQ(FakeSource::instanceCount(), 0u);
    // That was the only instance, so the DSM's entry point is forgotten until it is handed over again.
    handOverEntryPoint();
    FakeSource* source = open(1);
    EXPECT_EQ(FakeSource::instanceCount(), 1u);

    // A second open from the same application, with or without data, is refused and leaves the
    // open instance as it was.
    for (void* data : {static_cast<void*>(&src), static_cast<void*>(nullptr)}) {
        EXPECT_EQ(FakeSource::entry(&app, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, data), TWRC_FAILURE);
        TW_STATUS status{};
        FakeSource::entry(&app, DG_CONTROL, DAT_STATUS, MSG_GET, &status);
        EXPECT_EQ(+status.ConditionCode, TWCC_SEQERROR);
        EXPECT_EQ(FakeSource::instanceCount(), 1u);
        EXPECT_EQ(source->state(), 4);
    }

    // Close is refused outside state 4 and by a failing close; the instance stays.
    source->forceState(5);
    EXPECT_EQ(FakeSource::entry(&app, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &src), TWRC_FAILURE);
    source->forceState(4);
    FakeSource::answer = Twpp::failure(TWCC_BUMMER);
    EXPECT_EQ(FakeSource::entry(&app, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &src), TWRC_FAILURE);
    EXPECT_EQ(FakeSource::instanceCount(), 1u);

    FakeSource::answer = Twpp::success();
    EXPECT_EQ(FakeSource::entry(&app, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &src), TWRC_SUCCESS);
    EXPECT_EQ(FakeSource::instanceCount(), 0u);
    // Closing again finds no instance: success.
    EXPECT_EQ(FakeSource::entry(&app, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &src), TWRC_SUCCESS);

    // With the last instance gone the DSM entry is forgotten: without a new hand-over (and no
    // DSM library to load in this process) the next open fails and leaves nothing behind.
    EXPECT_EQ(FakeSource::entry(&app, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &src), TWRC_FAILURE);
    TW_STATUS status{};
    FakeSource::entry(&app, DG_CONTROL, DAT_STATUS, MSG_GET, &status);
    EXPECT_EQ(+status.ConditionCode, TWCC_BUMMER);
    EXPECT_EQ(FakeSource::instanceCount(), 0u);
    handOverEntryPoint();
    open(1);
}

} // namespace
