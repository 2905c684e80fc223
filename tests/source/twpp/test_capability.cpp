#include "source/twpp/capability.h"

#include "tests/common/tracked_memory.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace Twpp;

class CapabilityTest : public testing::Test {
protected:
    void SetUp() override { TrackedMemory::install(); }
    void TearDown() override { EXPECT_EQ(TrackedMemory::uninstall(), 0u) << "handles leaked"; }

    static std::vector<unsigned char> bytes(const Capability& cap, std::size_t size) {
        const auto* data = static_cast<const unsigned char*>(cap.handle());
        return {data, data + size};
    }
};

TEST_F(CapabilityTest, OneValueItemsAreWrittenAsFull32BitValues) {
    using B = std::vector<unsigned char>;
    EXPECT_EQ(bytes(Capability::oneValue<TW_INT16>(CAP_XFERCOUNT, -2), 6), (B{1, 0, 0xFE, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(bytes(Capability::oneValue<TW_UINT16>(ICAP_BITDEPTH, 0xFFFF), 6), (B{4, 0, 0xFF, 0xFF, 0, 0}));
    EXPECT_EQ(bytes(Capability::oneValue<TW_INT32>(CAP_XFERCOUNT, -1), 6), (B{2, 0, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(bytes(Capability::oneValue(CAP_AUTOFEED, Bool(TW_UINT16{5})), 6), (B{6, 0, 1, 0, 0, 0}));
    EXPECT_EQ(bytes(Capability::oneValue(ICAP_XRESOLUTION, Fix32(1000.0f)), 6), (B{7, 0, 0xE8, 0x03, 0, 0}));
    EXPECT_EQ(bytes(Capability::oneValue(ICAP_PIXELTYPE, PixelType::Gray), 6), (B{4, 0, 1, 0, 0, 0}));
    const auto cap = Capability::oneValue(ICAP_XRESOLUTION, Fix32(-1.5f));
    EXPECT_EQ(bytes(cap, 6), (B{7, 0, 0xFE, 0xFF, 0x00, 0x80}));
    EXPECT_EQ(cap.id(), ICAP_XRESOLUTION);
    EXPECT_EQ(cap.type(), TWON_ONEVALUE);
}

TEST_F(CapabilityTest, EnumerationAndArrayLayouts) {
    using B = std::vector<unsigned char>;
    auto enumeration = Capability::enumeration<TW_UINT16>(ICAP_XFERMECH, 2, 1, 0, [](auto& items) {
        items.set(0, TWSX_NATIVE);
        items.set(1, TWSX_MEMORY);
    });
    EXPECT_EQ(enumeration.type(), TWON_ENUMERATION);
    EXPECT_EQ(bytes(enumeration, 18), (B{4, 0, 2, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0}));

    auto array = Capability::array<TW_UINT16>(CAP_SUPPORTEDCAPS, 3, [](auto& items) {
        items.set(0, CAP_XFERCOUNT);
        items.set(1, ICAP_PIXELTYPE);
        items.set(2, CAP_SUPPORTEDCAPS);
    });
    EXPECT_EQ(array.type(), TWON_ARRAY);
    EXPECT_EQ(bytes(array, 12), (B{4, 0, 3, 0, 0, 0, 0x01, 0x00, 0x01, 0x01, 0x05, 0x10}));

    auto fixes = Capability::enumeration<Fix32>(ICAP_XRESOLUTION, 1, 0, 0,
                                                [](auto& items) { items.set(0, Fix32(1.0f)); });
    EXPECT_EQ(bytes(fixes, 18), (B{7, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0}));
}

TEST_F(CapabilityTest, AccessorsCheckHandleThenContainerThenItemType) {
    Capability empty(ICAP_PIXELTYPE, TWON_ARRAY, nullptr);
    EXPECT_THROW(accessOneValue<TW_UINT16>(empty), DataException);

    auto one = Capability::oneValue<TW_UINT16>(ICAP_PIXELTYPE, 1);
    EXPECT_THROW(accessEnumeration<TW_UINT16>(one), ContainerException);
    EXPECT_THROW(accessOneValue<TW_INT16>(one), ItemTypeException);
    EXPECT_THROW(accessOneValue<Fix32>(one), ItemTypeException);
    EXPECT_EQ(accessOneValue<TW_UINT16>(one).get(0), 1);
}

TEST_F(CapabilityTest, ValueReadersTakeOneValueOrCurrentEnumerationItem) {
    auto one = Capability::oneValue<TW_INT16>(CAP_XFERCOUNT, -1);
    EXPECT_EQ(readValue<TW_INT16>(one), -1);

    auto enumeration = Capability::enumeration<TW_UINT16>(ICAP_XFERMECH, 3, 2, 0, [](auto& items) {
        items.set(0, 10);
        items.set(1, 11);
        items.set(2, 12);
    });
    EXPECT_EQ(readValue<TW_UINT16>(enumeration), 12);
    EXPECT_THROW(readValue<TW_INT16>(enumeration), ItemTypeException);

    auto bools = Capability::enumeration<Bool>(CAP_AUTOFEED, 2, 1, 0, [](auto& items) {
        items.set(0, Bool(false));
        items.set(1, Bool(true));
    });
    EXPECT_TRUE(readValue<Bool>(bools));
}

TEST_F(CapabilityTest, ValueReadersRefuseOtherContainersAndBadIndexes) {
    auto array = Capability::array<TW_UINT16>(ICAP_PIXELTYPE, 1, [](auto& items) { items.set(0, 1); });
    EXPECT_THROW(readValue<TW_UINT16>(array), ContainerException);

    Capability range(ICAP_PIXELTYPE, TWON_RANGE, TrackedMemory::alloc(sizeof(TW_RANGE)));
    EXPECT_THROW(readValue<TW_UINT16>(range), ContainerException);

    for (TW_UINT32 current : {2u, 3u, 0xFFFFFFFFu}) {
        auto enumeration = Capability::enumeration<TW_UINT16>(ICAP_XFERMECH, 2, current, 0, [](auto& items) {
            items.set(0, 0);
            items.set(1, 2);
        });
        EXPECT_THROW(readValue<TW_UINT16>(enumeration), ContainerException) << current;
    }
    Capability none(ICAP_PIXELTYPE, TWON_ONEVALUE, nullptr);
    EXPECT_THROW(readValue<TW_UINT16>(none), DataException);
}

TEST_F(CapabilityTest, OwnershipMovesAndApplicationHandleIsNeverFreed) {
    auto first = Capability::oneValue<TW_UINT16>(ICAP_BITDEPTH, 8);
    TW_HANDLE handle = first.handle();
    Capability second = std::move(first);
    EXPECT_EQ(first.handle(), nullptr);
    EXPECT_EQ(second.handle(), handle);

    // The application's container of the call in progress survives a Capability that wraps it.
    TW_HANDLE appHandle = TrackedMemory::alloc(6);
    Memory::setAppOwnedHandle(appHandle);
    { Capability wrapped(ICAP_BITDEPTH, TWON_ONEVALUE, appHandle); }
    EXPECT_EQ(TrackedMemory::live.count(appHandle), 1u);
    Memory::setAppOwnedHandle(nullptr);
    TrackedMemory::free(appHandle);
}

TEST_F(CapabilityTest, AnswerHandsTheContainerToTheApplication) {
    // The application passed its own container: it is kept, not freed.
    TW_HANDLE appHandle = TrackedMemory::alloc(6);
    TW_CAPABILITY app{ICAP_BITDEPTH, TWON_DONTCARE16, appHandle};
    Memory::setAppOwnedHandle(appHandle);
    answer(app, Capability::oneValue<TW_UINT16>(ICAP_BITDEPTH, 8));
    Memory::setAppOwnedHandle(nullptr);
    EXPECT_EQ(TrackedMemory::live.count(appHandle), 1u);
    EXPECT_EQ(+app.ConType, TWON_ONEVALUE);
    EXPECT_NE(+app.hContainer, appHandle);
    EXPECT_EQ(readValue<TW_UINT16>(Capability(ICAP_BITDEPTH, TWON_ONEVALUE, +app.hContainer)), 8);
    // (the temporary Capability above freed the answer)
    TrackedMemory::free(appHandle);

    // A previous container that is not the application's own is released.
    TW_CAPABILITY stale{CAP_XFERCOUNT, TWON_ONEVALUE, TrackedMemory::alloc(6)};
    answer(stale, Capability::oneValue<TW_INT16>(CAP_XFERCOUNT, -1));
    EXPECT_EQ(TrackedMemory::live.size(), 1u);
    TrackedMemory::free(stale.hContainer);
}

TEST_F(CapabilityTest, AllocationFailureThrowsBadAllocAndLeaksNothing) {
    TrackedMemory::failNext = 1;
    EXPECT_THROW(Capability::oneValue<TW_UINT16>(ICAP_BITDEPTH, 8), std::bad_alloc);
    TrackedMemory::failNext = 1;
    EXPECT_THROW((Capability::enumeration<TW_UINT16>(ICAP_XFERMECH, 2, 0, 0, [](auto&) {})), std::bad_alloc);
    // An exception while filling still releases the block.
    EXPECT_THROW(
        (Capability::array<TW_UINT16>(CAP_SUPPORTEDCAPS, 2, [](auto&) { throw ContainerException(); })),
        ContainerException);
}

// A DSM whose lock fails (with the DSM's calling convention, which a lambda does not take on 32-bit
// Windows).
TW_MEMREF TW_CALLINGSTYLE lockNothing(TW_HANDLE) {
    return nullptr;
}

TEST_F(CapabilityTest, HandleThatCannotBeLockedThrowsAndLeaksNothing) {
    auto nullLock = TrackedMemory::entryPoint();
    nullLock.DSM_MemLock = &lockNothing;
    const auto held = Capability::oneValue<TW_UINT16>(ICAP_BITDEPTH, 8);
    Memory::setCallbacks(nullLock);
    EXPECT_THROW(Capability::oneValue<TW_UINT16>(ICAP_BITDEPTH, 8), std::bad_alloc);
    EXPECT_THROW((Capability::enumeration<TW_UINT16>(ICAP_XFERMECH, 2, 0, 0, [](auto&) {})), std::bad_alloc);
    EXPECT_THROW((Capability::array<TW_UINT16>(CAP_SUPPORTEDCAPS, 2, [](auto&) {})), std::bad_alloc);
    EXPECT_THROW(readValue<TW_UINT16>(held), DataException);
    EXPECT_THROW(accessOneValue<TW_UINT16>(held), DataException);
    EXPECT_EQ(TrackedMemory::live.size(), 1u); // only `held`
    TrackedMemory::install();
}

TEST_F(CapabilityTest, NestedCallRestoresTheOuterCallsApplicationHandle) {
    TW_HANDLE outer = TrackedMemory::alloc(6);
    TW_HANDLE inner = TrackedMemory::alloc(6);
    {
        Memory::AppOwnedHandleScope outerCall(outer);
        {
            Memory::AppOwnedHandleScope innerCall(inner); // re-entered from a notification
            EXPECT_EQ(Memory::appOwnedHandle(), inner);
        }
        EXPECT_EQ(Memory::appOwnedHandle(), outer);
        { Capability wrapped(ICAP_BITDEPTH, TWON_ONEVALUE, outer); }
        EXPECT_EQ(TrackedMemory::live.count(outer), 1u);
    }
    EXPECT_EQ(Memory::appOwnedHandle(), nullptr);
    TrackedMemory::free(outer);
    TrackedMemory::free(inner);
}

TEST(Exceptions, TextsAndHierarchy) {
    struct Case {
        std::exception_ptr error;
        const char* text;
    };
    const Case cases[] = {
        {std::make_exception_ptr(Exception()), "General TWPP error."},
        {std::make_exception_ptr(CapabilityException()), "Capability handling error."},
        {std::make_exception_ptr(DataException()), "No data."},
        {std::make_exception_ptr(ContainerException()), "Unexpected container."},
        {std::make_exception_ptr(ItemTypeException()), "Invalid item type."},
    };
    for (const auto& c : cases) {
        try {
            std::rethrow_exception(c.error);
        } catch (const Exception& e) {
            EXPECT_STREQ(e.what(), c.text);
        }
    }
    EXPECT_TRUE((std::is_base_of_v<CapabilityException, ItemTypeException>));
    EXPECT_TRUE((std::is_base_of_v<std::exception, Exception>));
}

TEST(MemoryFallback, WithoutDsmCallbacksThePlatformAllocates) {
    Memory::clearCallbacks();
    auto cap = Capability::oneValue<TW_UINT16>(ICAP_BITDEPTH, 8);
    ASSERT_NE(cap.handle(), nullptr);
    EXPECT_EQ(accessOneValue<TW_UINT16>(cap).get(0), 8);

    // Half a set of call-backs is not used.
    TW_ENTRYPOINT partial{};
    partial.DSM_MemAllocate = &TrackedMemory::alloc;
    Memory::setCallbacks(partial);
    EXPECT_FALSE(Memory::hasCallbacks());
}

} // namespace
