// The image codecs' signature and size checks, lossless round trips, and
// resizing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codecs/image_codecs.h"
#include "datatypes/image.h"
#include "datatypes/os_image.h"
#include "runtime/stack.h"
#include "runtime_fixture.h"

using namespace zuv;
namespace ic = zuv::image_codecs;

namespace {

std::vector<uint8_t> bytes_of(const std::string& s) {
    return std::vector<uint8_t>(s.begin(), s.end());
}

std::vector<uint32_t> varied(int32_t w, int32_t h) {
    std::vector<uint32_t> px;
    for (int32_t i = 0; i < w * h; i++)
        px.push_back(ic::pack((i * 37) & 255, (i * 11 + 5) & 255, (i * 3) & 255,
                              i % 3 ? 255 : (i * 29) & 255));
    return px;
}

TEST(ImageCodecs, SignaturesNameTheirFormat) {
    struct {
        std::string data;
        int32_t format;
    } cases[] = {
        {"\x89PNG\r\n", ic::format::PNG},
        {"\xFF\xD8\xFF\xE0", ic::format::JPEG},
        {"BM", ic::format::BMP},
        {"GIF89a", ic::format::GIF},
        {"GIF87a", ic::format::GIF},
        {"GIF88a", -1},
        {"GIF89", -1},
        {std::string("II*\0", 4), ic::format::TIFF},
        {std::string("MM\0*", 4), ic::format::TIFF},
        {std::string("II\0*", 4), -1},
        {"\xFF\xD8", -1},
        {"", -1},
        {"B", -1},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> b = bytes_of(c.data);
        EXPECT_EQ(ic::sniff(b.data(), b.size()), c.format) << c.data;
    }
}

TEST(ImageCodecs, SizesAreCheckedBeforeAllocation) {
    EXPECT_TRUE(ic::size_ok(65535, 1, 100, 1000));
    EXPECT_FALSE(ic::size_ok(65536, 1, 1'000'000, 1000));
    EXPECT_FALSE(ic::size_ok(1, 0, 100, 1000));
    EXPECT_FALSE(ic::size_ok(-5, 3, 100, 1000));
    EXPECT_TRUE(ic::size_ok(100, 10, 1, 1000));
    EXPECT_FALSE(ic::size_ok(100, 11, 1, 1000));  // more pixels than the bytes could hold
    EXPECT_FALSE(ic::size_ok(int64_t{1} << 31, 1, int64_t{1} << 40, 8300));
}

TEST(ImageCodecs, LosslessFormatsRoundTrip) {
    for (int32_t f : {ic::format::PNG, ic::format::BMP, ic::format::TIFF}) {
        for (auto [w, h] : {std::pair{1, 1}, std::pair{7, 3}, std::pair{3, 7}}) {
            std::vector<uint32_t> px = varied(w, h);
            std::vector<uint8_t> out;
            ASSERT_TRUE(ic::encode(f, px.data(), w, h, out)) << f;
            ic::raster_t back;
            ASSERT_TRUE(ic::decode(out.data(), out.size(), back)) << f;
            EXPECT_EQ(back.width, w);
            EXPECT_EQ(back.height, h);
            EXPECT_EQ(back.pixels, px) << "format " << f << " at " << w << "x" << h;
        }
    }
}

TEST(ImageCodecs, EveryPrefixOfAFileFailsCleanly) {
    std::vector<uint32_t> px = varied(9, 5);
    for (int32_t f :
         {ic::format::PNG, ic::format::BMP, ic::format::TIFF, ic::format::GIF, ic::format::JPEG}) {
        std::vector<uint8_t> out;
        ASSERT_TRUE(ic::encode(f, px.data(), 9, 5, out));
        for (size_t n = 0; n < out.size(); n += std::max<size_t>(1, out.size() / 40)) {
            ic::raster_t r;
            if (!ic::decode(out.data(), n, r)) {
                EXPECT_TRUE(r.pixels.empty()) << f << " " << n;
            }
        }
    }
    ic::raster_t r;
    std::vector<uint8_t> unknown = bytes_of("XX");
    EXPECT_FALSE(ic::decode(unknown.data(), unknown.size(), r));
    EXPECT_FALSE(ic::encode(7, px.data(), 9, 5, unknown));
}

}  // namespace

namespace zuv::testing {
namespace {

class ImageResize : public Runtime {};

TEST_F(ImageResize, NearestNeighbour) {
    cell_t* img = stack::push_slot();
    image::make_sized(img, 4, 2, 0);
    uint32_t* px = os_image::pixels(image::node_of(img));
    for (uint32_t i = 0; i < 8; i++) px[i] = i;
    struct {
        int32_t w, h;
        std::vector<uint32_t> want;
    } cases[] = {
        {2, 1, {0, 2}},
        {4, 2, {0, 1, 2, 3, 4, 5, 6, 7}},
        {8, 1, {0, 0, 1, 1, 2, 2, 3, 3}},
        {1, 4, {0, 0, 4, 4}},
        {0, 3, {}},
    };
    for (const auto& c : cases) {
        cell_t* out = stack::push_slot();
        image::resize(img, c.w, c.h, out);
        EXPECT_EQ(image::width_of(out), c.want.empty() ? 0 : c.w);
        std::vector<uint32_t> got;
        if (image::node_of(out)) {
            const uint32_t* p = os_image::pixels(image::node_of(out));
            got.assign(p, p + c.w * c.h);
        }
        EXPECT_EQ(got, c.want) << c.w << "x" << c.h;
    }
    cell_t* out = stack::push_slot();
    EXPECT_EQ(raised([&] { image::resize(img, 70000, 1, out); }), err::out_of_range);
}

}  // namespace
}  // namespace zuv::testing
