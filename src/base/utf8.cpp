#include "base/utf8.hpp"

namespace meshwright {

namespace {

// The range of the byte after a lead byte in valid UTF-8; the bytes after
// that one are 0x80 to 0xBF.
struct Lead {
    int length; // 0: no lead byte
    unsigned char second_low;
    unsigned char second_high;
};

Lead lead_of(unsigned char byte)
{
    if (byte >= 0xC2 && byte <= 0xDF)
        return {2, 0x80, 0xBF};
    if (byte == 0xE0)
        return {3, 0xA0, 0xBF};
    if (byte == 0xED)
        return {3, 0x80, 0x9F};
    if (byte >= 0xE1 && byte <= 0xEF)
        return {3, 0x80, 0xBF};
    if (byte == 0xF0)
        return {4, 0x90, 0xBF};
    if (byte >= 0xF1 && byte <= 0xF3)
        return {4, 0x80, 0xBF};
    if (byte == 0xF4)
        return {4, 0x80, 0x8F};
    return {0, 0, 0};
}

} // namespace

int utf8_character_length(std::string_view text, size_t at)
{
    const auto byte = static_cast<unsigned char>(text[at]);
    if (byte < 0x80)
        return 1;
    const Lead lead = lead_of(byte);
    if (lead.length == 0)
        return -1;
    for (int i = 1; i < lead.length; ++i) {
        if (at + i >= text.size())
            return -i;
        const auto next = static_cast<unsigned char>(text[at + i]);
        const unsigned char low = i == 1 ? lead.second_low : 0x80;
        const unsigned char high = i == 1 ? lead.second_high : 0xBF;
        if (next < low || next > high)
            return -i;
    }
    return lead.length;
}

bool is_utf8(std::string_view text)
{
    for (size_t at = 0; at < text.size();) {
        const int length = utf8_character_length(text, at);
        if (length < 0)
            return false;
        at += static_cast<size_t>(length);
    }
    return true;
}

} // namespace meshwright
