// The sensor products the simulated detector knows, and the small file that names the product of a
// work folder.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace sensorbus {

struct Product {
    std::string_view name;
    int width;  // pixels per row
    int height; // rows
};

inline constexpr Product kProducts[] = {{"DS1", 1000, 1500}, {"DS2", 1300, 1700}};

std::optional<Product> findProduct(std::string_view name);

// The file in a detector work folder (and in the shipped product folders) that names its product:
// one line holding the product name.
inline constexpr const char* kProductFileName = "product.txt";

// The product named by folder/product.txt; empty when the file is missing or names no product.
std::optional<Product> readProductFile(const std::filesystem::path& folder);

// Writes folder/product.txt (creating the folder). False on failure.
bool writeProductFile(const std::filesystem::path& folder, std::string_view product);

} // namespace sensorbus
