#pragma once
// Runs the built kalvory binary (and the sample-card writer) as a child process
// with the English texts, capturing its exit code, standard output and error.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "AAA_StringTable.h"

namespace CliTest {

namespace fs = std::filesystem;

struct Outcome {
    int exitCode = -1;
    std::string out;
    std::string err;
};

inline std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A started child whose output goes to two files in `scratch`.
class Child {
public:
    // `asUser`: the user id the child runs as (root's tests can act as a plain user).
    Child(const std::string& program, const std::vector<std::string>& arguments, const fs::path& scratch,
          int asUser = -1)
        : outPath_(scratch / "child.out"), errPath_(scratch / "child.err") {
        std::vector<std::string> argv{program};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        pid_ = ::fork();
        if (pid_ == 0) {
            std::vector<char*> raw;
            for (std::string& text : argv)
                raw.push_back(text.data());
            raw.push_back(nullptr);
            if (!std::freopen(outPath_.c_str(), "w", stdout) || !std::freopen(errPath_.c_str(), "w", stderr))
                ::_exit(126);
            ::setenv("LC_ALL", "C", 1);
            if (asUser >= 0 && (::setgid(static_cast<gid_t>(asUser)) != 0 || ::setuid(static_cast<uid_t>(asUser)) != 0))
                ::_exit(125);
            ::execv(program.c_str(), raw.data());
            ::_exit(127);
        }
    }
    ~Child() {
        if (pid_ > 0 && !reaped_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t Pid() const { return pid_; }
    std::string ErrSoFar() const { return ReadText(errPath_); }
    // Waits for the child; a signal death reads as 128 + the signal.
    Outcome Finish() {
        int status = 0;
        ::waitpid(pid_, &status, 0);
        reaped_ = true;
        Outcome outcome;
        outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        outcome.out = ReadText(outPath_);
        outcome.err = ReadText(errPath_);
        return outcome;
    }

private:
    fs::path outPath_;
    fs::path errPath_;
    pid_t pid_ = -1;
    bool reaped_ = false;
};

// Every file a recovery left under `root`, by relative path, its reports left
// out (the report tests look at those).
inline std::map<std::string, std::string> RecoveredFilesUnder(const fs::path& root) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string path = fs::relative(entry.path(), root).generic_string();
        if (entry.is_regular_file() && path.rfind("kalvory-report", 0) != 0)
            files[path] = ReadText(entry.path());
    }
    return files;
}

// The line `recover` ends with.
inline std::string ReportLine(const fs::path& report) { return "The recovery report is " + report.string() + "\n"; }

inline Outcome RunKalvory(const std::vector<std::string>& arguments, const fs::path& scratch) {
    Child child(KALVORY_BINARY, arguments, scratch);
    return child.Finish();
}

inline fs::path WriteSampleCard(const fs::path& image, const fs::path& scratch) {
    Child writer(KALVORY_SAMPLE_WRITER, {image.string()}, scratch);
    const Outcome outcome = writer.Finish();
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    return image;
}

// The English text of a message on one line, as the binary prints it after "kalvory: ".
inline std::string Message(int id) {
    const std::string text = AAA::ToUtf8(AAA::LoadString(id, AAA::Language::English));
    std::string line = "kalvory: ";
    for (size_t at = 0; at < text.size(); ++at) {
        if (text[at] != '\n')
            line += text[at];
        else if (at + 1 >= text.size() || text[at + 1] != '\n')
            line += ' '; // a blank line counts as one break
    }
    return line + "\n";
}

} // namespace CliTest
