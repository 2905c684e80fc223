// The transfer half of the source: pending transfers, image description and layout, and the native
// and buffered-memory transfers of the images waiting in the queue (front first).
//
// Sizes: an image of a landscape tile is transferred turned a quarter, so its picture is height x
// width. Every size this file reports (image information, layout, memory set-up and strip headers)
// is the picture's own, and exactly that many rows and columns are copied.
#include "imaging/format_image.h"
#include "imaging/picture_size.h"
#include "source/my_source.h"
#include "support/log.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

using Twpp::Fix32;
using Twpp::Result;

std::shared_ptr<Image> MySource::frontImage() const {
    return deviceWrapper ? deviceWrapper->images->imageAt(0) : nullptr;
}

std::size_t MySource::queuedImages() const {
    return deviceWrapper ? deviceWrapper->images->imageCount() : 0;
}

void MySource::setRequest(std::uint8_t action) {
    if (deviceWrapper) {
        deviceWrapper->state->action = action;
    }
}

void MySource::removeFront(const std::shared_ptr<Image>& image) {
    // Only the image just transferred leaves; the queue may have changed meanwhile on other threads.
    deviceWrapper->images->withImages([&](auto& images) {
        if (!images.empty() && images.front() == image) {
            images.pop_front();
        }
    });
    frontImageLeft();
}

void MySource::frontImageLeft() {
    memRowOffset = 0;
    memRowImage.reset();
    transferCache.clear();
}

Result MySource::pendingXfersGet(const Identity&, TW_PENDINGXFERS& data) {
    stripLog.flush();
    writeString("pendingXfersGet Start");
    data.Count = static_cast<TW_UINT16>(queuedImages());
    return Twpp::success();
}

Result MySource::pendingXfersEnd(const Identity&, TW_PENDINGXFERS& data) {
    stripLog.flush();
    writeString("pendingXfersEnd Start");
    // The front image ends here unless its transfer completed (it has left the queue then): an
    // image the application skipped in state 6, or one whose memory transfer it broke off.
    const auto front = frontImage();
    if (front && (state() == 6 || (memRowOffset > 0 && memRowImage.lock() == front))) {
        removeFront(front);
    } else {
        frontImageLeft();
    }
    const std::size_t n = queuedImages();
    writeLog([&](std::ofstream& out) {
        out << "pendingXfersEnd Start 1: " << n << std::endl;
        out << " IS EMPTY: " << (n == 0 ? "yes" : "no") << std::endl;
    });
    data.Count = static_cast<TW_UINT16>(n);
    writeString("pendingXfersEnd Start 2");
    // Only the end of the batch asks the application to close: one that returns to its message
    // loop between images must not be told to close before it has the rest.
    if (n == 0) {
        setRequest(UIState::CloseRequested);
        requestChanged();
    }
    return Twpp::success();
}

Result MySource::pendingXfersReset(const Identity&, TW_PENDINGXFERS& data) {
    stripLog.flush();
    writeString("pendingXfersReset Start");
    if (deviceWrapper) {
        deviceWrapper->images->resetImages();
    }
    // A memory transfer cut short must not leave its row count to the next image.
    frontImageLeft();
    data.Count = 0;
    return Twpp::success();
}

Result MySource::setupMemXferGet(const Identity&, TW_SETUPMEMXFER& data) {
    stripLog.flush();
    writeString("setupMemXferGet Start");
    const auto image = frontImage();
    if (!image) {
        return Twpp::seqError();
    }
    writeString("setParamsMemXfer Start");
    const PictureSize size = pictureSize(*image);
    data.MinBufSize = static_cast<TW_UINT32>(size.width);
    data.MaxBufSize = static_cast<TW_UINT32>(size.width) * static_cast<TW_UINT32>(size.height);
    data.Preferred = data.MaxBufSize;
    return Twpp::success();
}

Result MySource::imageInfoGet(const Identity&, TW_IMAGEINFO& data) {
    stripLog.flush();
    writeString("imageInfoGet");
    const auto image = frontImage();
    if (!image) {
        writeString("imageInfoGet - no images");
        return Twpp::seqError();
    }
    writeString("imageInfoGet - got next image");
    const PictureSize size = pictureSize(*image);
    writeLog([&](std::ofstream& out) {
        out << "imageInfoGet -- size: " << size.width << " - " << size.height << std::endl;
    });
    data.XResolution = Fix32(1.0f).raw();
    data.YResolution = Fix32(1.0f).raw();
    data.ImageWidth = size.width;
    data.ImageLength = size.height;
    data.SamplesPerPixel = 1;
    std::fill(std::begin(data.BitsPerSample), std::end(data.BitsPerSample), TW_INT16{0});
    data.BitsPerSample[0] = 8;
    data.BitsPerPixel = 8;
    data.Planar = 0;
    data.PixelType = TWPT_GRAY;
    data.Compression = TWCP_NONE;
    writeString("imageInfoGet - success");
    return Twpp::success();
}

Result MySource::currentLayout(TW_IMAGELAYOUT& data) const {
    const auto image = frontImage();
    if (!image) {
        return Twpp::seqError();
    }
    const PictureSize size = pictureSize(*image);
    data.Frame.Left = Fix32(0.0f).raw();
    data.Frame.Top = Fix32(0.0f).raw();
    data.Frame.Right = Fix32(static_cast<float>(size.width)).raw();
    data.Frame.Bottom = Fix32(static_cast<float>(size.height)).raw();
    data.DocumentNumber = static_cast<TW_UINT32>(image->number);
    data.PageNumber = 1;
    data.FrameNumber = 1;
    return Twpp::success();
}

Result MySource::imageLayoutGet(const Identity&, TW_IMAGELAYOUT& data) {
    stripLog.flush();
    writeString("imageLayoutGet");
    return currentLayout(data);
}

Result MySource::imageLayoutGetDefault(const Identity& origin, TW_IMAGELAYOUT& data) {
    writeString("imageLayoutGetDefault");
    return imageLayoutGet(origin, data);
}

Result MySource::imageLayoutReset(const Identity& origin, TW_IMAGELAYOUT& data) {
    writeString("imageLayoutReset");
    return imageLayoutGet(origin, data);
}

Result MySource::imageLayoutSet(const Identity& origin, TW_IMAGELAYOUT& data) {
    writeString("imageLayoutSet");
    TW_IMAGELAYOUT current{};
    imageLayoutGetDefault(origin, current);
    const auto same = [](const TW_FIX32& a, const TW_FIX32& b) {
        return a.Whole == b.Whole && a.Frac == b.Frac;
    };
    const bool equal = same(data.Frame.Left, current.Frame.Left) && same(data.Frame.Top, current.Frame.Top) &&
                       same(data.Frame.Right, current.Frame.Right) &&
                       same(data.Frame.Bottom, current.Frame.Bottom);
    return equal ? Twpp::success() : Twpp::badValue();
}

Result MySource::imageNativeXferGet(const Identity&, TW_HANDLE& data) {
    stripLog.flush();
    setRequest(UIState::Nothing);
    writeString("imageNativeXferGet Start");
    const auto image = frontImage();
    if (!image) {
        return Twpp::seqError();
    }
    int width = 0;
    int height = 0;
    const std::vector<char> bytes = format_image(image, width, height, true, true);
    // Until it is handed over, the handle is freed on every way out, a throw included.
    struct Owned {
        TW_HANDLE handle;
        ~Owned() { Twpp::Memory::free(handle); }
    } owned{Twpp::Memory::alloc(static_cast<TW_UINT32>(bytes.size()))};
    if (owned.handle == nullptr) {
        // The image stays in the queue: the application may try again once memory is free.
        throw std::bad_alloc();
    }
    {
        Twpp::Memory::Lock lock(owned.handle);
        if (lock.data() == nullptr) {
            throw std::bad_alloc();
        }
        std::memcpy(lock.data(), bytes.data(), bytes.size());
    }
    // Only a delivered image leaves the queue.
    const std::size_t before = queuedImages();
    removeFront(image);
    const std::size_t after = queuedImages();
    writeLog([&](std::ofstream& out) {
        out << "imageNativeXferGet -- dim: " << width << " - " << height << " size: " << before << " - "
            << after << std::endl;
    });
    Twpp::Memory::freeUnlessAppOwned(data);
    data = std::exchange(owned.handle, nullptr);
    writeString("imageNativeXferGet -- memset");
    writeString("imageNativeXferGet -- success");
    return Result(TWRC_XFERDONE, TWCC_SUCCESS);
}

Result MySource::imageMemXferGet(const Identity&, TW_IMAGEMEMXFER& data) {
    setRequest(UIState::Nothing);
    // A strip may be a single row: the strips' lines are gathered and written when the image is
    // complete, when a strip fails, or every few dozen kilobytes.
    LogRecord& trace = stripLog;
    struct Written {
        LogRecord& trace;
        ~Written() {
            if (trace.size() > 64 * 1024) {
                trace.flush();
            }
        }
    } written{trace};
    trace.line("imageMemXferGet Start");
    const auto image = frontImage();
    if (!image) {
        trace.line("imageMemXferGet -- empty!");
        trace.flush();
        return Twpp::seqError();
    }
    trace.line("imageMemXferGet -- get image");
    trace.line("imageMemXferGet -- setup");
    trace.line("setParamsMemXfer Start");
    const PictureSize size = pictureSize(*image);
    const auto width = static_cast<TW_UINT32>(size.width);
    const auto height = static_cast<TW_UINT32>(size.height);
    const TW_UINT32 length = data.Memory.Length;
    trace << "imageMemXferGet -- set mem size: " << length << '\n';
    if (memRowImage.lock() != image) {
        // Rows counted for another image (one that left the queue meanwhile) do not count here.
        memRowOffset = 0;
    }
    if (width == 0 || length < width || std::uint64_t{length} > std::uint64_t{width} * height) {
        trace.flush();
        return Twpp::badValue();
    }
    if (data.Memory.TheMem == nullptr) {
        trace.flush();
        return Twpp::badValue();
    }
    trace << "imageMemXferGet -- bytes per line: " << width << '\n';
    const TW_UINT32 rows = std::min(length / width, height > memRowOffset ? height - memRowOffset : 0u);
    if (rows == 0) {
        trace.flush();
        return Twpp::seqError();
    }
    trace << "imageMemXferGet -- set data: " << (length / width) << " | " << rows << '\n';
    int pictureWidth = 0;
    int pictureHeight = 0;
    if (!transferCache.holds(image)) {
        trace.flush(); // formatting logs its own lines
    }
    const std::vector<char>& bytes = transferCache.rows(image, pictureWidth, pictureHeight);
    if (static_cast<TW_UINT32>(pictureWidth) != width || static_cast<TW_UINT32>(pictureHeight) != height ||
        bytes.size() < std::size_t{width} * height) {
        // The formatted picture does not have the size reported: copy nothing rather than overrun.
        transferCache.clear();
        trace.flush();
        return Twpp::bummer();
    }

    data.Compression = TWCP_NONE;
    data.BytesPerRow = width;
    data.Columns = width;
    data.Rows = rows;
    data.XOffset = 0;
    data.YOffset = memRowOffset;
    data.BytesWritten = width * rows;

    const bool handle = (data.Memory.Flags & TWMF_HANDLE) != 0;
    char* destination = handle ? static_cast<char*>(Twpp::Memory::lock(data.Memory.TheMem))
                               : static_cast<char*>(data.Memory.TheMem);
    if (destination == nullptr) {
        trace.flush();
        return Twpp::badValue();
    }
    trace << "imageMemXferGet -- write data: " << bytes.size() << " | " << width << '\n';
    std::memcpy(destination, bytes.data() + std::size_t{memRowOffset} * width, std::size_t{rows} * width);
    if (handle) {
        Twpp::Memory::unlock(data.Memory.TheMem);
    }

    trace << "imageMemXferGet -- set offset: " << height << '\n';
    memRowOffset += rows;
    memRowImage = image;
    if (memRowOffset >= height) {
        removeFront(image);
        trace.line("imageMemXferGet -- finished image");
        trace.flush();
        return Result(TWRC_XFERDONE, TWCC_SUCCESS);
    }
    trace.line("imageMemXferGet -- finished parital");
    return Twpp::success();
}
