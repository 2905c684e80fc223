// Bitmap files from DIBs, PNG files from grey rows.
#include "host/image_files.h"

#include <QtGui/QImage>

#include <cstring>
#include <fstream>

namespace host {

namespace fs = std::filesystem;

namespace {

template <typename T> T readLe(const unsigned char* at) {
    T value{};
    std::memcpy(&value, at, sizeof(T));
    return value;
}

template <typename T> void putLe(std::vector<char>& out, T value) {
    const auto* bytes = reinterpret_cast<const char*>(&value);
    out.insert(out.end(), bytes, bytes + sizeof(T));
}

constexpr std::uint32_t kInfoHeaderSize = 40;
constexpr std::uint32_t kFileHeaderSize = 14;
constexpr std::int64_t kMaxSide = 1 << 16;

std::uint32_t paletteEntries(const unsigned char* dib) {
    const auto bitCount = readLe<std::uint16_t>(dib + 14);
    const auto used = readLe<std::uint32_t>(dib + 32);
    if (used != 0) {
        return used;
    }
    return bitCount <= 8 ? (1u << bitCount) : 0;
}

} // namespace

std::size_t dibSize(const unsigned char* dib) {
    if (dib == nullptr) {
        return 0;
    }
    const auto headerSize = readLe<std::uint32_t>(dib);
    const auto width = readLe<std::int32_t>(dib + 4);
    const std::int64_t height = readLe<std::int32_t>(dib + 8);
    const auto bitCount = readLe<std::uint16_t>(dib + 14);
    const auto compression = readLe<std::uint32_t>(dib + 16);
    const std::int64_t rows = height < 0 ? -height : height;
    if (headerSize < kInfoHeaderSize || headerSize > 1024 || width <= 0 || width > kMaxSide || rows == 0 ||
        rows > kMaxSide || compression != 0 ||
        (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 24 && bitCount != 32)) {
        return 0;
    }
    const std::uint32_t palette = paletteEntries(dib);
    if (palette > 256) {
        return 0;
    }
    const std::int64_t stride = ((static_cast<std::int64_t>(width) * bitCount + 31) / 32) * 4;
    return headerSize + palette * 4u + static_cast<std::size_t>(stride * rows);
}

std::string writeBitmapFile(const fs::path& file, const unsigned char* dib, std::size_t size) {
    if (size == 0) {
        return "the source handed over a bitmap this program cannot read";
    }
    const std::uint32_t offset = kFileHeaderSize + readLe<std::uint32_t>(dib) + paletteEntries(dib) * 4u;
    std::vector<char> header;
    header.push_back('B');
    header.push_back('M');
    putLe<std::uint32_t>(header, static_cast<std::uint32_t>(kFileHeaderSize + size));
    putLe<std::uint16_t>(header, 0);
    putLe<std::uint16_t>(header, 0);
    putLe<std::uint32_t>(header, offset);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(header.data(), static_cast<std::streamsize>(header.size()));
    out.write(reinterpret_cast<const char*>(dib), static_cast<std::streamsize>(size));
    out.close();
    if (!out) {
        return "cannot write " + file.string();
    }
    return {};
}

std::string writePngFile(const fs::path& file, const GreyImage& image) {
    if (image.width <= 0 || image.height <= 0 ||
        image.pixels.size() !=
            static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height)) {
        return "no image to write to " + file.string();
    }
    const QImage picture(image.pixels.data(), image.width, image.height, image.width,
                         QImage::Format_Grayscale8);
    if (!picture.save(QString::fromStdString(file.string()), "PNG")) {
        return "cannot write " + file.string();
    }
    return {};
}

std::string checkWritableFolder(const fs::path& folder) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec || !fs::is_directory(folder)) {
        return "cannot create the output folder " + folder.string() + (ec ? ": " + ec.message() : "");
    }
    const fs::path probe = folder / ".ostra-acquire-probe";
    {
        std::ofstream out(probe, std::ios::trunc);
        out << "probe";
        out.close();
        if (!out) {
            fs::remove(probe, ec);
            return "cannot write into the output folder " + folder.string();
        }
    }
    fs::remove(probe, ec);
    return {};
}

} // namespace host
