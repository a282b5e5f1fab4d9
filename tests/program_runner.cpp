#include "program_runner.hpp"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <stdexcept>

#include <gtest/gtest.h>

#include "base/messages.hpp"

namespace meshwright {

namespace fs = std::filesystem;

RunningProgram::RunningProgram(const TempDir& dir, const std::vector<std::string>& argv, const RunLimits& limits)
    : dir_(dir)
{
    const std::string out_path = capture_.path("stdout");
    const std::string err_path = capture_.path("stderr");
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    child_ = fork();
    if (child_ == 0) {
        const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const rlimit address_space{limits.address_space, limits.address_space};
        const rlimit file_size{limits.file_size, limits.file_size};
        if (limits.file_size != RLIM_INFINITY)
            std::signal(SIGXFSZ, SIG_IGN);
        umask(022);
        if (out < 0 || err < 0 || setrlimit(RLIMIT_AS, &address_space) != 0 ||
            setrlimit(RLIMIT_FSIZE, &file_size) != 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
            chdir(dir.root().c_str()) != 0)
            _exit(127);
        if (limits.user != 0 && geteuid() == 0 && (setgid(limits.user) != 0 || setuid(limits.user) != 0))
            _exit(127);
        execv(MESHWRIGHT_EXE, args.data());
        _exit(127);
    }
    if (child_ < 0)
        throw std::runtime_error("cannot start meshwright");
}

Outcome RunningProgram::finish()
{
    int wait_status = 0;
    if (waitpid(child_, &wait_status, 0) != child_)
        throw std::runtime_error("cannot wait for meshwright");
    Outcome outcome;
    outcome.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
    outcome.out = read_file(capture_.path("stdout"));
    outcome.err = read_file(capture_.path("stderr"));
    outcome.files = folder_contents(dir_.root());
    return outcome;
}

Outcome run_in(const TempDir& dir, const std::vector<std::string>& argv, const RunLimits& limits)
{
    return RunningProgram(dir, argv, limits).finish();
}

std::string message_line(const std::string& message)
{
    return message + "\n\n";
}

std::string exception_line(const std::string& message)
{
    return messages::exception_prefix + message + "\n\n";
}

std::map<std::string, std::string> folder_contents(const fs::path& folder)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_symlink())
            files[name] = "<link to " + fs::read_symlink(entry.path()).string() + ">";
        else if (entry.is_regular_file())
            files[name] = read_file(entry.path().string());
        else if (entry.is_directory())
            files[name] = "<directory>";
        else
            files[name] = "<special file>";
    }
    return files;
}

void PrintTo(const Outcome& outcome, std::ostream* out)
{
    *out << "\n  status " << outcome.status << "\n  stdout " << testing::PrintToString(outcome.out) << "\n  stderr "
         << testing::PrintToString(outcome.err);
    for (const auto& [name, content] : outcome.files) {
        *out << "\n  file " << testing::PrintToString(name) << ": ";
        if (content.size() > 300)
            *out << content.size() << " bytes";
        else
            *out << testing::PrintToString(content);
    }
}

} // namespace meshwright
