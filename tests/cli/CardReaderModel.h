#pragma once
// A card image served through FUSE as a card reader serves a card
// (tests/support/faulty_fuse.py): no page cache, bad ranges, a pause at a
// chosen offset, a card that goes away, and a log of every read request.
#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "CliTestSupport.h"

namespace CliTest {

struct ReadRequest {
    uint64_t offset = 0;
    uint64_t size = 0;
    bool ok = false;
};

class CardReaderModel {
public:
    // `options`: the server's own (--bad START:LENGTH, --pause-at, --vanish-after ...).
    CardReaderModel(const fs::path& image, const fs::path& where, const std::vector<std::string>& options)
        : mountpoint_(where / "mnt"), scratch_(where / "fuse"), log_(where / "reads.log") {
        fs::create_directories(mountpoint_);
        fs::create_directories(scratch_);
        if (!fs::exists("/dev/fuse") || !fs::exists(kPython) || Quietly(kPython, {"-c", "import fusepy"}) != 0)
            return;
        std::vector<std::string> arguments{KALVORY_FAULTY_FUSE, image.string(), mountpoint_.string(), "--read-log",
                                           log_.string()};
        arguments.insert(arguments.end(), options.begin(), options.end());
        server_ = std::make_unique<Child>(kPython, arguments, scratch_);
        for (int i = 0; i < 100 && !Mounted(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ~CardReaderModel() {
        if (Mounted())
            Quietly("/bin/fusermount", {"-u", mountpoint_.string()});
        server_.reset(); // killed if still there
    }
    bool Mounted() const {
        std::error_code error;
        return server_ && fs::exists(mountpoint_ / "card.img", error);
    }
    fs::path Card() const { return mountpoint_ / "card.img"; }
    // Every request served so far, in order (the log of earlier mounts of the same folder included).
    std::vector<ReadRequest> Reads() const {
        std::vector<ReadRequest> reads;
        std::istringstream in(ReadText(log_));
        ReadRequest read;
        for (std::string result; in >> read.offset >> read.size >> result;) {
            read.ok = result == "ok";
            reads.push_back(read);
        }
        return reads;
    }

private:
    static constexpr const char* kPython = "/usr/bin/python3";
    int Quietly(const std::string& program, const std::vector<std::string>& arguments) const {
        Child child(program, arguments, scratch_);
        return child.Finish().exitCode;
    }
    fs::path mountpoint_;
    fs::path scratch_;
    fs::path log_;
    std::unique_ptr<Child> server_;
};

inline bool WaitForFile(const fs::path& file) {
    for (int i = 0; i < 500 && !fs::exists(file); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return fs::exists(file);
}

} // namespace CliTest
