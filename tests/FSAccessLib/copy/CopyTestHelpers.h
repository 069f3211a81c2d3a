#pragma once
// A card image in a scratch folder, opened as the copy command's source.
#include <filesystem>
#include <memory>
#include <string>

#include "AAA_FileStream.h"
#include "support/TempDir.h"

namespace FSAccessTest {

struct CopyScene {
    explicit CopyScene(const std::string& image) {
        imagePath = temp / "card.img";
        TestSupport::WriteFileBytes(imagePath, image);
        std::filesystem::create_directory(temp / "out");
        source = std::make_unique<Restore::ProgressFileStream>(AAA::FromUtf8(imagePath.string()),
                                                               AAA::OpenMode::OpenExisting, AAA::OpenAccess::Read);
    }
    std::filesystem::path Out() const { return temp.Path() / "out"; }
    AAA::WString Destination() const { return AAA::FromUtf8(Out().string()); }

    TestSupport::TempDir temp{"kalvory-copy"};
    std::filesystem::path imagePath;
    std::unique_ptr<Restore::ProgressFileStream> source;
};

// 4096 bytes whose value tells their offset.
inline std::string PatternImage(size_t size = 4096) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
    return bytes;
}

} // namespace FSAccessTest
