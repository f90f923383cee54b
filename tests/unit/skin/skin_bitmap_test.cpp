// Turning skin BMP entries into surfaces: the pixel formats kept, and what is refused.
#include <gtest/gtest.h>

#include <climits>

#include "platform/gfx/dib.h"
#include "skin/skin_archive.h"
#include "skin_test_files.h"

namespace vt {
namespace {

using test::MakeBmp;

void ExpectSamePixels(const gfx::Surface& got, const gfx::Surface& want) {
  ASSERT_EQ(got.GetSize(), want.GetSize());
  for (int y = 0; y < want.Height(); ++y) {
    for (int x = 0; x < want.Width(); ++x) {
      EXPECT_EQ(got.At(x, y), want.At(x, y)) << "at " << x << "," << y;
    }
  }
}

TEST(SkinBitmap, TwentyFourBitRowsBottomUpAndTopDown) {
  // Width 3 makes 9-byte rows padded to 12.
  const gfx::Surface image = test::TestImage(3, 4);
  for (const bool top_down : {false, true}) {
    SCOPED_TRACE(top_down ? "top-down" : "bottom-up");
    const auto got = DecodeSkinBmp(test::Bmp24(image, top_down));
    ASSERT_TRUE(got);
    ExpectSamePixels(*got, image);
  }
}

TEST(SkinBitmap, ThirtyTwoBitIgnoresTheFourthByte) {
  // Bottom row first: blue, green, red, unused.
  const std::vector<std::uint8_t> rows = {1, 2, 3, 0xFF, 4,  5,  6,  0x80,  //
                                          7, 8, 9, 0x00, 10, 11, 12, 0x7F};
  const auto got = DecodeSkinBmp(MakeBmp(2, 2, 32, rows));
  ASSERT_TRUE(got);
  EXPECT_EQ(got->At(0, 1), gfx::Rgb(3, 2, 1));
  EXPECT_EQ(got->At(1, 1), gfx::Rgb(6, 5, 4));
  EXPECT_EQ(got->At(0, 0), gfx::Rgb(9, 8, 7));
  EXPECT_EQ(got->At(1, 0), gfx::Rgb(12, 11, 10));
}

TEST(SkinBitmap, SixteenBitIsFiveFiveFiveWidenedToFullRange) {
  // One top-down row of three pixels (6 bytes, padded to 8): pure red with the unused top bit set,
  // level 1 in every channel, full white.
  const auto got =
      DecodeSkinBmp(MakeBmp(3, -1, 16, {0x00, 0xFC, 0x21, 0x04, 0xFF, 0x7F, 0xEE, 0xEE}));
  ASSERT_TRUE(got);
  EXPECT_EQ(got->At(0, 0), gfx::Rgb(255, 0, 0));
  EXPECT_EQ(got->At(1, 0), gfx::Rgb(8, 8, 8));
  EXPECT_EQ(got->At(2, 0), gfx::Rgb(255, 255, 255));
}

TEST(SkinBitmap, BytesBetweenInfoHeaderAndPixelOffsetAreSkipped) {
  // Writers may put colour masks or a larger info header there; the rows start at the offset.
  const gfx::Surface image = test::TestImage(2, 2);
  std::vector<std::uint8_t> bmp = test::Bmp24(image);
  bmp.insert(bmp.begin() + 54, 84, 0x55);
  bmp[10] = 54 + 84;
  const auto got = DecodeSkinBmp(bmp);
  ASSERT_TRUE(got);
  ExpectSamePixels(*got, image);
}

TEST(SkinBitmap, RefusesWhatItCannotShowFaithfully) {
  const std::vector<std::uint8_t> two_rows(2 * 4, 0);  // enough for 1x2 at 16, 24 or 32 bits
  struct Case {
    const char* what;
    std::vector<std::uint8_t> bmp;
  };
  std::vector<Case> cases = {
      {"8 bits with a 256-colour table",
       MakeBmp(1, 2, 8, two_rows, std::vector<std::uint8_t>(1024, 0))},
      {"4 bits", MakeBmp(1, 2, 4, two_rows, std::vector<std::uint8_t>(64))},
      {"1 bit", MakeBmp(1, 2, 1, two_rows, std::vector<std::uint8_t>(8))},
      {"0 bits (embedded image)", MakeBmp(1, 2, 0, two_rows)},
      {"bit fields", MakeBmp(1, 2, 32, two_rows, std::vector<std::uint8_t>(12), 3)},
      {"run-length compression", MakeBmp(1, 2, 24, two_rows, {}, 1)},
      {"12-byte core header", MakeBmp(1, 2, 24, two_rows, {}, 0, 12)},
      {"zero width", MakeBmp(0, 2, 24, two_rows)},
      {"negative width", MakeBmp(-1, 2, 24, two_rows)},
      {"zero height", MakeBmp(1, 0, 24, two_rows)},
      {"height INT_MIN", MakeBmp(1, INT32_MIN, 24, two_rows)},
      {"last row one byte short", MakeBmp(1, 2, 24, std::vector<std::uint8_t>(7))},
      {"width times height past 64 bits", MakeBmp(INT32_MAX, INT32_MAX, 32, two_rows)},
      {"top-down, huge", MakeBmp(INT32_MAX, -INT32_MAX, 24, two_rows)},
      {"headers only, cut short", std::vector<std::uint8_t>(53, 0)},
  };
  std::vector<std::uint8_t> not_bm = MakeBmp(1, 2, 24, two_rows);
  not_bm[0] = 'M';
  not_bm[1] = 'B';
  cases.push_back({"no BM", not_bm});
  std::vector<std::uint8_t> low_offset = MakeBmp(1, 2, 24, two_rows);
  low_offset[10] = 53;
  cases.push_back({"pixel offset inside the headers", low_offset});
  std::vector<std::uint8_t> far_offset = MakeBmp(1, 2, 24, two_rows);
  far_offset[10] = 0xFF;
  cases.push_back({"pixel offset past the end", far_offset});

  for (const Case& c : cases) {
    EXPECT_FALSE(DecodeSkinBmp(c.bmp)) << c.what;
  }
  // The same sizes as above, well formed, do load: the refusals are not an accident of the rows.
  EXPECT_TRUE(DecodeSkinBmp(MakeBmp(1, 2, 24, two_rows)));
}

}  // namespace
}  // namespace vt
