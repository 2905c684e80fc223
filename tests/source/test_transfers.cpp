// The transfer operations of the source on images placed in its queue.
#include "imaging/format_image.h"
#include "source/my_source.h"
#include "tests/common/test_env.h"
#include "tests/common/tracked_memory.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace {

using Twpp::Result;

// The source with its queue at hand, driven through its routers.
class TestSource : public MySource {
public:
    TestSource() { deviceWrapper = std::make_shared<DeviceWrapper>(); }
    void forceState(TW_UINT16 state) { setState(state); }
    ImageHolder& queue() { return *deviceWrapper->images; }
    std::uint8_t request() const { return deviceWrapper->state->action; }

    Result send(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) {
        TW_IDENTITY app{};
        app.Id = 1;
        try {
            return call(app, dg, dat, msg, data);
        } catch (const std::bad_alloc&) {
            return Twpp::failure(TWCC_LOWMEMORY);
        }
    }
};

std::vector<unsigned short> exposure(int width, int height, int seed) {
    std::vector<unsigned short> samples(static_cast<std::size_t>(width) * height);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<unsigned short>((i * 7919 + seed * 104729) % 60000 + 1000);
    }
    return samples;
}

std::shared_ptr<Image> makeImage(int width, int height, bool landscape = false, int number = 1) {
    const auto samples = exposure(width, height, number);
    return std::make_shared<Image>(width, height, 2, samples.data(), number, landscape, true);
}

// What the memory transfer must deliver: the rows of the picture, top row first.
std::vector<char> expectedRows(const std::shared_ptr<Image>& image) {
    auto copy = std::make_shared<Image>(*image);
    int w = 0;
    int h = 0;
    return format_image(copy, w, h, false, false);
}

struct Strip {
    Result result;
    TW_IMAGEMEMXFER header{};
    std::vector<char> bytes;
};

class Transfers : public testing::Test {
protected:
    void SetUp() override {
        TrackedMemory::install();
        source.forceState(6);
        // The log's folder, so that its lines can be read back.
        std::filesystem::create_directories(testenv::appDataFolder() / "vanto_sensor");
    }
    void TearDown() override { EXPECT_EQ(TrackedMemory::uninstall(), 0u) << "handles leaked"; }

    Strip strip(TW_UINT32 length, bool asHandle = false) {
        Strip s;
        std::vector<char> buffer(length, '\x5A');
        TW_HANDLE handle = nullptr;
        s.header.Memory.Length = length;
        if (asHandle) {
            handle = TrackedMemory::alloc(length);
            std::memset(handle, 0x5A, length);
            s.header.Memory.Flags = TWMF_APPOWNS | TWMF_HANDLE;
            s.header.Memory.TheMem = handle;
        } else {
            s.header.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
            s.header.Memory.TheMem = buffer.data();
        }
        s.result = source.send(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &s.header);
        const char* from = asHandle ? static_cast<const char*>(handle) : buffer.data();
        s.bytes.assign(from, from + (s.result.returnCode == TWRC_FAILURE ? 0 : s.header.BytesWritten));
        // Nothing past what was reported may have been written.
        for (TW_UINT32 i = s.result.returnCode == TWRC_FAILURE ? 0 : s.header.BytesWritten; i < length; ++i) {
            EXPECT_EQ(from[i], '\x5A') << "byte " << i << " of " << length;
        }
        if (asHandle) {
            TrackedMemory::free(handle);
        }
        return s;
    }

    // Delivers the front image with buffers of `length` bytes; returns all rows and checks the headers.
    std::vector<char> wholeImage(TW_UINT32 length, TW_UINT32 width, TW_UINT32 height, bool asHandle = false) {
        std::vector<char> all;
        TW_UINT32 offset = 0;
        for (int calls = 0; calls <= static_cast<int>(height); ++calls) {
            Strip s = strip(length, asHandle);
            EXPECT_NE(s.result.returnCode, TWRC_FAILURE) << "length " << length << " offset " << offset;
            if (s.result.returnCode == TWRC_FAILURE) {
                break;
            }
            EXPECT_EQ(+s.header.BytesPerRow, width);
            EXPECT_EQ(+s.header.Columns, width);
            EXPECT_EQ(+s.header.YOffset, offset);
            EXPECT_EQ(+s.header.Rows, std::min(length / width, height - offset));
            EXPECT_EQ(+s.header.BytesWritten, s.header.Rows * width);
            all.insert(all.end(), s.bytes.begin(), s.bytes.end());
            offset += s.header.Rows;
            const bool done = offset == height;
            EXPECT_EQ(s.result.returnCode, done ? TWRC_XFERDONE : TWRC_SUCCESS);
            if (done) {
                break;
            }
        }
        return all;
    }

    TestSource source;
};

TEST_F(Transfers, NativeTransferHandsOverACompleteBitmap) {
    const struct { int width, height; } sizes[] = {{8, 6}, {7, 5}, {13, 3}};
    for (const auto& size : sizes) {
        source.forceState(6);
        source.queue().pushFront(makeImage(size.width, size.height));
        TW_HANDLE handle = nullptr;
        EXPECT_EQ(source.send(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle),
                  Result(TWRC_XFERDONE, TWCC_SUCCESS));
        ASSERT_NE(handle, nullptr);
        EXPECT_EQ(source.state(), 7);
        EXPECT_EQ(source.queue().imageCount(), 0u);
        const auto* header = static_cast<const unsigned char*>(handle);
        std::int32_t width = 0;
        std::int32_t height = 0;
        std::memcpy(&width, header + 4, 4);
        std::memcpy(&height, header + 8, 4);
        EXPECT_EQ(width, size.width);
        EXPECT_EQ(height, size.height);
        EXPECT_EQ(TrackedMemory::live.count(handle), 1u);
        TrackedMemory::free(handle);
    }
}

TEST_F(Transfers, NativeTransferSizeIsHeaderPaletteAndPaddedRows) {
    source.queue().pushFront(makeImage(7, 5));
    // Observe the allocation size through a wrapper of the allocator.
    static TW_UINT32 allocated = 0;
    TW_ENTRYPOINT entry{};
    entry.DSM_MemAllocate = [](TW_UINT32 size) -> TW_HANDLE {
        allocated = size;
        return TrackedMemory::alloc(size);
    };
    entry.DSM_MemFree = &TrackedMemory::free;
    entry.DSM_MemLock = &TrackedMemory::lock;
    entry.DSM_MemUnlock = &TrackedMemory::unlock;
    Twpp::Memory::setCallbacks(entry);
    TW_HANDLE handle = nullptr;
    source.send(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle);
    EXPECT_EQ(allocated, 1064u + 5u * 8u);
    TrackedMemory::free(handle);
}

TEST_F(Transfers, NativeTransferOutOfMemoryKeepsTheImage) {
    source.queue().pushFront(makeImage(8, 6));
    TrackedMemory::failNext = 1;
    TW_HANDLE handle = nullptr;
    EXPECT_EQ(source.send(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle), Twpp::failure(TWCC_LOWMEMORY));
    EXPECT_EQ(handle, nullptr);
    // A handle allocated but not handed over is freed (TearDown counts the live ones).
    auto nullLock = TrackedMemory::entryPoint();
    nullLock.DSM_MemLock = [](TW_HANDLE) -> TW_MEMREF { return nullptr; };
    Twpp::Memory::setCallbacks(nullLock);
    EXPECT_EQ(source.send(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle), Twpp::failure(TWCC_LOWMEMORY));
    Twpp::Memory::setCallbacks(TrackedMemory::entryPoint());
    EXPECT_EQ(handle, nullptr);
    EXPECT_TRUE(TrackedMemory::live.empty());
    EXPECT_EQ(source.queue().imageCount(), 1u);
    EXPECT_EQ(source.state(), 6);
    EXPECT_EQ(source.send(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle),
              Result(TWRC_XFERDONE, TWCC_SUCCESS));
    TrackedMemory::free(handle);
}

TEST_F(Transfers, MemoryStripsOfEverySizeDeliverThePicture) {
    const auto image = makeImage(9, 4);
    const auto expected = expectedRows(image);
    for (TW_UINT32 length : {9u, 10u, 17u, 18u, 27u, 35u, 36u}) {
        source.queue().resetImages();
        source.queue().pushFront(image);
        source.forceState(6);
        EXPECT_EQ(wholeImage(length, 9, 4), expected) << "length " << length;
        EXPECT_EQ(source.queue().imageCount(), 0u);
    }
}

TEST_F(Transfers, MemoryStripsIntoApplicationHandles) {
    const auto image = makeImage(6, 5);
    source.queue().pushFront(image);
    EXPECT_EQ(wholeImage(12, 6, 5, true), expectedRows(image));
}

TEST_F(Transfers, BufferOutsideOneRowToTheWholeImageIsRefused) {
    source.queue().pushFront(makeImage(9, 4));
    for (TW_UINT32 length : {0u, 8u, 37u, 1000000u}) {
        Strip s = strip(length);
        EXPECT_EQ(s.result, Twpp::badValue()) << length;
    }
    TW_IMAGEMEMXFER noBuffer{};
    noBuffer.Memory.Length = 9;
    EXPECT_EQ(source.send(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &noBuffer), Twpp::badValue());
    EXPECT_EQ(source.queue().imageCount(), 1u);
}

TEST_F(Transfers, EachImageStartsAtRowZero) {
    const auto first = makeImage(5, 3, false, 1);
    const auto second = makeImage(5, 3, false, 2);
    source.queue().pushFront(second);
    source.queue().pushFront(first);
    EXPECT_EQ(wholeImage(10, 5, 3), expectedRows(first));
    EXPECT_EQ(wholeImage(10, 5, 3), expectedRows(second));
}

TEST_F(Transfers, RowsDeliveredOfAnImageThatLeftDoNotCountForTheNext) {
    const auto first = makeImage(5, 4, false, 1);
    const auto second = makeImage(5, 4, false, 2);
    source.queue().pushFront(second);
    source.queue().pushFront(first);
    ASSERT_EQ(strip(10).result, Twpp::success()); // rows 0 and 1 of the first image
    // The first image leaves the queue on another thread (the dialog emptied it, say).
    source.queue().withImages([&](auto& images) { images.pop_front(); });
    source.forceState(6);
    EXPECT_EQ(wholeImage(10, 5, 4), expectedRows(second));
}

TEST_F(Transfers, LandscapeImageIsReportedAndCopiedAsItsTurnedPicture) {
    // Stored 7 x 4, transferred turned: a picture 4 wide and 7 high.
    const auto image = makeImage(7, 4, true);
    ASSERT_FALSE(image->upright);
    source.queue().pushFront(image);

    TW_IMAGEINFO info{};
    EXPECT_EQ(source.send(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), Twpp::success());
    EXPECT_EQ(+info.ImageWidth, 4);
    EXPECT_EQ(+info.ImageLength, 7);
    TW_IMAGELAYOUT layout{};
    source.send(DG_IMAGE, DAT_IMAGELAYOUT, MSG_GET, &layout);
    EXPECT_EQ(+layout.Frame.Right.Whole, 4);
    EXPECT_EQ(+layout.Frame.Bottom.Whole, 7);
    TW_SETUPMEMXFER setup{};
    source.send(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup);
    EXPECT_EQ(+setup.MinBufSize, 4u);
    EXPECT_EQ(+setup.MaxBufSize, 28u);

    const auto expected = expectedRows(image);
    ASSERT_EQ(expected.size(), 28u);
    for (TW_UINT32 length = 4; length <= 28; ++length) {
        source.queue().resetImages();
        source.queue().pushFront(image);
        source.forceState(6);
        EXPECT_EQ(wholeImage(length, 4, 7), expected) << "length " << length;
    }
}

TEST_F(Transfers, DescriptionOfTheFrontImage) {
    auto image = makeImage(12, 8, false, 42);
    source.queue().pushFront(image);
    TW_IMAGEINFO info;
    std::memset(&info, 0xEE, sizeof(info));
    ASSERT_EQ(source.send(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), Twpp::success());
    EXPECT_EQ(+info.XResolution.Whole, 1);
    EXPECT_EQ(+info.XResolution.Frac, 0);
    EXPECT_EQ(+info.YResolution.Whole, 1);
    EXPECT_EQ(+info.ImageWidth, 12);
    EXPECT_EQ(+info.ImageLength, 8);
    EXPECT_EQ(+info.SamplesPerPixel, 1);
    EXPECT_EQ(+info.BitsPerSample[0], 8);
    for (int i = 1; i < 8; ++i) {
        EXPECT_EQ(+info.BitsPerSample[i], 0) << i;
    }
    EXPECT_EQ(+info.BitsPerPixel, 8);
    EXPECT_EQ(+info.Planar, 0);
    EXPECT_EQ(+info.PixelType, TWPT_GRAY);
    EXPECT_EQ(+info.Compression, TWCP_NONE);

    TW_IMAGELAYOUT layout{};
    for (TW_UINT16 msg : {MSG_GET, MSG_GETDEFAULT}) {
        ASSERT_EQ(source.send(DG_IMAGE, DAT_IMAGELAYOUT, msg, &layout), Twpp::success());
        EXPECT_EQ(+layout.Frame.Left.Whole, 0);
        EXPECT_EQ(+layout.Frame.Right.Whole, 12);
        EXPECT_EQ(+layout.Frame.Bottom.Whole, 8);
        EXPECT_EQ(+layout.DocumentNumber, 42u);
        EXPECT_EQ(+layout.PageNumber, 1u);
        EXPECT_EQ(+layout.FrameNumber, 1u);
    }
    source.forceState(4);
    TW_IMAGELAYOUT same = layout;
    EXPECT_EQ(source.send(DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, &same), Twpp::success());
    TW_IMAGELAYOUT other = layout;
    other.Frame.Right.Frac = 1;
    EXPECT_EQ(source.send(DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, &other), Twpp::badValue());
    EXPECT_EQ(source.send(DG_IMAGE, DAT_IMAGELAYOUT, MSG_RESET, &layout), Twpp::success());

    TW_SETUPMEMXFER setup{};
    EXPECT_EQ(source.send(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup), Twpp::success());
    EXPECT_EQ(+setup.MinBufSize, 12u);
    EXPECT_EQ(+setup.MaxBufSize, 96u);
    EXPECT_EQ(+setup.Preferred, 96u);
}

TEST_F(Transfers, EmptyQueueAnswersSequenceErrors) {
    TW_IMAGEINFO info{};
    EXPECT_EQ(source.send(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), Twpp::seqError());
    TW_IMAGELAYOUT layout{};
    EXPECT_EQ(source.send(DG_IMAGE, DAT_IMAGELAYOUT, MSG_GET, &layout), Twpp::seqError());
    TW_SETUPMEMXFER setup{};
    EXPECT_EQ(source.send(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup), Twpp::seqError());
    TW_HANDLE handle = nullptr;
    EXPECT_EQ(source.send(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle), Twpp::seqError());
    EXPECT_EQ(strip(100).result, Twpp::seqError());
    // With nothing queued only the all-zero frame is the current layout.
    source.forceState(4);
    TW_IMAGELAYOUT zero{};
    EXPECT_EQ(source.send(DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, &zero), Twpp::success());
    zero.Frame.Right.Whole = 1;
    EXPECT_EQ(source.send(DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, &zero), Twpp::badValue());
}

TEST_F(Transfers, PendingTransfersCountTheQueueAndAskToClose) {
    source.queue().pushFront(makeImage(4, 4, false, 1));
    source.queue().pushFront(makeImage(4, 4, false, 2));
    TW_PENDINGXFERS pending{};
    EXPECT_EQ(source.send(DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &pending), Twpp::success());
    EXPECT_EQ(+pending.Count, 2);

    TW_HANDLE handle = nullptr;
    source.send(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle);
    TrackedMemory::free(handle);
    EXPECT_EQ(source.send(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending), Twpp::success());
    EXPECT_EQ(+pending.Count, 1);
    EXPECT_EQ(source.state(), 6);
    // The application is asked to close only when the batch is complete.
    EXPECT_EQ(source.request(), UIState::Nothing);

    handle = nullptr;
    source.send(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle);
    TrackedMemory::free(handle);
    EXPECT_EQ(source.send(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending), Twpp::success());
    EXPECT_EQ(+pending.Count, 0);
    EXPECT_EQ(source.state(), 5);
    EXPECT_EQ(source.request(), UIState::CloseRequested);

    std::ifstream log(testenv::appDataFolder() / "vanto_sensor" / "ds.log");
    std::string text((std::istreambuf_iterator<char>(log)), {});
    EXPECT_NE(text.find("pendingXfersEnd Start 1: 0\n IS EMPTY: yes\n"), std::string::npos);
}

TEST_F(Transfers, EndTransferDropsASkippedOrBrokenOffImage) {
    const auto first = makeImage(5, 4, false, 1);
    const auto second = makeImage(5, 4, false, 2);
    const auto third = makeImage(5, 4, false, 3);
    for (const auto& image : {third, second, first}) {
        source.queue().pushFront(image);
    }
    TW_PENDINGXFERS pending{};
    // Skipped in state 6: the first image leaves without being transferred.
    EXPECT_EQ(source.send(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending), Twpp::success());
    EXPECT_EQ(+pending.Count, 2);
    EXPECT_EQ(source.queue().imageAt(0), second);

    // Broken off after two of its four rows: the second image leaves too.
    EXPECT_EQ(strip(10).result, Twpp::success());
    EXPECT_EQ(source.state(), 7);
    EXPECT_EQ(source.send(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending), Twpp::success());
    EXPECT_EQ(+pending.Count, 1);
    EXPECT_EQ(source.queue().imageAt(0), third);
    EXPECT_EQ(source.request(), UIState::Nothing);

    // The third starts at its first row and arrives whole; its end leaves nothing behind.
    EXPECT_EQ(wholeImage(20, 5, 4), expectedRows(third));
    EXPECT_EQ(source.send(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending), Twpp::success());
    EXPECT_EQ(+pending.Count, 0);
    EXPECT_EQ(source.state(), 5);
    EXPECT_EQ(source.request(), UIState::CloseRequested);
}

TEST_F(Transfers, ResetEmptiesTheQueueAndForgetsAPartialImage) {
    const auto first = makeImage(5, 4, false, 1);
    source.queue().pushFront(first);
    EXPECT_EQ(strip(5).result, Twpp::success());
    TW_PENDINGXFERS pending{};
    source.forceState(6);
    EXPECT_EQ(source.send(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending), Twpp::success());
    EXPECT_EQ(+pending.Count, 0);
    EXPECT_EQ(source.queue().imageCount(), 0u);
    EXPECT_EQ(source.state(), 5);

    const auto next = makeImage(5, 4, false, 2);
    source.queue().pushFront(next);
    source.forceState(6);
    EXPECT_EQ(wholeImage(20, 5, 4), expectedRows(next));
}

TEST_F(Transfers, StripsFormatTheImageOnceUnlessItsSettingsChange) {
    const auto image = makeImage(6, 8);
    source.queue().pushFront(image);
    const auto countFormats = [] {
        std::ifstream log(testenv::appDataFolder() / "vanto_sensor" / "ds.log");
        int count = 0;
        for (std::string line; std::getline(log, line);) {
            count += line.rfind("image parameter values", 0) == 0 ? 1 : 0;
        }
        return count;
    };
    const int before = countFormats();
    EXPECT_EQ(strip(6).result, Twpp::success());
    EXPECT_EQ(strip(6).result, Twpp::success());
    EXPECT_EQ(countFormats(), before + 1);
    image->brightness = 20;
    Strip changed = strip(6);
    EXPECT_EQ(countFormats(), before + 2);
    EXPECT_EQ(+changed.header.YOffset, 2u);
}

} // namespace
