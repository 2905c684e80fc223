// Transferred images written as files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace host {

// Size in bytes of a packed device-independent bitmap (info header, palette, pixels) that starts at
// `dib`, read from its header; 0 when the header is not one of an uncompressed bitmap.
std::size_t dibSize(const unsigned char* dib);

// Writes a bitmap file: the file header, then the DIB as the source handed it. Returns an error
// text, empty on success.
std::string writeBitmapFile(const std::filesystem::path& file, const unsigned char* dib, std::size_t size);

// 8-bit grey rows, top row first, `width` bytes each.
struct GreyImage {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> pixels;
};

// Writes a PNG file. Returns an error text, empty on success.
std::string writePngFile(const std::filesystem::path& file, const GreyImage& image);

// Whether files can be created in `folder` (created if missing); an error text otherwise.
std::string checkWritableFolder(const std::filesystem::path& folder);

} // namespace host
