// Logging set-up is process-wide and happens once, so every test that sets it
// up does so in a child process of its own, with TMPDIR pointing to a fresh
// folder; the parent checks the child's standard output, standard error and
// the log files.
#include "core/Logging.h"

#include <gtest/gtest.h>

#include <boost/filesystem.hpp>
#include <boost/log/core.hpp>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <functional>
#include <sstream>

namespace tarnix {
namespace {

namespace fs = boost::filesystem;
using logging::severity_level;

std::string readFile(const fs::path& path) {
    std::ifstream in(path.string(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

struct ChildResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// A fresh folder that is removed again with everything in it.
class TempFolder {
public:
    TempFolder() : path_(fs::temp_directory_path() / fs::unique_path("qvlogtest-%%%%-%%%%-%%%%")) {
        fs::create_directories(path_);
    }
    ~TempFolder() {
        boost::system::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

// Runs body in a child process with TMPDIR set to tmpdir; the body's result is
// the child's exit code.
ChildResult runInChild(const fs::path& tmpdir, const std::function<int()>& body) {
    TempFolder capture;
    const fs::path outFile = capture.path() / "stdout", errFile = capture.path() / "stderr";
    std::cout.flush();
    std::cerr.flush();
    const pid_t pid = fork();
    if (pid == 0) {
        const int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        setenv("TMPDIR", tmpdir.c_str(), 1);
        int code = 99;
        try {
            code = body();
        } catch (...) {
            code = 98;
        }
        boost::log::core::get()->flush();
        std::cout.flush();
        std::clog.flush();
        _exit(code);
    }
    ChildResult result;
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    result.out = readFile(outFile);
    result.err = readFile(errFile);
    return result;
}

// Whether text starts with the shape: '9' stands for any digit, every other
// character for itself.
bool startsWithShape(const std::string& text, const std::string& shape) {
    if (text.size() < shape.size()) return false;
    for (std::size_t i = 0; i < shape.size(); ++i) {
        const bool ok = shape[i] == '9' ? std::isdigit(static_cast<unsigned char>(text[i])) != 0 : text[i] == shape[i];
        if (!ok) return false;
    }
    return true;
}

// The fields of a record line after its time stamp: "[thread] [number] [severity] message".
struct RecordFields {
    std::string thread, number, severity, message;
};

bool splitRecord(const std::string& rest, RecordFields& fields) {
    std::string* targets[] = {&fields.thread, &fields.number, &fields.severity};
    std::size_t pos = 0;
    for (std::string* target : targets) {
        if (rest.compare(pos, 2, " [") != 0) return false;
        const std::size_t close = rest.find(']', pos + 2);
        if (close == std::string::npos) return false;
        *target = rest.substr(pos + 2, close - pos - 2);
        pos = close + 1;
    }
    if (rest.compare(pos, 1, " ") != 0) return false;
    fields.message = rest.substr(pos + 1);
    return !fields.thread.empty() &&
           fields.thread.find_first_not_of("0123456789abcdef") == std::string::npos;
}

std::vector<fs::path> logFiles(const fs::path& dir, const std::string& program) {
    std::vector<fs::path> files;
    const std::string shape = program + "_99999999_99999.log";
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (name.size() == shape.size() && startsWithShape(name, shape)) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

int fileNumber(const fs::path& file) {
    const std::string stem = file.stem().string();
    return std::stoi(stem.substr(stem.size() - 5));
}

TEST(LoggingTest, RecordFormatOnBothSinks) {
    TempFolder tmp;
    const ChildResult child = runInChild(tmp.path(), [] {
        if (!logging::initLogging("fmtprobe")) return 1;
        QVLOG(logging::warning) << "first " << 1;
        QVLOG(logging::debug) << "below the threshold";
        QVLOG(static_cast<severity_level>(7)) << "beyond the names";
        QVLOG(logging::status) << "last";
        return 0;
    });
    ASSERT_EQ(0, child.exitCode) << child.out << child.err;
    const fs::path dir = tmp.path() / "fmtprobeLog";
    EXPECT_EQ("Will log to directory '" + dir.string() + "'\n", child.out);
    EXPECT_TRUE(fs::exists(dir / "fmtprobeLog.log"));

    const auto files = logFiles(dir, "fmtprobe");
    ASSERT_EQ(1u, files.size());

    const struct {
        const char* sink;
        std::string text;
        std::string timeShape;
    } sinks[] = {{"console", child.err, "99:99.99.999999"}, {"file", readFile(files[0]), "9999-99-99 99:99.99.999999"}};
    const std::vector<std::vector<std::string>> expected = {
        {"0", "warning", "first 1"}, {"1", "7", "beyond the names"}, {"2", "status", "last"}};
    std::string threadId;
    for (const auto& sink : sinks) {
        const auto got = lines(sink.text);
        ASSERT_EQ(expected.size(), got.size()) << sink.sink << ":\n" << sink.text;
        for (std::size_t i = 0; i < got.size(); ++i) {
            RecordFields fields;
            ASSERT_TRUE(startsWithShape(got[i], sink.timeShape)) << sink.sink << ": " << got[i];
            ASSERT_TRUE(splitRecord(got[i].substr(sink.timeShape.size()), fields)) << sink.sink << ": " << got[i];
            EXPECT_EQ(expected[i], (std::vector<std::string>{fields.number, fields.severity, fields.message}))
                << sink.sink << ": " << got[i];
            if (threadId.empty()) threadId = fields.thread;
            EXPECT_EQ(threadId, fields.thread) << sink.sink;
        }
    }
}

TEST(LoggingTest, RotatesAt102400BytesAndNumberingContinuesAcrossRuns) {
    TempFolder tmp;
    const std::string filler(200, 'x');
    auto run = [&] {
        return runInChild(tmp.path(), [&] {
            logging::initLogging("rotprobe");
            for (int i = 0; i < 1000; ++i) QVLOG(logging::error) << filler;  // about 250 KB
            return 0;
        });
    };
    ASSERT_EQ(0, run().exitCode);
    const fs::path dir = tmp.path() / "rotprobeLog";
    auto files = logFiles(dir, "rotprobe");
    ASSERT_EQ(3u, files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(int(i), fileNumber(files[i]));
        EXPECT_LE(fs::file_size(files[i]), 102400u) << files[i];
    }
    EXPECT_GT(fs::file_size(files[0]), 102400u - 400);

    ASSERT_EQ(0, run().exitCode);
    files = logFiles(dir, "rotprobe");
    ASSERT_EQ(6u, files.size());
    for (std::size_t i = 0; i < files.size(); ++i) EXPECT_EQ(int(i), fileNumber(files[i]));
    // The new run starts again with record number 0, in file 3.
    EXPECT_NE(std::string::npos, readFile(files[3]).find("] [0] [error] " + filler));
}

TEST(LoggingTest, UnusableLogDirectoryLeavesConsoleLogging) {
    const struct {
        const char* what;
        std::function<void(const fs::path& tmpdir, const fs::path& workdir)> prepare;
        std::function<std::string(const fs::path& tmpdir, const fs::path& workdir)> expectedOut;
    } cases[] = {
        {"probe file cannot be written",
         [](const fs::path& tmpdir, const fs::path&) { fs::create_directories(tmpdir / "dirprobeLog" / "dirprobeLog.log"); },
         [](const fs::path& tmpdir, const fs::path&) {
             return "Warning: Could not access directory '" + (tmpdir / "dirprobeLog").string() +
                    "'. Will not be able to create the log file.\n";
         }},
        {"neither temporary nor working directory usable",
         [](const fs::path& tmpdir, const fs::path& workdir) {
             std::ofstream(tmpdir.string() + "/dirprobeLog");  // a file where the directory belongs
             std::ofstream((workdir / "dirprobeLog").string());
         },
         [](const fs::path& tmpdir, const fs::path& workdir) {
             return "Warning: Could not get create directory '" + (tmpdir / "dirprobeLog").string() +
                    "'. Will try to log into the local directory.\n"
                    "Warning: Could not get create directory '" +
                    (workdir / "dirprobeLog").string() + "'. Will not be able to create the log file.\n";
         }},
    };
    for (const auto& c : cases) {
        TempFolder tmp, work;
        c.prepare(tmp.path(), work.path());
        const fs::path workdir = work.path();
        const ChildResult child = runInChild(tmp.path(), [&] {
            if (chdir(workdir.c_str()) != 0) return 2;
            const bool ok = logging::initLogging("dirprobe");
            QVLOG(logging::error) << "still logging";
            return ok ? 0 : 1;
        });
        EXPECT_EQ(0, child.exitCode) << c.what;
        EXPECT_EQ(c.expectedOut(tmp.path(), work.path()), child.out) << c.what;
        EXPECT_NE(std::string::npos, child.err.find("[0] [error] still logging")) << c.what << child.err;
    }
}

TEST(LoggingTest, MissingTemporaryDirectoryFallsBackToWorkingDirectory) {
    TempFolder work;
    const fs::path missing = work.path() / "no-such-dir";
    const fs::path workdir = work.path();
    const ChildResult child = runInChild(missing, [&] {
        if (chdir(workdir.c_str()) != 0) return 2;
        logging::initLogging("cwdprobe");
        QVLOG(logging::warning) << "in the working directory";
        return 0;
    });
    ASSERT_EQ(0, child.exitCode);
    EXPECT_EQ("Warning: Could not get create directory '" + (missing / "cwdprobeLog").string() +
                  "'. Will try to log into the local directory.\n"
                  "Will log to directory '" +
                  (workdir / "cwdprobeLog").string() + "'\n",
              child.out);
    const auto files = logFiles(workdir / "cwdprobeLog", "cwdprobe");
    ASSERT_EQ(1u, files.size());
    EXPECT_NE(std::string::npos, readFile(files[0]).find("[warning] in the working directory"));
}

TEST(LoggingTest, FailingLogFileNeverThrowsIntoTheProgram) {
    TempFolder tmp;
    const fs::path dir = tmp.path() / "failprobeLog";
    const ChildResult child = runInChild(tmp.path(), [&] {
        logging::initLogging("failprobe");
        // The file is opened with the first record: make that impossible.
        fs::remove_all(dir);
        std::ofstream(dir.string()) << "not a directory";
        QVLOG(logging::error) << "survives";
        return 0;
    });
    EXPECT_EQ(0, child.exitCode);
    EXPECT_NE(std::string::npos, child.err.find("[0] [error] survives")) << child.err;
}

TEST(LoggingTest, SecondInitAddsNoSinks) {
    TempFolder tmp;
    const ChildResult child = runInChild(tmp.path(), [] {
        const bool first = logging::initLogging("twiceprobe");
        const bool second = logging::initLogging("twiceprobe");
        QVLOG(logging::fatal) << "once";
        return first && second ? 0 : 1;
    });
    ASSERT_EQ(0, child.exitCode);
    EXPECT_EQ(1u, lines(child.err).size()) << child.err;
    const auto files = logFiles(tmp.path() / "twiceprobeLog", "twiceprobe");
    ASSERT_EQ(1u, files.size());
    EXPECT_EQ(1u, lines(readFile(files[0])).size());
}

TEST(LoggingTest, SetLogLevelClampsOnlyAboveStatus) {
    const struct {
        int requested;
        int stored;
    } cases[] = {{9, 6}, {6, 6}, {3, 3}, {0, 0}, {-5, -5}};
    const int saved = logging::logLevel();
    for (const auto& c : cases) {
        logging::setLogLevel(c.requested);
        EXPECT_EQ(c.stored, logging::logLevel()) << c.requested;
    }
    logging::setLogLevel(9);
    EXPECT_FALSE(logging::severityFilter(logging::fatal));
    EXPECT_TRUE(logging::severityFilter(logging::status));
    logging::setLogLevel(-5);
    EXPECT_TRUE(logging::severityFilter(logging::trace));
    logging::setLogLevel(saved);
}

TEST(LoggingTest, RecordsBelowThresholdAreNotFormatted) {
    int formatted = 0;
    auto expensive = [&] {
        ++formatted;
        return "text";
    };
    QVLOG(logging::debug) << expensive();  // default threshold 3
    EXPECT_EQ(0, formatted);
}

TEST(LoggingTest, SeverityNames) {
    std::ostringstream out;
    for (int s = -1; s <= 7; ++s) out << static_cast<severity_level>(s) << ' ';
    EXPECT_EQ("-1 trace info debug warning error fatal status 7 ", out.str());
}

}  // namespace
}  // namespace tarnix
