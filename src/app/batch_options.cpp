#include "app/batch_options.hpp"

#include <charconv>
#include <string_view>

#include "base/file_names.hpp"
#include "io/interrupts.hpp"

namespace meshwright {

static_assert(2 * max_jobs <= max_pending_files, "every level's files are removed on an interrupt");

namespace {

// The value of an option given as "-o DIR", "-oDIR", "--output DIR" or
// "--output=DIR": advances `i` past a value in the next argument.
std::optional<std::string_view> value_of(std::string_view argument, std::string_view short_name,
                                         std::string_view long_name, int argc, char** argv, int& i, bool& missing)
{
    if (argument == short_name || argument == long_name) {
        if (i + 1 >= argc) {
            missing = true;
            return std::nullopt;
        }
        return std::string_view(argv[++i]);
    }
    if (argument.size() > 2 && argument.substr(0, 2) == short_name && argument[1] != '-')
        return argument.substr(2);
    if (argument.size() > long_name.size() && argument.substr(0, long_name.size()) == long_name &&
        argument[long_name.size()] == '=')
        return argument.substr(long_name.size() + 1);
    return std::nullopt;
}

std::optional<std::string> take_value(char option, std::string_view value, BatchOptions& options)
{
    switch (option) {
    case 'o':
        options.output = path_from_utf8(std::string(value));
        return std::nullopt;
    case 't':
        options.texture_folders.push_back(path_from_utf8(std::string(value)));
        return std::nullopt;
    case 'f':
        if (value == "glb")
            options.format = BatchFormat::glb;
        else if (value == "gltf")
            options.format = BatchFormat::gltf;
        else if (value == "obj")
            options.format = BatchFormat::obj;
        else
            return "unknown format '" + std::string(value) + "': glb, gltf or obj";
        return std::nullopt;
    default: {
        unsigned jobs = 0;
        const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), jobs);
        if (error != std::errc() || end != value.data() + value.size() || jobs < 1 || jobs > max_jobs)
            return "-j takes a number of levels from 1 to " + std::to_string(max_jobs) + ", not '" +
                   std::string(value) + "'";
        options.jobs = jobs;
        return std::nullopt;
    }
    }
}

} // namespace

std::optional<std::string> scan_batch_options(int argc, char** argv, BatchOptions& options)
{
    struct Named {
        char option;
        std::string_view short_name, long_name;
    };
    static constexpr Named valued[] = {
        {'o', "-o", "--output"}, {'t', "-t", "--textures"}, {'f', "-f", "--format"}, {'j', "-j", "--jobs"}};
    bool options_end = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (options_end || argument == "-" || argument.empty() || argument[0] != '-') {
            options.inputs.push_back(path_from_utf8(std::string(argument)));
            continue;
        }
        if (argument == "--") {
            options_end = true;
            continue;
        }
        if (argument == "-h" || argument == "--help") {
            options.help = true;
            continue;
        }
        if (argument == "--version") {
            options.version = true;
            continue;
        }
        bool known = false;
        for (const Named& named : valued) {
            bool missing = false;
            const std::optional<std::string_view> value =
                value_of(argument, named.short_name, named.long_name, argc, argv, i, missing);
            if (missing)
                return std::string(argument) + " needs a value";
            if (!value)
                continue;
            if (std::optional<std::string> wrong = take_value(named.option, *value, options))
                return wrong;
            known = true;
            break;
        }
        if (!known)
            return "unknown option '" + std::string(argument) + "'";
    }
    if (options.help || options.version)
        return std::nullopt;
    if (options.output.empty())
        return "the output folder is required: -o DIR";
    if (options.inputs.empty())
        return "no level or folder given";
    return std::nullopt;
}

std::vector<std::string> batch_usage()
{
    return {
        "Usage: meshwright-batch [options] LEVEL_OR_FOLDER...",
        "Converts Dravic levels (.bsp), and those in each folder given and its subfolders, to glTF or OBJ.",
        "  -o, --output DIR        where the outputs go (required)",
        "  -t, --textures DIR      also look for bitmaps in DIR and its subfolders (repeatable)",
        "  -f, --format glb|gltf|obj   (default glb)",
        "  -j, --jobs N            levels converted at once (default: the processors; at most " +
            std::to_string(max_jobs) + ")",
        "  -h, --help              this text",
        "      --version           the program's version",
        "Bitmaps (<texture>.bmp) are looked for in the level's own folder, then in each -t folder,",
        "then in each folder given, each with its subfolders: the exact name first, then in any case.",
        "Exit status: 0 when every level converted, 1 when any failed, 2 for a usage error.",
    };
}

const char* output_extension(BatchFormat format)
{
    switch (format) {
    case BatchFormat::glb:
        return ".glb";
    case BatchFormat::gltf:
        return ".gltf";
    default:
        return ".obj";
    }
}

} // namespace meshwright
