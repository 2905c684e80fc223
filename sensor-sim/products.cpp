#include "sensor-sim/products.h"

#include <fstream>

namespace sensorbus {

std::optional<Product> findProduct(std::string_view name) {
    for (const auto& product : kProducts) {
        if (product.name == name) {
            return product;
        }
    }
    return std::nullopt;
}

std::optional<Product> readProductFile(const std::filesystem::path& folder) {
    std::ifstream in(folder / kProductFileName);
    std::string line;
    if (!in || !std::getline(in, line)) {
        return std::nullopt;
    }
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
        line.pop_back();
    }
    return findProduct(line);
}

bool writeProductFile(const std::filesystem::path& folder, std::string_view product) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    std::ofstream out(folder / kProductFileName, std::ios::out | std::ios::trunc);
    out << product << '\n';
    out.close();
    return !out.fail();
}

} // namespace sensorbus
