// Bitmaps as levels' textures come: every kind decodes to its picture, PNG
// images hold the very same pixels, and files that are cut short, claim too
// much or lie about themselves decode to nothing, without reading past what
// they hold.
#include <cstring>
#include <chrono>
#include <thread>
#include <mutex>
#include <filesystem>
#include <fstream>

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include "app/bitmap_cache.hpp"
#include "app/textures.hpp"
#include "bitmap/bitmap.hpp"
#include "bitmap/bitmap_lookup.hpp"
#include "bitmap/texture_files.hpp"
#include "bitmap_builder.hpp"
#include "level_builder.hpp"
#include "temp_dir.hpp"

#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#include <stb_image.h>

namespace meshwright {

namespace {

namespace fs = std::filesystem;

// The pixels a reader must get: RGB, or RGBA where the picture has alpha.
Bitmap expected_bitmap(const Picture& picture, bool alpha)
{
    Bitmap bitmap;
    bitmap.width = picture.width;
    bitmap.height = picture.height;
    bitmap.alpha = alpha;
    for (const Rgba& pixel : picture.pixels)
        bitmap.pixels.insert(bitmap.pixels.end(), pixel.begin(), pixel.begin() + bitmap.channels());
    return bitmap;
}

void expect_same(const Bitmap& actual, const Bitmap& expected)
{
    EXPECT_EQ(actual.width, expected.width);
    EXPECT_EQ(actual.height, expected.height);
    EXPECT_EQ(actual.alpha, expected.alpha);
    EXPECT_TRUE(actual.pixels == expected.pixels) << "pixels differ";
}

// The PNG's pixels, decoded by an independent PNG reader.
Bitmap decoded_png(const std::vector<uint8_t>& png, bool alpha)
{
    int width = 0;
    int height = 0;
    int channels = 0;
    stbi_uc* pixels = stbi_load_from_memory(png.data(), static_cast<int>(png.size()), &width, &height, &channels, 0);
    Bitmap bitmap;
    if (!pixels)
        return bitmap;
    bitmap.width = static_cast<uint32_t>(width);
    bitmap.height = static_cast<uint32_t>(height);
    bitmap.alpha = channels == 4;
    EXPECT_EQ(channels, alpha ? 4 : 3);
    bitmap.pixels.assign(pixels, pixels + width * height * channels);
    stbi_image_free(pixels);
    return bitmap;
}

// Whether the PNG's zlib stream ends in the Adler-32 check of what it holds,
// which PNG readers that verify it (libpng, zlib itself) require.
bool zlib_check_holds(const std::vector<uint8_t>& png)
{
    std::vector<uint8_t> stream;
    for (size_t at = 8; at + 12 <= png.size();) {
        const uint32_t length = uint32_t{png[at]} << 24 | uint32_t{png[at + 1]} << 16 | uint32_t{png[at + 2]} << 8 | png[at + 3];
        if (std::memcmp(&png[at + 4], "IDAT", 4) == 0)
            stream.insert(stream.end(), png.begin() + static_cast<long>(at + 8), png.begin() + static_cast<long>(at + 8 + length));
        at += 12 + length;
    }
    int length = 0;
    char* inflated = stbi_zlib_decode_malloc(reinterpret_cast<const char*>(stream.data()), static_cast<int>(stream.size()), &length);
    if (!inflated || stream.size() < 4)
        return false;
    uint32_t a = 1;
    uint32_t b = 0;
    for (int i = 0; i < length; ++i) {
        a = (a + static_cast<unsigned char>(inflated[i])) % 65521;
        b = (b + a) % 65521;
    }
    std::free(inflated);
    const size_t end = stream.size();
    const uint32_t stored = uint32_t{stream[end - 4]} << 24 | uint32_t{stream[end - 3]} << 16 | uint32_t{stream[end - 2]} << 8 | stream[end - 1];
    return stored == (b << 16 | a);
}

TEST(Bitmap, EveryKindDecodesToItsPictureAndItsPng)
{
    for (const BmpKind& kind : bmp_kinds()) {
        // One pixel, rows that need padding, and a square.
        for (const auto& [width, height] : {std::pair{1u, 1u}, {5u, 3u}, {33u, 31u}}) {
            SCOPED_TRACE(kind.name + " " + std::to_string(width) + "x" + std::to_string(height));
            const Picture picture = test_picture(width, height, kind);
            const std::vector<uint8_t> file = bmp_file(picture, kind);
            EXPECT_EQ(bmp_bytes_needed(file), file.size());
            const std::optional<Bitmap> bitmap = decode_bmp(file);
            ASSERT_TRUE(bitmap);
            const Bitmap expected = expected_bitmap(picture, kind.bits == 32 && kind.bitfields);
            expect_same(*bitmap, expected);
            const std::vector<uint8_t> png = encode_png(*bitmap);
            expect_same(decoded_png(png, expected.alpha), expected);
            EXPECT_TRUE(zlib_check_holds(png));
        }
    }
    // Translucent, though no pixel is wholly transparent.
    const BmpKind alpha_kind = bmp_kinds()[10];
    ASSERT_TRUE(alpha_kind.bits == 32 && alpha_kind.bitfields);
    Picture faint = test_picture(3, 2, alpha_kind);
    for (Rgba& pixel : faint.pixels)
        pixel[3] = 200;
    const std::optional<Bitmap> faint_bitmap = decode_bmp(bmp_file(faint, alpha_kind));
    ASSERT_TRUE(faint_bitmap);
    EXPECT_TRUE(faint_bitmap->alpha);
}

// Pictures that hardly compress (a grain, as in photographs) are stored,
// smooth ones deflated; both larger than a block of the stream, and both
// read back the same.
TEST(Bitmap, PicturesEncodeToTheSamePixelsWhetherTheyCompressOrNot)
{
    for (const bool grain : {true, false}) {
        for (const bool alpha : {false, true}) {
            SCOPED_TRACE(testing::Message() << "grain " << grain << ", alpha " << alpha);
            Bitmap picture;
            picture.width = 160;
            picture.height = 150;
            picture.alpha = alpha;
            uint32_t state = 12345;
            for (size_t i = 0; i < size_t{160} * 150 * picture.channels(); ++i) {
                state = state * 1103515245 + 12345;
                picture.pixels.push_back(static_cast<uint8_t>(grain ? state >> 16 : i / 1000));
            }
            const std::vector<uint8_t> png = encode_png(picture);
            if (grain)
                EXPECT_LT(png.size(), picture.pixels.size() + 1000);
            else
                EXPECT_LT(png.size(), picture.pixels.size() / 10);
            expect_same(decoded_png(png, alpha), picture);
            EXPECT_TRUE(zlib_check_holds(png));
        }
    }
}

// A copy of `file` with `bytes` at `at`, little-endian.
std::vector<uint8_t> patched(std::vector<uint8_t> file, size_t at, uint32_t value, size_t bytes = 4)
{
    for (size_t i = 0; i < bytes; ++i)
        file[at + i] = static_cast<uint8_t>(value >> (8 * i));
    return file;
}

TEST(Bitmap, BrokenAndHostileFilesDecodeToNothing)
{
    const BmpKind palette_kind{"8-bit palette", 40, 8};
    const BmpKind rgb_kind{"24 bits", 40, 24};
    const std::vector<uint8_t> indexed = bmp_file(test_picture(16, 16, palette_kind), palette_kind);
    const std::vector<uint8_t> rgb = bmp_file(test_picture(16, 16, rgb_kind), rgb_kind);
    // The palette of a 2-colour file, whose pixels name colour 5.
    std::vector<uint8_t> short_palette = patched(indexed, 10, 14 + 40 + 2 * 4);
    short_palette.erase(short_palette.begin() + 14 + 40 + 8, short_palette.begin() + 14 + 40 + 256 * 4);
    const BmpKind one_bit{"1-bit palette", 40, 1};
    const std::vector<uint8_t> two_colours = bmp_file(test_picture(5, 3, one_bit), one_bit);
    ASSERT_TRUE(decode_bmp(two_colours));
    const std::vector<uint8_t> huge = patched(patched(std::vector<uint8_t>(rgb.begin(), rgb.begin() + 100), 18, 100000), 22, 100000);
    struct Case {
        const char* name;
        std::vector<uint8_t> file;
    };
    const Case cases[] = {
        {"empty", {}},
        {"no bitmap", std::vector<uint8_t>(200, 'x')},
        {"cut in the header", std::vector<uint8_t>(rgb.begin(), rgb.begin() + 30)},
        {"cut in the pixels", std::vector<uint8_t>(rgb.begin(), rgb.end() - 1)},
        {"100000 x 100000 in 100 bytes", huge},
        {"4097 x 4097", patched(patched(rgb, 18, 4097), 22, 4097)},
        {"zero width", patched(rgb, 18, 0)},
        {"zero height", patched(rgb, 22, 0)},
        {"negative width", patched(rgb, 18, static_cast<uint32_t>(-16))},
        {"pixels past the end", patched(rgb, 10, static_cast<uint32_t>(rgb.size()))},
        {"pixels inside the header", patched(rgb, 10, 20)},
        {"palette index out of range", short_palette},
        {"a pixel names the entry one past the palette", patched(two_colours, 46, 1)},
        {"no palette for a palette bitmap", patched(indexed, 10, 14 + 40)},
        {"run-length compressed", patched(indexed, 30, 1)},
        {"unknown compression", patched(rgb, 30, 4)},
        {"unknown header size", patched(rgb, 14, 52)},
        {"2 bits a pixel", patched(indexed, 28, 2, 2)},
        {"two planes", patched(rgb, 26, 2, 2)},
        {"masks for 24 bits", patched(rgb, 30, 3)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(decode_bmp(c.file));
    }
    EXPECT_EQ(bmp_bytes_needed(huge), 0u) << "no size is claimed for a bitmap too large to read";
    EXPECT_EQ(bmp_bytes_needed(patched(patched(rgb, 18, 4096), 22, 4096)), 54u + 4096 * 4096 * 3)
        << "the largest bitmap read";
}

TEST(TextureFiles, NamesStayInsideTheOutputFolder)
{
    for (const char* inside : {"wall", "textures/wall", "textures\\wall", "a b/c.d", "..wall", "wall.."})
        EXPECT_TRUE(names_texture_inside(inside)) << inside;
    for (const char* outside : {"", "/wall", "\\wall", "../wall", "textures/../../wall", "a/./b", "a//b", "a/",
                                "..", ".", "C:wall", "c:/wall", "a\\..\\b"})
        EXPECT_FALSE(names_texture_inside(outside)) << outside;
}

TEST(TextureFiles, TheBitmapBesideTheOutputIsRead)
{
    const BmpKind kind{"24 bits", 40, 24};
    const std::vector<uint8_t> bitmap = bmp_file(test_picture(4, 4, kind), kind);
    std::vector<uint8_t> with_tail = bitmap;
    with_tail.resize(bitmap.size() + 100000, 0xEE);
    TempDir dir;
    fs::create_directories(dir.root() / "out" / "textures");
    fs::create_directories(dir.root() / "out" / "twice");
    write_file(dir.path("out/textures/wall.bmp"), with_tail);
    write_file(dir.path("out/Crate.BMP"), bitmap);
    write_file(dir.path("out/twice/door.BMP"), bitmap);
    write_file(dir.path("out/twice/DOOR.bmp"), bitmap);
    write_file(dir.path("out/ZONE.BMP"), bitmap);
    fs::create_directories(dir.root() / "out" / "walls");
    write_file(dir.path("out/walls/BRICK.bmp"), bitmap);
    write_file(dir.path("out/brick.bmp"), with_tail);
    write_file(dir.path("escaped.bmp"), bitmap);
    write_file(dir.path("out/cut.bmp"), std::vector<uint8_t>(bitmap.begin(), bitmap.end() - 1));
    fs::create_directory(dir.root() / "out" / "folder.bmp");
    using enum TextureOutcome;
    struct Case {
        const char* name;
        TextureOutcome outcome;
    };
    const Case cases[] = {
        {"textures/wall", embedded},  // read as far as its header says, not its tail
        {"textures\\wall", embedded},
        {"crate", embedded},          // the one name that differs in case alone
#if defined(_WIN32)
        {"twice/door", embedded},     // one file: Windows names differ not in case
#else
        {"twice/door", not_found},    // two such names: neither
#endif
        {"zone", embedded},
        {"walls/brick", embedded},    // in the texture's own folder
        {"WALLS/Brick", embedded},    // folders too
        {"../escaped", not_found},
        {"missing", not_found},
        {"cut", unreadable},
        {"folder", unreadable},
    };
    TextureFolder out(dir.root() / "out");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TextureFile read = out.read(c.name);
        EXPECT_EQ(read.outcome, c.outcome);
        EXPECT_EQ(read.bytes, c.outcome == embedded ? bitmap : std::vector<uint8_t>{});
    }
    EXPECT_EQ(out.read(u8name(dir.root() / "escaped")).outcome, not_found);
}

TEST(Textures, EachIsEmbeddedOrToldWhyNot)
{
    const BmpKind kind{"8-bit palette", 40, 8};
    const std::vector<uint8_t> good = bmp_file(test_picture(4, 4, kind), kind);
    std::vector<uint8_t> bad_colour = patched(good, 10, 14 + 40 + 2 * 4); // 2 colours, pixels name more
    bad_colour.erase(bad_colour.begin() + 14 + 40 + 8, bad_colour.begin() + 14 + 40 + 256 * 4);
    TempDir dir;
    write_file(dir.path("good.bmp"), good);
    write_file(dir.path("png.bmp"), std::vector<uint8_t>{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'});
    write_file(dir.path("bad.bmp"), bad_colour);
    using enum TextureOutcome;
    const std::vector<std::string> names = {"good", "png", "bad", "missing"};
    std::vector<TextureOutcome> outcomes;
    std::vector<bool> found;
    find_textures(dir.root(), names, 2, outcomes, [&](std::optional<GlbTexture> texture) { found.push_back(!!texture); });
    EXPECT_EQ(outcomes, (std::vector<TextureOutcome>{embedded, unreadable, unreadable, not_found}));
    EXPECT_EQ(found, (std::vector<bool>{true, false, false, false}));
}

// However many threads there are, the images being made and waiting hold
// no more than the budget together: two of 45 % each at a time, not more,
// not fewer; one larger than the budget alone; all in the names' order.
// The TextureFolder's estimate is what the CLI budgets by.
TEST(Textures, MadeWithinTheMemoryBudgetWhateverTheThreads)
{
    constexpr uint64_t budget = texture_memory_budget;
    struct Row {
        std::vector<uint64_t> memory;
        uint64_t most_held;
        int most_at_once;
    };
    const Row rows[] = {
        {std::vector<uint64_t>(8, budget * 45 / 100), 2 * (budget * 45 / 100), 2},
        {{2 * budget, budget / 10, budget / 10}, 2 * budget, 2},
    };
    for (const Row& row : rows) {
        std::vector<std::string> names;
        for (size_t i = 0; i < row.memory.size(); ++i)
            names.push_back(std::to_string(i));
        std::mutex mutex;
        uint64_t held = 0;
        uint64_t most_held = 0;
        int at_once = 0;
        int most_at_once = 0;
        std::vector<std::string> taken;
        std::vector<TextureOutcome> outcomes;
        const auto memory = [&](const std::string& name) { return row.memory[std::stoul(name)]; };
        make_textures(
            names, 16, outcomes,
            [&](std::optional<GlbTexture> texture) {
                const std::lock_guard lock(mutex);
                const std::string name(texture->png.begin(), texture->png.end());
                held -= memory(name);
                taken.push_back(name);
            },
            [&](const std::string& name, TextureOutcome& outcome) {
                {
                    const std::lock_guard lock(mutex);
                    held += memory(name);
                    most_held = std::max(most_held, held);
                    most_at_once = std::max(most_at_once, ++at_once);
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(30));
                const std::lock_guard lock(mutex);
                --at_once;
                outcome = TextureOutcome::embedded;
                return GlbTexture{std::vector<uint8_t>(name.begin(), name.end()), false};
            },
            memory);
        EXPECT_EQ(taken, names);
        EXPECT_EQ(most_held, row.most_held);
        EXPECT_EQ(most_at_once, row.most_at_once);
    }
    // A 4096 x 4096 bitmap of 24 bits: its file and eight bytes a pixel.
    TempDir dir;
    const BmpKind kind{"24-bit", 40, 24};
    std::vector<uint8_t> head = bmp_file(test_picture(4, 4, kind), kind);
    head = patched(patched(head, 18, 4096), 22, 4096);
    write_file(dir.path("big.bmp"), head);
    TextureFolder folder(dir.root());
    EXPECT_EQ(folder.memory("big"), head.size() + 8 * 4096 * 4096);
    EXPECT_EQ(folder.memory("missing"), 0u);
}

// The cache is seen through files changed after they were asked for: one
// removed whose image is still held comes from memory, one let go of is
// read again, and is gone; one unreadable stays so when it is mended.
TEST(BitmapCache, KeepsTheImagesLastUsedWithinItsLimit)
{
    using enum TextureOutcome;
    const BmpKind kind{"24-bit", 40, 24};
    const std::vector<uint8_t> bitmap = bmp_file(test_picture(4, 4, kind), kind);
    TextureOutcome made = not_found;
    const size_t png_size = texture_of({embedded, bitmap}, made)->png.size();
    struct Case {
        const char* name;
        size_t limit_in_images;
        std::vector<std::string> asked_before; // then every file is removed, and "bad" mended
        std::vector<std::string> asked_after;
        std::vector<TextureOutcome> outcomes_after;
    };
    const std::vector<Case> cases = {
        {"all held", 3, {"a", "b", "a"}, {"a", "b", "c"}, {embedded, embedded, unreadable}},
        {"the least recently used let go of", 1, {"a", "b"}, {"b", "a"}, {embedded, unreadable}},
        {"a use keeps an image", 2, {"a", "b", "a", "c"}, {"a", "c", "b"}, {embedded, embedded, unreadable}},
        {"an outcome is kept for good", 0, {"bad"}, {"bad"}, {unreadable}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        for (const char* name : {"a", "b", "c"})
            write_file(dir.path(name), bitmap);
        write_file(dir.path("bad"), std::vector<uint8_t>(bitmap.begin(), bitmap.begin() + 60));
        BitmapCache cache(c.limit_in_images * png_size);
        TextureOutcome outcome = not_found;
        for (const std::string& name : c.asked_before)
            cache.texture(dir.root() / name, outcome);
        fs::remove_all(dir.root());
        fs::create_directory(dir.root());
        write_file(dir.path("bad"), bitmap);
        std::vector<TextureOutcome> outcomes;
        for (const std::string& name : c.asked_after) {
            const std::optional<GlbTexture> texture = cache.texture(dir.root() / name, outcomes.emplace_back());
            EXPECT_EQ(texture.has_value(), outcomes.back() == embedded);
        }
        EXPECT_EQ(outcomes, c.outcomes_after);
    }
}

TEST(Textures, TheConsoleLineNamesAFewOrAll)
{
    using enum TextureOutcome;
    const std::vector<std::string> names = {"a", "b", "c", "d", "e", "f"};
    const TextureReport four_missing{"maps", names, {not_found, not_found, embedded, not_found, not_found, unreadable}};
    const TextureReport two_missing{"", names, {not_found, embedded, embedded, embedded, embedded, not_found}};
    struct Case {
        TextureReport report;
        bool every_name;
        std::string line;
    };
    const Case cases[] = {
        {{"", {"a"}, {embedded}}, false, "textures: 1 of 1 embedded from ."},
        {{"", {}, {}}, false, "textures: 0 of 0 embedded from ."},
        {two_missing, false, "textures: 4 of 6 embedded from .; not found: a.bmp and f.bmp"},
        {four_missing, false,
         "textures: 1 of 6 embedded from maps; not found: a.bmp, b.bmp, d.bmp and 1 more; unreadable: f.bmp"},
        {four_missing, true,
         "textures: 1 of 6 embedded from maps; not found: a.bmp, b.bmp, d.bmp and e.bmp; unreadable: f.bmp"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(texture_line(c.report, c.every_name), c.line);
}

// In a sticky folder that everyone may write, a link that another user
// planted on a bitmap's path is not followed: it would show a picture only
// its victim may read.
TEST(TextureFiles, LinksOtherUsersPlantAreNotFollowed)
{
#if defined(_WIN32)
    GTEST_SKIP() << "Windows has no sticky folders";
#else
    if (geteuid() != 0)
        GTEST_SKIP() << "links of another user need root to make";
    constexpr unsigned other_user = 65534;
    const BmpKind kind{"24 bits", 40, 24};
    TempDir dir;
    fs::create_directory(dir.root() / "private");
    write_file(dir.path("private/secret.bmp"), bmp_file(test_picture(2, 2, kind), kind));
    fs::create_directory(dir.root() / "st");
    fs::permissions(dir.root() / "st", fs::perms(01777));
    struct Case {
        const char* link;
        const char* target;
        const char* texture;
        unsigned owner;
        TextureOutcome outcome;
    };
    const Case cases[] = {
        {"st/a.bmp", "../private/secret.bmp", "a", other_user, TextureOutcome::unreadable},
        {"st/B.bmp", "../private/secret.bmp", "b", other_user, TextureOutcome::unreadable},
        {"st/c", "../private", "c/secret", other_user, TextureOutcome::unreadable},
        {"st/e.bmp", "../private/secret.bmp", "e", 0, TextureOutcome::embedded},
        {"st/f", "../private", "f/secret", 0, TextureOutcome::embedded},
    };
    TextureFolder folder(dir.root() / "st");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.link);
        fs::create_symlink(c.target, dir.root() / c.link);
        ASSERT_EQ(lchown(dir.path(c.link).c_str(), c.owner, c.owner), 0);
        EXPECT_EQ(folder.read(c.texture).outcome, c.outcome);
    }
#endif
}

TEST(TextureFiles, SpecialFilesAreNeverRead)
{
#if defined(_WIN32)
    GTEST_SKIP() << "Windows has no FIFOs or device links to make in a folder";
#else
    TempDir dir;
    ASSERT_EQ(mkfifo(dir.path("pipe.bmp").c_str(), 0644), 0);
    fs::create_symlink("/dev/zero", dir.root() / "zero.bmp");
    // Both would block or never end if they were read.
    TextureFolder folder(dir.root());
    EXPECT_EQ(folder.read("pipe").outcome, TextureOutcome::unreadable);
    EXPECT_EQ(folder.read("zero").outcome, TextureOutcome::unreadable);
#endif
}

// Which file of listed folder trees a texture name chooses: the trees in
// their order; in each, the exact name before one that differs in case;
// then the fewest parts, then byte order; the others named.
TEST(BitmapLookup, ChoosesOneFileByTheRule)
{
    struct Row {
        const char* name;
        std::vector<std::vector<std::string>> trees;
        std::optional<BitmapFound> expected;
    };
    const Row rows[] = {
        {"wall", {{"WALL.BMP"}, {"wall.bmp"}}, BitmapFound{0, "WALL.BMP", {}}},
        {"wall", {{"Wall.bmp", "sub/wall.bmp"}}, BitmapFound{0, "sub/wall.bmp", {}}},
        {"wall", {{"a/b/wall.bmp", "c/wall.bmp", "wall2.bmp", "wall.bmp.txt"}}, BitmapFound{0, "c/wall.bmp", {"a/b/wall.bmp"}}},
        {"wall", {{"b/wall.bmp", "\xC3\xA9/wall.bmp", "a/wall.bmp"}},
         BitmapFound{0, "a/wall.bmp", {"b/wall.bmp", "\xC3\xA9/wall.bmp"}}},
        {"textures/set_0", {{"set_0.bmp", "mytextures/set_0.bmp", "maps/TEXTURES/Set_0.BMP"}},
         BitmapFound{0, "maps/TEXTURES/Set_0.BMP", {}}},
        {"textures\\set_0", {{"textures/set_0.bmp"}}, BitmapFound{0, "textures/set_0.bmp", {}}},
        {"door", {{"x.bmp"}, {"q/door.bmp", "door.bmp"}}, BitmapFound{1, "door.bmp", {"q/door.bmp"}}},
        {"caf\xE9", {{"CAF\xE9.bmp", "caf\xE9.bmp"}}, BitmapFound{0, "caf\xE9.bmp", {}}},
        {"door", {{"wall.bmp", "door/x.bmp"}}, std::nullopt},
        {"../wall", {{"wall.bmp"}}, std::nullopt},
        {"", {{".bmp"}}, std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<BitmapTree> trees;
        for (const std::vector<std::string>& files : row.trees)
            trees.push_back({files});
        const std::optional<BitmapFound> found = BitmapLookup(trees).find(row.name);
        ASSERT_EQ(found.has_value(), row.expected.has_value());
        if (!found)
            continue;
        EXPECT_EQ(found->tree, row.expected->tree);
        EXPECT_EQ(found->path, row.expected->path);
        EXPECT_EQ(found->others, row.expected->others);
    }
}

} // namespace

} // namespace meshwright
