#include "RecoveredFiles.h"

#include <cstdio>

namespace KalvoryCli {
namespace fs = std::filesystem;

namespace {
template <class Visit>
void ForEachFile(const fs::path& root, Visit visit) {
    std::error_code error;
    for (fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, error), end;
         !error && it != end; it.increment(error)) {
        if (it->is_regular_file(error) && !it->is_symlink(error))
            visit(*it);
    }
}
} // namespace

RecoveredFiles::RecoveredFiles(fs::path destination) : destination_(std::move(destination)) {
    ForEachFile(destination_, [&](const fs::directory_entry& entry) { before_.insert(entry.path()); });
}

void RecoveredFiles::Measure() {
    files_ = bytes_ = 0;
    ForEachFile(destination_, [&](const fs::directory_entry& entry) {
        if (before_.count(entry.path()))
            return;
        std::error_code error;
        ++files_;
        bytes_ += entry.file_size(error);
    });
}

std::string HumanBytes(uint64_t bytes) {
    static const char* const kUnits[] = {"bytes", "KiB", "MiB", "GiB", "TiB"};
    double value = static_cast<double>(bytes);
    size_t unit = 0;
    while (value >= 1024 && unit + 1 < std::size(kUnits)) {
        value /= 1024;
        ++unit;
    }
    char text[48];
    if (unit == 0)
        std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
    else
        std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
    return text;
}

} // namespace KalvoryCli
