#include "bitmap/bitmap_lookup.hpp"

#include <algorithm>

#include "bitmap/texture_files.hpp"

namespace meshwright {

namespace {

std::vector<std::string> path_parts(const std::string& path)
{
    std::vector<std::string> parts(1);
    for (char c : path) {
        if (c == '/')
            parts.emplace_back();
        else
            parts.back() += c;
    }
    return parts;
}

bool equal_but_for_case(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && lower_ascii(a) == lower_ascii(b);
}

// Whether the file's last parts are the wanted ones, byte for byte or but
// for case.
bool ends_with_parts(const std::vector<std::string>& file, const std::vector<std::string>& wanted, bool exact)
{
    if (file.size() < wanted.size())
        return false;
    const size_t skipped = file.size() - wanted.size();
    for (size_t i = 0; i < wanted.size(); ++i) {
        const std::string& part = file[skipped + i];
        if (exact ? part != wanted[i] : !equal_but_for_case(part, wanted[i]))
            return false;
    }
    return true;
}

} // namespace

std::vector<std::string> texture_name_parts(std::string_view name)
{
    std::vector<std::string> parts(1);
    for (char c : name) {
        if (c == '/' || c == '\\')
            parts.emplace_back();
        else
            parts.back() += c;
    }
    return parts;
}

std::string lower_ascii(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

BitmapLookup::BitmapLookup(std::vector<BitmapTree> trees) : trees_(std::move(trees))
{
    for (size_t t = 0; t < trees_.size(); ++t) {
        for (size_t f = 0; f < trees_[t].files.size(); ++f) {
            const std::string& path = trees_[t].files[f];
            by_file_name_[lower_ascii(path.substr(path.rfind('/') + 1))].emplace_back(static_cast<uint32_t>(t),
                                                                                       static_cast<uint32_t>(f));
        }
    }
}

std::optional<BitmapFound> BitmapLookup::find(std::string_view name) const
{
    if (!names_texture_inside(name))
        return std::nullopt;
    std::vector<std::string> wanted = texture_name_parts(name);
    wanted.back() += ".bmp";
    const auto files = by_file_name_.find(lower_ascii(wanted.back()));
    if (files == by_file_name_.end())
        return std::nullopt;
    // Files come tree by tree, in the trees' order.
    for (size_t begin = 0; begin < files->second.size();) {
        const uint32_t tree = files->second[begin].first;
        size_t end = begin;
        while (end < files->second.size() && files->second[end].first == tree)
            ++end;
        for (bool exact : {true, false}) {
            std::vector<std::pair<size_t, std::string>> candidates; // (parts, path)
            for (size_t i = begin; i < end; ++i) {
                const std::string& path = trees_[tree].files[files->second[i].second];
                const std::vector<std::string> parts = path_parts(path);
                if (ends_with_parts(parts, wanted, exact))
                    candidates.emplace_back(parts.size(), path);
            }
            if (candidates.empty())
                continue;
            std::sort(candidates.begin(), candidates.end());
            BitmapFound found{tree, candidates.front().second, {}};
            for (size_t c = 1; c < candidates.size(); ++c)
                found.others.push_back(candidates[c].second);
            return found;
        }
        begin = end;
    }
    return std::nullopt;
}

} // namespace meshwright
