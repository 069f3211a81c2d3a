#pragma once
// What the exFAT image builder's own tests share: the external tools they run
// (fsck.exfat, mkfs.exfat), readers of the built image, and a rich volume.
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "support/ExFatImageBuilder.h"

// Options are written with designated initializers; GCC before 13 flags the
// fields they leave at their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace TestSupport::ExFatBuilderTest {

using namespace ExFat;

// --- external tools -------------------------------------------------------------

inline std::string FindTool(const std::string& name) {
    std::vector<std::string> dirs = {"/usr/sbin", "/sbin", "/usr/bin", "/bin", "/usr/local/sbin"};
    if (const char* path = std::getenv("PATH")) {
        std::string all = path;
        for (size_t start = 0; start <= all.size();) {
            const size_t colon = std::min(all.find(':', start), all.size());
            dirs.insert(dirs.begin(), all.substr(start, colon - start));
            start = colon + 1;
        }
    }
    for (const std::string& dir : dirs)
        if (!dir.empty() && std::filesystem::exists(dir + "/" + name))
            return dir + "/" + name;
    return {};
}

struct ToolRun {
    int status = -1;
    std::string output;
};

inline ToolRun Run(const std::string& command) {
    ToolRun run;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return run;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.output.append(buffer, n);
    const int raw = pclose(pipe);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return run;
}

inline ToolRun Fsck(const std::filesystem::path& image) {
    return Run("'" + FindTool("fsck.exfat") + "' -n '" + image.string() + "'");
}

inline bool IsClean(const ToolRun& run) {
    return run.status == 0 && run.output.find(": clean.") != std::string::npos &&
           run.output.find("ERROR") == std::string::npos && run.output.find("corrupt") == std::string::npos;
}

// "directories D, files F" from the summary line.
inline std::pair<int, int> FsckCounts(const ToolRun& run) {
    std::smatch match;
    static const std::regex summary("directories (\\d+), files (\\d+)");
    if (!std::regex_search(run.output, match, summary))
        return {-1, -1};
    return {std::stoi(match[1]), std::stoi(match[2])};
}

#define REQUIRE_TOOL(name)                                  \
    do {                                                    \
        if (FindTool(name).empty())                         \
            GTEST_SKIP() << name << " is not installed";    \
    } while (0)

// --- reading images back ----------------------------------------------------------

inline std::string Slice(const std::vector<uint8_t>& image, uint64_t offset, uint64_t length) {
    return std::string(reinterpret_cast<const char*>(image.data() + offset), length);
}

inline uint32_t FatEntryOf(const std::vector<uint8_t>& image, const ExFatImageBuilder& b, uint32_t cluster, int copy = 0) {
    const uint64_t fat = (uint64_t{b.FatOffset()} + uint64_t{b.FatLength()} * copy) * b.SectorSize();
    return GetLe<uint32_t>(&image[fat + 4ull * cluster]);
}

inline bool BitmapBit(const std::vector<uint8_t>& image, const ExFatImageBuilder& b, uint32_t cluster) {
    const uint64_t at = b.ClusterOffset(b.BitmapCluster()) + (cluster - 2) / 8;
    return (image[at] >> ((cluster - 2) % 8)) & 1;
}

inline std::string ExtentBytes(const std::vector<uint8_t>& image, const ExFatEntryInfo& info) {
    std::string bytes;
    for (const ExFatExtent& extent : info.extents)
        bytes += Slice(image, extent.offset, extent.length);
    return bytes;
}

inline std::string Pattern(size_t size, uint8_t seed) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + seed * 7 + (i >> 9)) & 0xFF);
    return bytes;
}

const std::array<uint8_t, 16> kVendorGuid = {0x4B, 0x41, 0x4C, 0x56, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};

// A volume with one of everything the directory walk meets. fsck.exfat 1.2.0
// calls vendor entries unknown, so the fsck run leaves them out.
inline void AddRichContent(ExFatImageBuilder& b, bool withVendorEntries = true) {
    b.AddFolder("DCIM/100MEDIA");
    b.AddFile("DCIM/100MEDIA/CLIP0001.MTS", Pattern(20000, 1), {.noFatChain = true});
    b.AddFile("DCIM/100MEDIA/CLIP0002.MTS", Pattern(9000, 2));
    b.AddFile("DCIM/100MEDIA/FRAGMENT.MTS", Pattern(3 * 4096 + 100, 3), {.clusters = {200, 201, 150, 300}});
    b.AddFile("A clip name long enough to need four File Name entries.MTS", Pattern(5000, 4));
    b.AddFile("Café Ünïcödé Привет αβγ.jpg", Pattern(100, 5));
    b.AddFile("empty.txt", "");
    b.AddFolder("PRIVATE/AVCHD/BDMV/STREAM", {.noFatChain = true, .clusterCount = 3});
    for (int i = 0; i < 40; ++i)
        b.AddFile("PRIVATE/AVCHD/BDMV/STREAM/0000" + std::to_string(i) + "_stream_file.MTS", Pattern(10, static_cast<uint8_t>(i)));
    b.AddFolder("MANY");
    for (int i = 0; i < 50; ++i)
        b.AddFile("MANY/picture_number_" + std::to_string(i) + ".JPG", Pattern(700, static_cast<uint8_t>(i)));
    ExFatEntryOptions vendor;
    if (withVendorEntries)
        vendor.vendorEntries = {ExFatVendorEntry::Extension(kVendorGuid, "camera"),
                                ExFatVendorEntry::Allocation(kVendorGuid, 0, 0)};
    b.AddFile("VENDOR.BIN", Pattern(4096, 9), vendor);
    b.AddFile("DCIM/100MEDIA/GONE0003.MTS", Pattern(7000, 6));
    b.AddFolder("OLD");
    b.AddFile("OLD/inner deleted file.txt", Pattern(300, 7));
    b.DeleteEntry("DCIM/100MEDIA/GONE0003.MTS");
    b.DeleteEntry("OLD");
}
constexpr int kRichLiveFiles = 6 + 40 + 50 + 1;
constexpr int kRichLiveFolders = 1 + 2 + 4 + 1; // root, DCIM/100MEDIA, PRIVATE/AVCHD/BDMV/STREAM, MANY

// --- fsck acceptance --------------------------------------------------------------

} // namespace TestSupport::ExFatBuilderTest
