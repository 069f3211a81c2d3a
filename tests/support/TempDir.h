#pragma once
// A scratch folder under $TMPDIR (or /tmp) that is removed with everything in it
// when the object goes away.
#include <filesystem>
#include <string>

namespace TestSupport {

class TempDir {
public:
    explicit TempDir(const std::string& tag = "kalvory");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// Whole-file helpers for tests.
std::string ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes);

} // namespace TestSupport
