#include "app/run.hpp"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>
#include <new>
#include <string_view>

#include "app/console.hpp"
#include "app/outputs.hpp"
#include "app/verbose.hpp"
#include "base/file_names.hpp"
#include "base/messages.hpp"
#include "bsp/bsp_reader.hpp"
#include "io/interrupts.hpp"

namespace meshwright {

namespace {

constexpr int version_major = 0;
constexpr int version_minor = 1;

struct Arguments {
    bool has_input = false;
    std::filesystem::path input_path;
    std::filesystem::path output_path = "default.obj";
};

// "-v" counts anywhere; the first other argument is the input and each later
// one replaces the output, so the last one wins.
Arguments scan_arguments(int argc, char** argv)
{
    Arguments arguments;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "-v") {
            verbose = true;
        } else if (!arguments.has_input) {
            arguments.input_path = path_from_utf8(std::string(argument));
            arguments.has_input = true;
        } else {
            arguments.output_path = path_from_utf8(std::string(argument));
        }
    }
    return arguments;
}

// "-h" and "--help" ask for the usage, unless a file of that name exists:
// then it is a path like any other.
bool asks_for_help(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        std::error_code error;
        if ((argument == "-h" || argument == "--help") &&
            !std::filesystem::exists(path_from_utf8(std::string(argument)), error))
            return true;
    }
    return false;
}

void report(std::string_view message)
{
    console_line(message);
    console_line("");
}

int convert(const Arguments& arguments, std::optional<TextureReport>& textures, const TextureSource* source)
{
    std::unique_ptr<FILE, FileCloser> input(open_file(arguments.input_path, "rb"));
    if (!input) {
        report(messages::unopenable_input);
        return 1;
    }
    const BspData level = load_bsp(input.get(), verbose, console_line);
    input.reset();
    textures = write_outputs(level, arguments.output_path, arguments.input_path, 0, source);
    if (textures)
        console_line(texture_line(*textures, verbose));
    return 0;
}

} // namespace

void print_usage(const std::string& program_name)
{
    console_line("Meshwright v" + std::to_string(version_major) + "." + std::to_string(version_minor) +
                 " built Mar 11 2007");
    console_line("Usage: ");
    console_line("\t" + program_name + " filename [output filename]");
    console_line("where 'filename' is a valid Dravic BSP file");
    console_line("");
}

namespace {

int run_guarded(int argc, char** argv, std::optional<TextureReport>& textures, const TextureSource* source)
{
    try {
        if (argc < 2 || asks_for_help(argc, argv)) {
            print_usage(argc > 0 && argv[0] ? argv[0] : "");
            return 0;
        }
        const Arguments arguments = scan_arguments(argc, argv);
        if (!arguments.has_input) {
            report(messages::missing_input);
            return 1;
        }
        return convert(arguments, textures, source);
    } catch (const char* message) {
        report(std::string(messages::exception_prefix) + message);
    } catch (const std::bad_alloc&) {
        report(std::string(messages::exception_prefix) + messages::out_of_memory);
    } catch (...) {
        // Whatever else fails (the standard library's file functions, for
        // one) ends the run like any other failure, never by terminating.
        report(std::string(messages::exception_prefix) + messages::unexpected_failure);
    }
    return 1;
}

} // namespace

int run(int argc, char** argv, std::optional<TextureReport>* textures, const TextureSource* source)
{
    claim_standard_streams();
    watch_interrupts();
    std::optional<TextureReport> told;
    const int status = run_guarded(argc, argv, told, source);
    if (textures)
        *textures = std::move(told);
    // A report or message that did not reach its reader is a failed run.
    if (console_failed()) {
        console_error(messages::console_unwritable);
        return 1;
    }
    return status;
}

} // namespace meshwright
