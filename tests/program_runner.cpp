#include "program_runner.hpp"

#if defined(_WIN32)
#include "base/windows.hpp"
#else
#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <thread>
#endif
#include <algorithm>
#include <cstdlib>
#include <stdexcept>

#include <gtest/gtest.h>

#include "base/messages.hpp"

namespace meshwright {

namespace fs = std::filesystem;

#if defined(_WIN32)

bool strace_available()
{
    return false;
}

namespace {

std::wstring wide(const std::string& utf8)
{
    return u8path(utf8).wstring();
}

// Quotes one argument so that the C runtime's command-line parser gives it
// back unchanged.
std::wstring quoted(const std::wstring& argument)
{
    std::wstring text = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        text.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        text += c;
    }
    text.append(2 * backslashes, L'\\');
    return text + L"\"";
}

HANDLE inheritable_file(const std::string& path)
{
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    return CreateFileW(wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string without_carriage_returns(std::string text)
{
    std::string::size_type at = 0;
    while ((at = text.find("\r\n", at)) != std::string::npos)
        text.erase(at, 1);
    return text;
}

} // namespace

RunningProgram::RunningProgram(const TempDir& dir, const std::vector<std::string>& argv, const RunOptions& options)
    : dir_(dir)
{
    std::wstring command_line;
    for (const std::string& argument : argv)
        command_line += (command_line.empty() ? L"" : L" ") + quoted(wide(argument));
    const HANDLE out = inheritable_file(capture_.path("stdout"));
    const HANDLE err = inheritable_file(capture_.path("stderr"));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessW(wide(options.program ? options.program : MESHWRIGHT_EXE).c_str(), command_line.data(), nullptr, nullptr, TRUE, 0,
                                        nullptr, dir.root().wstring().c_str(), &startup, &process);
    CloseHandle(out);
    CloseHandle(err);
    if (!started)
        throw std::runtime_error("cannot start meshwright");
    CloseHandle(process.hThread);
    child_ = reinterpret_cast<intptr_t>(process.hProcess);
}

bool RunningProgram::ends_within(double seconds)
{
    const HANDLE process = reinterpret_cast<HANDLE>(child_);
    if (WaitForSingleObject(process, static_cast<DWORD>(seconds * 1000)) == WAIT_OBJECT_0)
        return true;
    TerminateProcess(process, 1);
    return false;
}

Outcome RunningProgram::finish()
{
    const HANDLE process = reinterpret_cast<HANDLE>(child_);
    DWORD status = 0;
    if (WaitForSingleObject(process, INFINITE) != WAIT_OBJECT_0 || !GetExitCodeProcess(process, &status))
        throw std::runtime_error("cannot wait for meshwright");
    CloseHandle(process);
    Outcome outcome;
    outcome.status = static_cast<int>(status);
    outcome.out = without_carriage_returns(read_file(capture_.path("stdout")));
    outcome.err = without_carriage_returns(read_file(capture_.path("stderr")));
    outcome.files = folder_contents(dir_.root());
    return outcome;
}

#else

namespace {

constexpr const char* strace_program = "/usr/bin/strace";

} // namespace

bool strace_available()
{
    static const bool available = [] {
        if (access(strace_program, X_OK) != 0)
            return false;
        const TempDir dir;
        const std::string command =
            std::string(strace_program) + " -qq -o '" + dir.path("probe.log") + "' -e trace=none true";
        return std::system(command.c_str()) == 0;
    }();
    return available;
}

RunningProgram::RunningProgram(const TempDir& dir, const std::vector<std::string>& argv, const RunOptions& options)
    : dir_(dir)
{
    const std::string out_path = capture_.path("stdout");
    const std::string err_path = capture_.path("stderr");
    const std::string strace_log = capture_.path("strace.log");
    std::vector<std::string> command;
    if (!options.strace.empty()) {
        command = {strace_program, "-qq", "-o", strace_log};
        command.insert(command.end(), options.strace.begin(), options.strace.end());
        command.push_back(options.program ? options.program : MESHWRIGHT_EXE);
        command.insert(command.end(), argv.begin() + std::min<size_t>(1, argv.size()), argv.end());
    }
    const std::vector<std::string>& arguments = options.strace.empty() ? argv : command;
    std::vector<char*> args;
    for (const std::string& arg : arguments)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    const std::vector<gid_t> groups(options.groups.begin(), options.groups.end());
    // LeakSanitizer cannot look at a process that strace traces.
    std::vector<std::string> environment;
    if (!options.strace.empty())
        environment.emplace_back("ASAN_OPTIONS=detect_leaks=0"); // the first of a name counts
    for (char** variable = environ; *variable; ++variable)
        environment.emplace_back(*variable);
    std::vector<char*> envp;
    for (std::string& variable : environment)
        envp.push_back(variable.data());
    envp.push_back(nullptr);
    child_ = fork();
    if (child_ == 0) {
        const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const auto limit_of = [](uint64_t value) { return value == RunOptions::unlimited ? RLIM_INFINITY : value; };
        const rlimit address_space{limit_of(options.address_space), limit_of(options.address_space)};
        const rlimit file_size{limit_of(options.file_size), limit_of(options.file_size)};
        umask(022);
        if (out < 0 || err < 0 || setrlimit(RLIMIT_AS, &address_space) != 0 ||
            setrlimit(RLIMIT_FSIZE, &file_size) != 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
            chdir(dir.root().c_str()) != 0)
            _exit(127);
        int pipe_ends[2];
        if (options.stdout_file == "-")
            close(1);
        else if (options.stdout_file == "|" && (pipe(pipe_ends) != 0 || dup2(pipe_ends[1], 1) < 0 || close(pipe_ends[0]) != 0))
            _exit(127);
        else if (options.stdout_file != "|" && !options.stdout_file.empty() && dup2(open(options.stdout_file.c_str(), O_WRONLY), 1) < 0)
            _exit(127);
        for (int signal_number : options.ignored_signals)
            signal(signal_number, SIG_IGN);
        if (options.user != 0 && geteuid() == 0 &&
            (setgroups(groups.size(), groups.data()) != 0 || setgid(options.user) != 0 || setuid(options.user) != 0))
            _exit(127);
        const char* program = options.program ? options.program : MESHWRIGHT_EXE;
        execve(options.strace.empty() ? program : strace_program, args.data(), envp.data());
        _exit(127);
    }
    if (child_ < 0)
        throw std::runtime_error("cannot start meshwright");
}

bool RunningProgram::ends_within(double seconds)
{
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < give_up) {
        siginfo_t info{};
        if (waitid(P_PID, static_cast<id_t>(child_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid != 0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(static_cast<pid_t>(child_), SIGKILL);
    return false;
}

Outcome RunningProgram::finish()
{
    int wait_status = 0;
    if (waitpid(static_cast<pid_t>(child_), &wait_status, 0) != child_)
        throw std::runtime_error("cannot wait for meshwright");
    Outcome outcome;
    outcome.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
    // A run killed before it started has no captured output.
    const auto captured = [&](const char* name) {
        return fs::exists(capture_.path(name)) ? read_file(capture_.path(name)) : "";
    };
    outcome.out = captured("stdout");
    outcome.err = captured("stderr");
    outcome.files = folder_contents(dir_.root());
    return outcome;
}

#endif

std::string RunningProgram::trace() const
{
    const std::string log = capture_.path("strace.log");
    return fs::exists(log) ? read_file(log) : "";
}

Outcome run_in(const TempDir& dir, const std::vector<std::string>& argv, const RunOptions& limits)
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
        const std::string name = u8name(entry.path().filename());
        if (entry.is_symlink())
            files[name] = "<link to " + u8name(fs::read_symlink(entry.path())) + ">";
        else if (entry.is_regular_file())
            files[name] = read_file(u8name(entry.path()));
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
