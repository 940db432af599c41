// The image codecs' signature and size checks, lossless round trips, and
// the pixel operations (quad transform, rectangle copy, YUV, vectors).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "codecs/image_codecs.h"
#include "datatypes/image.h"
#include "datatypes/os_image.h"
#include "datatypes/pair.h"
#include "datatypes/pixels.h"
#include "runtime/stack.h"
#include "runtime_fixture.h"

using namespace zuv;
namespace ic = zuv::image_codecs;
// glibc has a quad_t of its own.
using Quad = zuv::quad_t;

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

// --- pixel operations ---------------------------------------------------------------------------

TEST(Pixels, QuadOverTheSourceReproducesItBarTheLastColumnAndRow) {
    const int32_t W = 6, H = 4;
    std::vector<uint32_t> src = varied(W, H);
    pixels::transformed_t t;
    ASSERT_TRUE(pixels::quad_transform(src.data(), W, H, Quad{0, 0, W, 0, W, H, 0, H}, t));
    EXPECT_EQ(t.width, W);
    EXPECT_EQ(t.height, H);
    EXPECT_EQ(t.offset_x, 0);
    for (int32_t y = 0; y < H - 1; y++)
        for (int32_t x = 0; x < W - 1; x++)
            EXPECT_EQ(t.pixels[y * W + x], src[y * W + x]) << x << "," << y;
}

TEST(Pixels, QuadTransformEdges) {
    std::vector<uint32_t> src = varied(4, 4);
    pixels::transformed_t t;
    EXPECT_FALSE(pixels::quad_transform(src.data(), 0, 4, Quad{0, 0, 4, 0, 4, 4, 0, 4}, t));
    // Degenerate quads: every corner on one line, or all at one point.
    for (Quad q : {Quad{0, 0, 4, 0, 8, 0, 2, 0}, Quad{3, 3, 3, 3, 3, 3, 3, 3},
                   Quad{0, 0, 4, 4, 8, 8, 2, 2}}) {
        ASSERT_TRUE(pixels::quad_transform(src.data(), 4, 4, q, t));
        EXPECT_EQ(t.pixels.size(), static_cast<size_t>(t.width) * t.height);
    }
    std::vector<uint32_t> sized;
    EXPECT_TRUE(pixels::quad_transform_to_size(src.data(), 4, 4, Quad{1, 1, 5, 1, 5, 3, 1, 3}, 4, 2,
                                               sized));
    EXPECT_EQ(sized.size(), 8u);
    EXPECT_FALSE(pixels::quad_transform_to_size(src.data(), 4, 4, Quad{1, 1, 5, 1, 5, 3, 1, 3}, 4,
                                                3, sized));
}

TEST(Pixels, CopyRectClampsToSourceAndDestination) {
    std::vector<uint32_t> src = varied(5, 5);
    struct {
        int32_t x, y, w, h, dst_w, dst_h, copied_w, copied_h;
    } cases[] = {
        {1, 1, 2, 2, 2, 2, 2, 2},  {3, 3, 9, 9, 9, 9, 2, 2}, {0, 0, 5, 5, 2, 3, 2, 3},
        {-1, 0, 2, 2, 2, 2, 0, 0}, {5, 0, 2, 2, 2, 2, 0, 0}, {0, 5, 2, 2, 2, 2, 0, 0},
    };
    for (const auto& c : cases) {
        std::vector<uint32_t> dst(static_cast<size_t>(c.dst_w) * c.dst_h, 0);
        pixels::copy_rect(src.data(), 5, 5, c.x, c.y, c.w, c.h, dst.data(), c.dst_w, c.dst_h);
        for (int32_t y = 0; y < c.dst_h; y++)
            for (int32_t x = 0; x < c.dst_w; x++) {
                uint32_t want = x < c.copied_w && y < c.copied_h ? src[(c.y + y) * 5 + c.x + x] : 0;
                EXPECT_EQ(dst[y * c.dst_w + x], want)
                    << c.x << "," << c.y << " at " << x << "," << y;
            }
    }
}

TEST(Pixels, Yuv422) {
    struct {
        uint8_t in[4];
        uint8_t out[8];
    } cases[] = {
        {{16, 128, 16, 128}, {16, 16, 16, 255, 16, 16, 16, 255}},
        // U' -128, V' 127: clamped at 0 for the dark pixel, at 255 for the light one
        {{0, 0, 255, 255}, {178, 0, 0, 255, 255, 208, 28, 255}},
        {{128, 255, 128, 0}, {0, 178, 255, 255, 0, 178, 255, 255}},
    };
    for (const auto& c : cases) {
        uint32_t words[2];
        pixels::yuv422_to_rgba(c.in, 2, 1, words);
        EXPECT_EQ(std::memcmp(words, c.out, 8), 0) << int(c.in[0]) << " " << int(c.in[1]);
    }
}

TEST(Vec2d, Toolkit) {
    vec2d_t v{1, 0};
    vec2d::rotate(v, 90);
    EXPECT_NEAR(v.x, 0, 1e-9);
    EXPECT_NEAR(v.y, 1, 1e-9);
    vec2d_t w = vec2d::from_points(1, 1, 4, 5);
    EXPECT_DOUBLE_EQ(vec2d::length(w), 5);
    vec2d::normalize(w);
    EXPECT_DOUBLE_EQ(w.x, 0.6);
    EXPECT_DOUBLE_EQ(vec2d::cross(vec2d_t{1, 0}, vec2d_t{0, 1}), 1);
    EXPECT_DOUBLE_EQ(vec2d::dot(vec2d_t{2, 3}, vec2d_t{4, 5}), 23);
    vec2d_t edge{1, 0};
    EXPECT_TRUE(vec2d::left_of_q(vec2d_t{5, 2}, 0, 0, edge));
    EXPECT_TRUE(vec2d::right_of_q(vec2d_t{5, -2}, 0, 0, edge));
    EXPECT_FALSE(vec2d::right_of_q(vec2d_t{5, 0}, 0, 0, edge));
    EXPECT_DOUBLE_EQ(vec2d::distance_to_edge(vec2d_t{5, -2}, 0, 0, edge), 2);
    Quad q{0, 0, 4, 0, 4, 2, 0, 2};
    EXPECT_FALSE(quad::outside_q(q, vec2d_t{2, 1}));
    EXPECT_FALSE(quad::outside_q(q, vec2d_t{4, 2}));  // on an edge is inside
    EXPECT_TRUE(quad::outside_q(q, vec2d_t{5, 1}));
    quad::mirror_x(q, 2);
    quad::mirror_y(q, 1);
    EXPECT_EQ(q.x0, 4);
    EXPECT_EQ(q.y2, 0);
}

}  // namespace

namespace zuv::testing {
namespace {

class ImageTransform : public Runtime {};

TEST_F(ImageTransform, CornersGiveAnImageEvenWhenTheQuadIsDegenerate) {
    cell_t* img = stack::push_slot();
    image::make_sized(img, 4, 3, 0xFF112233u);
    struct {
        std::vector<std::pair<int32_t, int32_t>> points;
        int32_t width, height;
    } cases[] = {
        {{{0, 0}}, 4, 3},  // placed as it is
        {{{0, 0}, {8, 6}}, 8, 6},  // opposite corners: scaled
        {{{8, 6}, {0, 0}}, 8, 6},  // right-to-left, bottom-to-top: mirrored
        {{{0, 0}, {4, 0}, {4, 3}}, 4, 3},  // a parallelogram
        {{{0, 0}, {4, 0}, {8, 0}, {2, 0}}, 0, 0},  // all on one line: an empty image
        {{{0, 0}, {6, 0}, {6, 6}, {0, 6}}, 6, 6},  // a quad
    };
    for (const auto& c : cases) {
        cell_t* points = stack::push_slot();
        for (size_t i = 1; i < c.points.size(); i++) stack::push_slot();
        for (size_t i = 0; i < c.points.size(); i++)
            pair::make_at(points + i, c.points[i].first, c.points[i].second);
        cell_t out;
        image::transform(img, nullptr, points, static_cast<int32_t>(c.points.size()), &out);
        EXPECT_EQ(type_of(&out), TYPE_image);
        EXPECT_EQ(image::width_of(&out), c.width);
        EXPECT_EQ(image::height_of(&out), c.height);
        if (c.width > 1) {
            cell_t px;
            image::get_pixel(&out, 0, &px);
            EXPECT_EQ(image::tuple_to_pixel(&px), 0xFF112233u);
        }
        stack::top_slot = points;
    }
    int32_t crop[4] = {1, 1, 2, 2};
    cell_t* at = stack::push_slot();
    pair::make_at(at, 5, 5);
    cell_t out;
    image::transform(img, crop, at, 1, &out);
    EXPECT_EQ(image::width_of(&out), 2);
    EXPECT_EQ(image::height_of(&out), 2);
}

}  // namespace
}  // namespace zuv::testing

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
