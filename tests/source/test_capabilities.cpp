// The capability set, row by row, as an application negotiates it with the built source through the
// stand-in DSM.
#include "dsm/dsm_control.h"
#include "source/twpp/capability.h"
#include "source/twpp/result.h"
#include "tests/common/twain_app.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include <cstring>
#include <optional>

namespace {

using Twpp::Result;

enum class Kind { ReadOnly, Settable, NoList, CurrentWithDefault };

struct Row {
    TW_UINT16 id;
    TW_INT32 flags;
    TW_UINT16 itemType;
    Kind kind;
    TW_UINT32 value;                     // the one-value item as written (Fix32: frac << 16 | whole)
    std::optional<TW_UINT32> other = {}; // a different value of the same type
};

constexpr TW_UINT32 kFixOne = 0x00000001; // whole 1, frac 0
constexpr TW_UINT32 kFixTwo = 0x00000002;

const Row kRows[] = {
    {CAP_UICONTROLLABLE, 0x0D, TWTY_BOOL, Kind::ReadOnly, 1},
    {ICAP_COMPRESSION, 0x1F, TWTY_UINT16, Kind::Settable, TWCP_NONE, 1},
    {ICAP_BITDEPTH, 0x1F, TWTY_UINT16, Kind::Settable, 8, 16},
    {ICAP_BITORDER, 0x1F, TWTY_UINT16, Kind::Settable, TWBO_LSBFIRST, 1},
    {ICAP_PLANARCHUNKY, 0x1F, TWTY_UINT16, Kind::Settable, TWPC_CHUNKY, 1},
    {ICAP_PHYSICALWIDTH, 0x0D, TWTY_FIX32, Kind::NoList, 1000},
    {ICAP_PHYSICALHEIGHT, 0x0D, TWTY_FIX32, Kind::NoList, 1500},
    {ICAP_PIXELFLAVOR, 0x1F, TWTY_UINT16, Kind::Settable, TWPF_CHOCOLATE, 1},
    {ICAP_PIXELTYPE, 0x1F, TWTY_UINT16, Kind::Settable, TWPT_GRAY, 0},
    {ICAP_UNITS, 0x1F, TWTY_UINT16, Kind::Settable, TWUN_PIXELS, 0},
    {ICAP_IMAGEFILEFORMAT, 0x1F, TWTY_UINT16, Kind::Settable, TWFF_BMP, 4},
    {ICAP_XRESOLUTION, 0x0D, TWTY_FIX32, Kind::Settable, kFixOne, kFixTwo},
    {ICAP_YRESOLUTION, 0x0D, TWTY_FIX32, Kind::Settable, kFixOne, kFixTwo},
    {CAP_FEEDERENABLED, 0x1F, TWTY_BOOL, Kind::ReadOnly, 1},
    {CAP_AUTOFEED, 0x1F, TWTY_BOOL, Kind::CurrentWithDefault, 1, 0},
    {CAP_DUPLEXENABLED, 0x1F, TWTY_BOOL, Kind::Settable, 0, 1},
    {CAP_DUPLEX, 0x1F, TWTY_BOOL, Kind::CurrentWithDefault, 0, 1},
    {CAP_AUTOSCAN, 0x1F, TWTY_BOOL, Kind::CurrentWithDefault, 0, 1},
    {CAP_DEVICEONLINE, 0x0D, TWTY_BOOL, Kind::ReadOnly, 1},
    {ICAP_XNATIVERESOLUTION, 0x0D, TWTY_FIX32, Kind::ReadOnly, kFixOne},
    {ICAP_YNATIVERESOLUTION, 0x0D, TWTY_FIX32, Kind::ReadOnly, kFixOne},
};

// What came back in the application's structure; frees the container.
struct Answer {
    TW_UINT16 conType = 0;
    TW_UINT16 itemType = 0;
    TW_UINT32 count = 0, current = 0, defaultIndex = 0;
    TW_UINT32 item = 0; // one value's item, or the item at the current index (zero-extended)
};

std::size_t itemSize(TW_UINT16 type) {
    return type == TWTY_INT32 || type == TWTY_FIX32 ? 4 : 2;
}

Answer take(TW_CAPABILITY& cap) {
    Answer a;
    a.conType = cap.ConType;
    const char* block = static_cast<const char*>(Twpp::Memory::lock(cap.hContainer));
    if (block != nullptr) {
        std::memcpy(&a.itemType, block, 2);
        if (a.conType == TWON_ONEVALUE) {
            std::memcpy(&a.item, block + 2, 4);
        } else if (a.conType == TWON_ENUMERATION) {
            std::memcpy(&a.count, block + 2, 4);
            std::memcpy(&a.current, block + 6, 4);
            std::memcpy(&a.defaultIndex, block + 10, 4);
            std::memcpy(&a.item, block + 14 + a.current * itemSize(a.itemType), itemSize(a.itemType));
        } else if (a.conType == TWON_ARRAY) {
            std::memcpy(&a.count, block + 2, 4);
        }
        Twpp::Memory::unlock(cap.hContainer);
    }
    Twpp::Memory::free(cap.hContainer);
    cap.hContainer = nullptr;
    return a;
}

TW_CAPABILITY oneValue(TW_UINT16 id, TW_UINT16 type, TW_UINT32 item) {
    TW_HANDLE handle = Twpp::Memory::alloc(6);
    char* block = static_cast<char*>(Twpp::Memory::lock(handle));
    std::memcpy(block, &type, 2);
    std::memcpy(block + 2, &item, 4);
    Twpp::Memory::unlock(handle);
    return TW_CAPABILITY{id, TWON_ONEVALUE, handle};
}

class CapabilitySet : public testing::Test {
protected:
    void SetUp() override {
        OstraDsm_resetControls();
        ASSERT_EQ(app.openDsm(), TWRC_SUCCESS);
        // Containers are allocated and freed with the DSM's memory functions, as an application does.
        TW_ENTRYPOINT dsm{};
        ASSERT_EQ(app.dsm(DG_CONTROL, DAT_ENTRYPOINT, MSG_GET, &dsm), TWRC_SUCCESS);
        Twpp::Memory::setCallbacks(dsm);
        ASSERT_EQ(app.openSource(), TWRC_SUCCESS);
        handlesBefore = OstraDsm_outstandingHandles();
    }
    void TearDown() override {
        EXPECT_EQ(OstraDsm_outstandingHandles(), handlesBefore) << "containers leaked";
        app.closeSource();
    }

    Result answer(TW_UINT16 rc) {
        return rc == TWRC_SUCCESS || rc == TWRC_CHECKSTATUS || rc == TWRC_FAILURE
                   ? Result(rc, rc == TWRC_SUCCESS ? TW_UINT16{TWCC_SUCCESS} : app.sourceCondition())
                   : Result(rc, TWCC_SUCCESS);
    }

    Result ask(TW_UINT16 id, TW_UINT16 msg, Answer* result = nullptr) {
        TW_CAPABILITY cap{id, TWON_DONTCARE16, nullptr};
        const Result r = answer(app.call(DG_CONTROL, DAT_CAPABILITY, msg, &cap));
        const Answer a = take(cap);
        if (result != nullptr) {
            *result = a;
        }
        return r;
    }

    Result set(TW_UINT16 id, TW_UINT16 type, TW_UINT32 item) {
        TW_CAPABILITY cap = oneValue(id, type, item);
        const Result r = answer(app.call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap));
        take(cap);
        return r;
    }

    TW_INT16 transferCount() {
        Answer a;
        ask(CAP_XFERCOUNT, MSG_GETCURRENT, &a);
        return static_cast<TW_INT16>(a.item);
    }

    TwainApp app;
    unsigned handlesBefore = 0;
};

TEST_F(CapabilitySet, EveryFixedAndCurrentCapabilityAnswersAsItsKind) {
    const Result capBadOperation = Twpp::failure(TWCC_CAPBADOPERATION);
    for (const Row& row : kRows) {
        SCOPED_TRACE(testing::Message() << "capability 0x" << std::hex << row.id);
        Answer a;
        EXPECT_EQ(ask(row.id, MSG_QUERYSUPPORT, &a), Twpp::success());
        EXPECT_EQ(a.conType, TWON_ONEVALUE);
        EXPECT_EQ(a.itemType, TWTY_INT32);
        EXPECT_EQ(a.item, static_cast<TW_UINT32>(row.flags));

        const bool list = row.kind == Kind::ReadOnly || row.kind == Kind::Settable;
        EXPECT_EQ(ask(row.id, MSG_GET, &a), Twpp::success());
        EXPECT_EQ(a.conType, list ? TWON_ENUMERATION : TWON_ONEVALUE);
        EXPECT_EQ(a.itemType, row.itemType);
        EXPECT_EQ(a.item, row.value);
        if (list) {
            EXPECT_EQ(a.count, 1u);
            EXPECT_EQ(a.current, 0u);
            EXPECT_EQ(a.defaultIndex, 0u);
        }
        for (TW_UINT16 msg : {MSG_GETCURRENT, MSG_GETDEFAULT}) {
            EXPECT_EQ(ask(row.id, msg, &a), Twpp::success());
            EXPECT_EQ(a.conType, TWON_ONEVALUE);
            EXPECT_EQ(a.itemType, row.itemType);
            EXPECT_EQ(a.item, row.value);
        }

        const bool resettable = row.kind == Kind::Settable || row.kind == Kind::CurrentWithDefault;
        EXPECT_EQ(ask(row.id, MSG_RESET, &a), resettable ? Twpp::success() : capBadOperation);
        if (resettable) {
            EXPECT_EQ(a.item, row.value);
        }
        EXPECT_EQ(set(row.id, row.itemType, row.value), resettable ? Twpp::success() : capBadOperation);
        EXPECT_EQ(ask(row.id, 0x7777), Twpp::badProtocol());

        if (row.other) {
            const Result changed = set(row.id, row.itemType, *row.other);
            if (row.kind == Kind::Settable) {
                EXPECT_EQ(changed, Twpp::badValue());
                ask(row.id, MSG_GETCURRENT, &a);
                EXPECT_EQ(a.item, row.value);
            } else {
                EXPECT_EQ(changed, Twpp::success());
                ask(row.id, MSG_GETCURRENT, &a);
                EXPECT_EQ(a.item, *row.other);
                ask(row.id, MSG_GETDEFAULT, &a);
                EXPECT_EQ(a.item, row.value);
                ask(row.id, MSG_RESET, &a);
                EXPECT_EQ(a.item, row.value);
                ask(row.id, MSG_GETCURRENT, &a);
                EXPECT_EQ(a.item, row.value);
            }
        }
    }
}

TEST_F(CapabilitySet, BooleansCompareByTruthAndAnswerExactlyOne) {
    EXPECT_EQ(set(CAP_DUPLEXENABLED, TWTY_BOOL, 0), Twpp::success());
    EXPECT_EQ(set(CAP_DUPLEXENABLED, TWTY_BOOL, 7), Twpp::badValue());
    EXPECT_EQ(set(CAP_AUTOFEED, TWTY_BOOL, 0x0005), Twpp::success());
    Answer a;
    ask(CAP_AUTOFEED, MSG_GETCURRENT, &a);
    EXPECT_EQ(a.item, 1u);
}

TEST_F(CapabilitySet, TransferCountAcceptsMinusOneZeroAndOne) {
    struct Case {
        TW_INT16 value;
        Result answer;
        TW_INT16 after;
    };
    const Case cases[] = {
        {1, Twpp::success(), 1},
        {5, Twpp::badValue(), 1},
        {0, Result(TWRC_CHECKSTATUS, TWCC_BADVALUE), -1},
        {-2, Twpp::badValue(), -1},
        {-1, Twpp::success(), -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(set(CAP_XFERCOUNT, TWTY_INT16, static_cast<TW_UINT32>(static_cast<TW_INT32>(c.value))),
                  c.answer)
            << c.value;
        Answer a;
        EXPECT_EQ(ask(CAP_XFERCOUNT, MSG_GETCURRENT, &a), Twpp::success());
        EXPECT_EQ(static_cast<TW_INT16>(a.item), c.after) << c.value;
        EXPECT_EQ(a.itemType, TWTY_INT16);
    }
    set(CAP_XFERCOUNT, TWTY_INT16, 1);
    Answer a;
    ask(CAP_XFERCOUNT, MSG_GETDEFAULT, &a);
    EXPECT_EQ(a.item, 0xFFFFFFFFu);
    EXPECT_EQ(ask(CAP_XFERCOUNT, MSG_RESET, &a), Twpp::success());
    EXPECT_EQ(transferCount(), -1);
    EXPECT_EQ(ask(CAP_XFERCOUNT, MSG_QUERYSUPPORT, &a), Twpp::success());
    EXPECT_EQ(a.item, 0x1Fu);
}

TEST_F(CapabilitySet, TransferMechanismIsNativeOrMemory) {
    Answer a;
    ask(ICAP_XFERMECH, MSG_GET, &a);
    EXPECT_EQ(a.conType, TWON_ENUMERATION);
    EXPECT_EQ(a.count, 2u);
    EXPECT_EQ(a.current, 0u);
    EXPECT_EQ(a.item, TWSX_NATIVE);

    EXPECT_EQ(set(ICAP_XFERMECH, TWTY_UINT16, TWSX_FILE), Twpp::badValue());
    EXPECT_EQ(set(ICAP_XFERMECH, TWTY_UINT16, TWSX_MEMORY), Twpp::success());
    ask(ICAP_XFERMECH, MSG_GET, &a);
    EXPECT_EQ(a.current, 1u);
    EXPECT_EQ(a.item, TWSX_MEMORY);
    ask(ICAP_XFERMECH, MSG_GETDEFAULT, &a);
    EXPECT_EQ(a.item, TWSX_NATIVE);
    ask(ICAP_XFERMECH, MSG_RESET, &a);
    ask(ICAP_XFERMECH, MSG_GETCURRENT, &a);
    EXPECT_EQ(a.item, TWSX_NATIVE);
}

TEST_F(CapabilitySet, SupportedCapsListsTheWholeTable) {
    TW_CAPABILITY cap{CAP_SUPPORTEDCAPS, TWON_DONTCARE16, nullptr};
    ASSERT_EQ(app.call(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap), TWRC_SUCCESS);
    ASSERT_EQ(+cap.ConType, TWON_ARRAY);
    const char* block = static_cast<const char*>(cap.hContainer);
    TW_UINT16 type = 0;
    TW_UINT32 count = 0;
    std::memcpy(&type, block, 2);
    std::memcpy(&count, block + 2, 4);
    EXPECT_EQ(type, TWTY_UINT16);
    ASSERT_EQ(count, 24u);
    std::vector<TW_UINT16> ids(count);
    std::memcpy(ids.data(), block + 6, count * 2);
    EXPECT_EQ(std::set<TW_UINT16>(ids.begin(), ids.end()).size(), ids.size());
    EXPECT_NE(std::find(ids.begin(), ids.end(), CAP_XFERCOUNT), ids.end());
    EXPECT_NE(std::find(ids.begin(), ids.end(), ICAP_XFERMECH), ids.end());
    EXPECT_NE(std::find(ids.begin(), ids.end(), CAP_SUPPORTEDCAPS), ids.end());
    for (const Row& row : kRows) {
        EXPECT_NE(std::find(ids.begin(), ids.end(), row.id), ids.end()) << row.id;
    }
    take(cap);
    EXPECT_EQ(ask(CAP_SUPPORTEDCAPS, MSG_RESET), Twpp::failure(TWCC_CAPBADOPERATION));
}

TEST_F(CapabilitySet, UnknownCapabilityIsUnsupportedButQueryable) {
    for (TW_UINT16 msg : {MSG_GET, MSG_GETCURRENT, MSG_RESET}) {
        EXPECT_EQ(ask(CAP_INDICATORS, msg), Twpp::failure(TWCC_CAPUNSUPPORTED));
    }
    EXPECT_EQ(set(CAP_INDICATORS, TWTY_BOOL, 1), Twpp::failure(TWCC_CAPUNSUPPORTED));
    Answer a;
    EXPECT_EQ(ask(CAP_INDICATORS, MSG_QUERYSUPPORT, &a), Twpp::success());
    EXPECT_EQ(a.item, 0u);
}

TEST_F(CapabilitySet, ResetAllRestoresEveryResettableValue) {
    set(CAP_AUTOFEED, TWTY_BOOL, 0);
    set(CAP_DUPLEX, TWTY_BOOL, 1);
    set(CAP_XFERCOUNT, TWTY_INT16, 1);
    set(ICAP_XFERMECH, TWTY_UINT16, TWSX_MEMORY);
    TW_CAPABILITY any{0, TWON_DONTCARE16, nullptr};
    EXPECT_EQ(app.call(DG_CONTROL, DAT_CAPABILITY, MSG_RESETALL, &any), TWRC_SUCCESS);
    Answer a;
    ask(CAP_AUTOFEED, MSG_GETCURRENT, &a);
    EXPECT_EQ(a.item, 1u);
    ask(CAP_DUPLEX, MSG_GETCURRENT, &a);
    EXPECT_EQ(a.item, 0u);
    EXPECT_EQ(transferCount(), -1);
    ask(ICAP_XFERMECH, MSG_GETCURRENT, &a);
    EXPECT_EQ(a.item, TWSX_NATIVE);
}

TEST_F(CapabilitySet, SetRefusesArraysAndOtherItemTypes) {
    TW_HANDLE handle = Twpp::Memory::alloc(8);
    TW_CAPABILITY array{ICAP_PIXELTYPE, TWON_ARRAY, handle};
    EXPECT_EQ(answer(app.call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &array)), Twpp::bummer());
    Twpp::Memory::free(handle);
    EXPECT_EQ(set(ICAP_PIXELTYPE, TWTY_INT32, 1), Twpp::bummer());
    EXPECT_EQ(set(CAP_XFERCOUNT, TWTY_UINT16, 1), Twpp::bummer());
}

TEST_F(CapabilitySet, OutOfDsmMemoryAnswersLowMemoryAndLeaksNothing) {
    for (TW_UINT16 id : {ICAP_PIXELTYPE, CAP_SUPPORTEDCAPS, ICAP_XFERMECH, CAP_XFERCOUNT}) {
        for (TW_UINT16 msg : {MSG_GET, MSG_GETCURRENT, MSG_QUERYSUPPORT}) {
            OstraDsm_failAllocations(1);
            EXPECT_EQ(ask(id, msg), Twpp::failure(TWCC_LOWMEMORY)) << id << " " << msg;
        }
    }
    OstraDsm_failAllocations(0);
    EXPECT_EQ(ask(ICAP_PIXELTYPE, MSG_GET), Twpp::success());
}

} // namespace
