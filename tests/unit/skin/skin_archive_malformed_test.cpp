// Damaged and hostile archives: each gives no image or no directory, never a crash, and never an
// allocation that a size field asked for rather than the file's own bytes.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <new>
#include <random>

#include "skin/skin_archive.h"
#include "skin/skin_archive_writer.h"
#include "skin_test_files.h"

// Every allocation of this test program passes through here so the tests can see the largest one.
namespace {
std::atomic<std::size_t> g_largest_allocation{0};

void* Allocate(std::size_t n) noexcept {
  std::size_t seen = g_largest_allocation.load();
  while (n > seen && !g_largest_allocation.compare_exchange_weak(seen, n)) {
  }
  return std::malloc(n == 0 ? 1 : n);
}
void* AllocateOrThrow(std::size_t n) {
  if (void* p = Allocate(n)) return p;
  throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t n) {
  return AllocateOrThrow(n);
}
void* operator new[](std::size_t n) {
  return AllocateOrThrow(n);
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  return Allocate(n);
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
  return Allocate(n);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}

namespace vt {
namespace {

using test::MakeBmp;

class MalformedArchive : public ::testing::Test {
 protected:
  void SetUp() override {
    // One entry of each pixel format, so damage can land in any of them.
    items_ = {
        {"voxtape.bmp", test::Bmp24(test::TestImage(3, 2))},
        {"pane.bmp", MakeBmp(2, 2, 16, {0x1F, 0x00, 0xE0, 0x03, 0x00, 0x7C, 0xFF, 0x7F})},
        {"bigletters.bmp", MakeBmp(2, -1, 32, {1, 2, 3, 0, 4, 5, 6, 0})},
    };
    valid_ = *BuildSkinArchive(items_);
  }

  // Writes `bytes` as the archive, reads its directory and loads every image it names. Fails the
  // test when any single allocation meanwhile exceeds a few times the file's size: the decoded
  // images and the entry table may be larger than the bytes that describe them, but never as large
  // as a size field claims.
  SkinDirectoryRead Exercise(const std::vector<std::uint8_t>& bytes) {
    test::WriteFile(folder_.archive(), bytes);
    g_largest_allocation = 0;
    SkinDirectoryRead read = ReadSkinDirectory(folder_.archive().string());
    for (const SkinEntry& e : read.directory.entries) {
      LoadSkinBitmap(e.name, read.directory, folder_.program_folder());
    }
    EXPECT_LE(g_largest_allocation.load(), 8 * bytes.size() + 64 * 1024);
    return read;
  }

  std::optional<gfx::Surface> Load(const SkinDirectory& d, const std::string& name) {
    return LoadSkinBitmap(name, d, folder_.program_folder());
  }

  // Byte position of entry i's data size field and of its data offset field.
  std::size_t SizeField(std::size_t i) const {
    std::size_t pos = 6;
    for (std::size_t k = 0; k < i; ++k) pos += 8 + items_[k].name.size();
    return pos + 4 + items_[i].name.size();
  }
  std::size_t OffsetField(std::size_t i) const { return SizeField(items_.size() - 1) + 4 + 4 * i; }

  static void Put32(std::vector<std::uint8_t>& bytes, std::size_t pos, std::uint32_t v) {
    for (int k = 0; k < 4; ++k) bytes[pos + k] = static_cast<std::uint8_t>(v >> (8 * k));
  }

  test::ScratchFolder folder_;
  std::vector<SkinArchiveItem> items_;
  std::vector<std::uint8_t> valid_;
};

TEST_F(MalformedArchive, EveryTruncationIsDamageAndSaysWhere) {
  ASSERT_TRUE(Exercise(valid_).ok());
  const std::size_t directory_end = OffsetField(items_.size());
  for (std::size_t len = 0; len < valid_.size(); ++len) {
    SCOPED_TRACE("length " + std::to_string(len));
    const std::vector<std::uint8_t> cut(valid_.begin(), valid_.begin() + len);
    const SkinDirectoryRead read = Exercise(cut);
    EXPECT_EQ(read.status, SkinReadStatus::kMalformed);
    EXPECT_TRUE(read.directory.entries.empty());
    // Past the index, the damage names the first picture that is cut off.
    if (len >= directory_end) {
      EXPECT_NE(read.damage.find(" runs past its end"), std::string::npos) << read.damage;
      EXPECT_EQ(read.damage.rfind("the picture ", 0), 0u) << read.damage;
    } else {
      EXPECT_EQ(read.damage, "its index runs past its end");
    }
  }
}

TEST_F(MalformedArchive, DirectoriesTheFileCannotHoldAreRefused) {
  auto header = [](std::uint16_t count) {
    std::vector<std::uint8_t> b;
    test::PutU16(b, 1);
    test::PutU16(b, 0);
    test::PutU16(b, count);
    return b;
  };
  struct Case {
    const char* what;
    std::vector<std::uint8_t> bytes;
  };
  std::vector<Case> cases = {{"empty file", {}}, {"header cut", {1, 0, 0, 0, 3}}};
  cases.push_back({"65535 entries, nothing else", header(65535)});
  std::vector<std::uint8_t> too_few = header(65535);
  too_few.resize(too_few.size() + 65535 * 12 - 1, 0);  // every record empty, one byte short
  cases.push_back({"65535 empty entries, one byte short", too_few});
  std::vector<std::uint8_t> huge_name = header(1);
  test::PutU32(huge_name, 0xFFFFFFFF);
  huge_name.resize(huge_name.size() + 64, 'a');
  cases.push_back({"name length 0xFFFFFFFF", huge_name});
  std::vector<std::uint8_t> long_name = valid_;
  Put32(long_name, 6, static_cast<std::uint32_t>(valid_.size()));
  cases.push_back({"name length just past the end", long_name});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const SkinDirectoryRead read = Exercise(c.bytes);
    EXPECT_EQ(read.status, SkinReadStatus::kMalformed);
    EXPECT_TRUE(read.directory.entries.empty());
  }
}

TEST_F(MalformedArchive, AnIndexThatDoesNotFitItsFileIsDamage) {
  struct Case {
    const char* what;
    std::function<void(std::vector<std::uint8_t>&)> damage;  // done to entry 1, "pane.bmp"
    const char* said;
  };
  const Case cases[] = {
      {"offset past the end", [&](auto& b) { Put32(b, OffsetField(1), 0x7FFFFFF0); },
       "the picture pane.bmp runs past its end"},
      {"offset plus size wraps 32 bits",
       [&](auto& b) {
         Put32(b, OffsetField(1), 0xFFFFFFF0);
         Put32(b, SizeField(1), 0x20);
       },
       "the picture pane.bmp runs past its end"},
      {"size 0xFFFFFFFF", [&](auto& b) { Put32(b, SizeField(1), 0xFFFFFFFF); },
       "the picture pane.bmp runs past its end"},
      {"offset inside the index", [&](auto& b) { Put32(b, OffsetField(1), 6); },
       "the picture pane.bmp lies inside its index"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::uint8_t> bytes = valid_;
    c.damage(bytes);
    const SkinDirectoryRead read = Exercise(bytes);
    EXPECT_EQ(read.status, SkinReadStatus::kMalformed);
    EXPECT_EQ(read.damage, c.said);
  }
}

TEST_F(MalformedArchive, BadPicturesGiveNoImageAndSpareTheOthers) {
  struct Case {
    const char* what;
    std::function<void(std::vector<std::uint8_t>&)> damage;  // done to entry 1, "pane.bmp"
  };
  const std::size_t pane_at = OffsetField(items_.size()) + items_[0].data.size();
  const Case cases[] = {
      {"not a BMP", [&](auto& b) { b[pane_at] = 'P'; }},
      {"colour table bit count", [&](auto& b) { b[pane_at + 28] = 8; }},
      {"zero width", [&](auto& b) { Put32(b, pane_at + 18, 0); }},
      {"negative width", [&](auto& b) { Put32(b, pane_at + 18, 0xFFFFFFFE); }},
      {"claims 0x7FFFFFFF square",
       [&](auto& b) {
         Put32(b, pane_at + 18, 0x7FFFFFFF);
         Put32(b, pane_at + 22, 0x7FFFFFFF);
       }},
      {"one row more than the data holds", [&](auto& b) { Put32(b, pane_at + 22, 3); }},
      {"pixel offset past the entry", [&](auto& b) { Put32(b, pane_at + 10, 0x10000); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::uint8_t> bytes = valid_;
    c.damage(bytes);
    const SkinDirectoryRead read = Exercise(bytes);
    ASSERT_TRUE(read.ok());
    EXPECT_FALSE(Load(read.directory, "pane.bmp"));
    EXPECT_TRUE(Load(read.directory, "voxtape.bmp"));
    EXPECT_TRUE(Load(read.directory, "bigletters.bmp"));
  }
}

TEST_F(MalformedArchive, RandomDamageNeverCrashes) {
  std::mt19937 random(20240611);  // fixed, so a failure can be replayed
  auto below = [&](std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
  };
  const std::uint32_t extremes[] = {
      0, 1, 53, 54, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, static_cast<std::uint32_t>(valid_.size())};
  for (int round = 0; round < 2000; ++round) {
    std::vector<std::uint8_t> bytes = valid_;
    for (std::size_t changes = 1 + below(4); changes > 0; --changes) {
      switch (below(4)) {
        case 0:
        case 1:
          bytes[below(bytes.size())] = static_cast<std::uint8_t>(below(256));
          break;
        case 2:
          if (bytes.size() >= 4)
            Put32(bytes, below(bytes.size() - 3), extremes[below(std::size(extremes))]);
          break;
        default:
          bytes.resize(below(bytes.size()) + 1);
      }
    }
    SCOPED_TRACE("round " + std::to_string(round));
    Exercise(bytes);
    if (HasFailure()) break;
  }
}

}  // namespace
}  // namespace vt
