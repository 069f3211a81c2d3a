#pragma once
// What the FAT image builder's own tests share: patterned data and readers of
// the built image.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/FatImageBuilder.h"

namespace TestSupport::FatBuilderTest {

inline std::vector<std::uint8_t> Pattern(std::size_t size, std::uint32_t seed) {
    std::vector<std::uint8_t> out(size);
    for (auto& byte : out) {
        seed = seed * 1664525u + 1013904223u;
        byte = static_cast<std::uint8_t>(seed >> 24);
    }
    return out;
}

inline std::uint32_t Le(const FatImage& image, std::uint64_t offset, int width) {
    std::uint32_t value = 0;
    for (int k = width - 1; k >= 0; --k) value = (value << 8) | image.Bytes().at(offset + k);
    return value;
}

inline std::string Text(const FatImage& image, std::uint64_t offset, std::size_t size) {
    return std::string(image.Bytes().begin() + static_cast<std::ptrdiff_t>(offset),
                       image.Bytes().begin() + static_cast<std::ptrdiff_t>(offset + size));
}

// The bytes an extent list points at, joined.
inline std::vector<std::uint8_t> ReadExtents(const FatImage& image, const std::vector<FatExtent>& extents) {
    std::vector<std::uint8_t> out;
    for (const FatExtent& e : extents)
        out.insert(out.end(), image.Bytes().begin() + static_cast<std::ptrdiff_t>(e.offset),
                   image.Bytes().begin() + static_cast<std::ptrdiff_t>(e.offset + e.length));
    return out;
}

inline std::uint32_t ClusterSize(FatType type) {
    const FatVolumeOptions o = FatVolumeOptions::Defaults(type);
    return std::uint32_t{o.bytesPerSector} * o.sectorsPerCluster;
}

inline std::string TypeName(const ::testing::TestParamInfo<FatType>& info) {
    return info.param == FatType::Fat12 ? "Fat12" : info.param == FatType::Fat16 ? "Fat16" : "Fat32";
}

} // namespace TestSupport::FatBuilderTest
