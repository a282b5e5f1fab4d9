#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "temp_dir.hpp"

namespace meshwright {

// Runs the built meshwright executable as its own process and collects what
// it printed, its status and every file it left in its folder. Console text
// is compared with "\n" line ends: on Windows, where the console's text mode
// writes "\r\n", these are turned back.

struct Outcome {
    std::string out;
    std::string err;
    int status = -1;                          // exit status, or 128 + the signal that ended it
    std::map<std::string, std::string> files; // every file in the folder afterwards

    bool operator==(const Outcome&) const = default;
};

// Prints an outcome readably when a comparison fails.
void PrintTo(const Outcome& outcome, std::ostream* out);

// Limits and surroundings for a run on Linux; Windows has none of them, and
// its tests that need them are skipped.
struct RunOptions {
    static constexpr uint64_t unlimited = ~uint64_t{0};
    uint64_t address_space = unlimited;
    // A small limit stands in for a full disk.
    uint64_t file_size = unlimited;
    // When the tests run as root: the user to run as instead, so that folder
    // permissions apply (0 keeps root), and the groups it belongs to besides
    // its own.
    unsigned user = 0;
    std::vector<unsigned> groups = {};
    // Runs the program under strace with these options (for example
    // "-e", "inject=flock:signal=SIGTERM"), to stop it at a chosen system
    // call; see strace_available().
    std::vector<std::string> strace = {};
    // Standard output goes to this file in the run's folder instead of being
    // collected; "-" closes it, "|" makes it a pipe that nobody reads.
    std::string stdout_file = {};
    // Signals the program starts with ignored, as under nohup.
    std::vector<int> ignored_signals = {};
    // The program to run, if not meshwright (meshwright-batch).
    const char* program = nullptr;
};

// A started run; finish() waits for it and collects the outcome.
class RunningProgram {
  public:
    RunningProgram(const TempDir& dir, const std::vector<std::string>& argv, const RunOptions& limits = {});
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    // The process id, for signals (Linux).
    intptr_t pid() const { return child_; }
    Outcome finish();
    // What strace wrote, when it ran the program.
    std::string trace() const;
    // Whether the run ends within `seconds`; one that does not is killed
    // (Linux).
    bool ends_within(double seconds);

  private:
    const TempDir& dir_;
    TempDir capture_;
    intptr_t child_ = -1; // the process id on Linux, its handle on Windows
};

// Whether strace can run the program here (Linux, strace installed, tracing
// allowed).
bool strace_available();

// Runs meshwright in `dir` with `argv` exactly as given (element 0 included;
// an empty vector gives the program no arguments at all).
Outcome run_in(const TempDir& dir, const std::vector<std::string>& argv, const RunOptions& limits = {});

// A message of the driver's own as printed: the text and two line ends.
std::string message_line(const std::string& message);

// A message text thrown inside the program, as the driver prints it.
std::string exception_line(const std::string& message);

// Reads every regular file of a folder, by name; "<directory>" and so on for
// the other kinds.
std::map<std::string, std::string> folder_contents(const std::filesystem::path& folder);

} // namespace meshwright
