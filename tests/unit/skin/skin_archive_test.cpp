// Reading the skin directory, finding entries, loading images, and the pack / extract tool.
#include "skin/skin_archive.h"

#include <gtest/gtest.h>

#include "skin/skin_archive_writer.h"
#include "skin_test_files.h"

namespace vt {
namespace {

namespace fs = std::filesystem;

SkinDirectory DirectoryOf(std::vector<std::string> names) {
  SkinDirectory d;
  for (std::string& n : names) d.entries.push_back({.name = std::move(n)});
  d.count = static_cast<std::uint32_t>(d.entries.size());
  return d;
}

TEST(SkinArchive, FindsNamesIgnoringCaseOfAsciiLettersOnly) {
  const SkinDirectory d = DirectoryOf({"voxtape.bmp", "startrecording.bmp", "Pause.bmp",
                                       "pause.BMP", "caf\xC9.bmp", "caf\xE9.bmp"});
  struct Case {
    const char* name;
    std::uint16_t index;
  };
  const Case cases[] = {
      {"startrecording.bmp", 1},
      {"STARTRECORDING.BMP", 1},
      {"pause.bmp", 2},    // of two names differing in case, the earlier
      {"caf\xE9.bmp", 5},  // bytes beyond A-Z compare exactly
      {"caf\xC9.BMP", 4},
      {"startrecording", kSkinNotFound},
      {"startrecording.bmp ", kSkinNotFound},
      {"", kSkinNotFound},
  };
  for (const Case& c : cases) EXPECT_EQ(FindSkinEntry(d, c.name), c.index) << c.name;
  EXPECT_EQ(FindSkinEntry(SkinDirectory{}, "voxtape.bmp"), kSkinNotFound);
}

TEST(SkinArchive, LargestDirectoryUsesEveryIndexBelowNotFound) {
  std::vector<SkinArchiveItem> items(65535);
  for (std::size_t i = 0; i < items.size(); ++i) items[i].name = std::to_string(i);
  const auto bytes = BuildSkinArchive(items);
  ASSERT_TRUE(bytes);
  test::ScratchFolder dir;
  test::WriteFile(dir.archive(), *bytes);
  const SkinDirectoryRead read = ReadSkinDirectory(dir.archive().string());
  ASSERT_TRUE(read.ok());
  EXPECT_EQ(read.directory.count, 65535u);
  EXPECT_EQ(FindSkinEntry(read.directory, "0"), 0);
  EXPECT_EQ(FindSkinEntry(read.directory, "65534"), 65534);
  EXPECT_EQ(FindSkinEntry(read.directory, "65535"), kSkinNotFound);

  items.emplace_back();
  EXPECT_FALSE(BuildSkinArchive(items)) << "a 65536th entry cannot be counted";
}

TEST(SkinArchive, ReadsTheDirectoryAsStored) {
  // Header words 0x1234 and 0xABCD, two entries; the first name's zero byte ends it early.
  std::vector<std::uint8_t> a;
  test::PutU16(a, 0x1234);
  test::PutU16(a, 0xABCD);
  test::PutU16(a, 2);
  test::PutU32(a, 6);
  a.insert(a.end(), {'p', 'a', 'n', 'e', 0, 'x'});
  test::PutU32(a, 3);
  test::PutU32(a, 1);
  a.push_back('B');
  test::PutU32(a, 1);
  test::PutU32(a, 37);  // offsets: 6 + 14 + 9 + 8 bytes of directory
  test::PutU32(a, 40);
  a.insert(a.end(), {'a', 'b', 'c', 'd'});

  test::ScratchFolder dir;
  test::WriteFile(dir.archive(), a);
  const SkinDirectoryRead read = ReadSkinDirectory(dir.archive().string());
  ASSERT_TRUE(read.ok());
  const SkinDirectory& d = read.directory;
  EXPECT_EQ(d.header, 0xABCD1234u);
  EXPECT_EQ(d.count, 2u);
  ASSERT_EQ(d.entries.size(), 2u);
  EXPECT_EQ(d.entries[0].name, "pane");
  EXPECT_EQ(d.entries[0].name_length, 6u);
  EXPECT_EQ(d.entries[0].size, 3u);
  EXPECT_EQ(d.entries[0].offset, 37u);
  EXPECT_EQ(d.entries[1].name, "B");
  EXPECT_EQ(d.entries[1].offset, 40u);
  EXPECT_EQ(ReadSkinEntryData(dir.archive().string(), d.entries[1]),
            std::vector<std::uint8_t>{'d'});
}

TEST(SkinArchive, EmptyAndMissingArchives) {
  test::ScratchFolder dir;
  test::WriteFile(dir.archive(), std::vector<std::uint8_t>{1, 0, 0, 0, 0, 0});
  const SkinDirectoryRead empty = ReadSkinDirectory(dir.archive().string());
  ASSERT_TRUE(empty.ok());
  EXPECT_TRUE(empty.directory.entries.empty());
  EXPECT_FALSE(LoadSkinBitmap("voxtape.bmp", empty.directory, dir.program_folder()));

  EXPECT_EQ(ReadSkinDirectory((dir.path() / "absent.int").string()).status,
            SkinReadStatus::kCannotOpen);
  EXPECT_EQ(ReadSkinDirectory(dir.path().string()).status, SkinReadStatus::kCannotOpen)
      << "a folder is not an archive";
}

class SkinLoading : public ::testing::Test {
 protected:
  void SetUp() override {
    image_ = test::TestImage(5, 3);
    std::vector<std::uint8_t> not_bmp = test::Bmp24(image_);
    not_bmp[0] = 'P';
    const std::vector<SkinArchiveItem> items = {
        {"voxtape.bmp", test::Bmp24(image_)},
        {"note.txt", not_bmp},
        {"indexed.bmp", test::MakeBmp(1, 1, 8, {0, 0, 0, 0}, std::vector<std::uint8_t>(1024))},
    };
    test::WriteFile(folder_.archive(), *BuildSkinArchive(items));
    ResetSkin();
  }
  void TearDown() override { ResetSkin(); }

  test::ScratchFolder folder_;
  gfx::Surface image_;
};

TEST_F(SkinLoading, LoadsByNameAndMakesTheProgramFolderCurrent) {
  const SkinDirectoryRead read = ReadSkinDirectory(folder_.archive().string());
  ASSERT_TRUE(read.ok());
  const auto got = LoadSkinBitmap("VoxTape.BMP", read.directory, folder_.program_folder());
  ASSERT_TRUE(got);
  EXPECT_EQ(got->Pixels(), image_.Pixels());
  EXPECT_EQ(got->GetSize(), image_.GetSize());
  EXPECT_TRUE(fs::equivalent(fs::current_path(), folder_.path()));

  for (const char* refused : {"note.txt", "indexed.bmp", "absent.bmp"}) {
    EXPECT_FALSE(LoadSkinBitmap(refused, read.directory, folder_.program_folder())) << refused;
  }
}

TEST_F(SkinLoading, ProcessSkinLoadsIntoTheCallersSurface) {
  ASSERT_EQ(OpenSkin(folder_.program_folder()), SkinReadStatus::kOk);
  gfx::Surface s;
  ASSERT_TRUE(LoadSkinBitmapInto("voxtape.bmp", s));
  EXPECT_EQ(s.Pixels(), image_.Pixels());

  EXPECT_FALSE(LoadSkinBitmapInto("indexed.bmp", s));
  EXPECT_TRUE(s.Empty()) << "a failed load leaves the surface empty";

  ResetSkin();
  EXPECT_EQ(OpenSkin((folder_.path() / "elsewhere/").string()), SkinReadStatus::kCannotOpen);
  EXPECT_FALSE(LoadSkinBitmapInto("voxtape.bmp", s));
}

TEST(SkinPack, PackThenReadAndExtractGiveBackTheFiles) {
  test::ScratchFolder work;
  const fs::path src = work.path() / "src";
  const std::vector<std::pair<std::string, std::vector<std::uint8_t>>> files = {
      {"pane.bmp", test::Bmp24(test::TestImage(4, 2))},
      {"Close.BMP", test::Bmp24(test::TestImage(1, 1), true)},
      {"bigletters.bmp", test::Bmp24(test::TestImage(7, 3))},
  };
  for (const auto& [name, bytes] : files) test::WriteFile(src / name, bytes);
  test::WriteFile(src / "readme.txt", std::vector<std::uint8_t>{'x'});  // not packed
  test::WriteFile(src / "indexed.bmp",
                  test::MakeBmp(1, 1, 8, {0, 0, 0, 0}, std::vector<std::uint8_t>(1024)));

  const fs::path archive = work.path() / "out" / "voxtape.int";
  const SkinToolResult packed = PackSkinFolder(src.string(), archive.string());
  ASSERT_TRUE(packed.ok) << packed.error;
  EXPECT_EQ(packed.entries, 4u);
  ASSERT_EQ(packed.warnings.size(), 1u) << "the indexed image will not load";
  EXPECT_NE(packed.warnings[0].find("indexed.bmp"), std::string::npos);

  const SkinDirectoryRead read = ReadSkinDirectory(archive.string());
  ASSERT_TRUE(read.ok());
  EXPECT_EQ(read.directory.header, 1u);
  std::vector<std::string> names;
  for (const SkinEntry& e : read.directory.entries) names.push_back(e.name);
  EXPECT_EQ(names,
            (std::vector<std::string>{"Close.BMP", "bigletters.bmp", "indexed.bmp", "pane.bmp"}));
  // Data follows the directory back to back, in entry order.
  std::uint32_t offset = 6 + 4 * 4;
  for (const SkinEntry& e : read.directory.entries) offset += 8 + e.name_length;
  for (const SkinEntry& e : read.directory.entries) {
    EXPECT_EQ(e.offset, offset) << e.name;
    offset += e.size;
  }
  EXPECT_EQ(offset, fs::file_size(archive));
  for (const auto& [name, bytes] : files) {
    const SkinEntry& e = read.directory.entries[FindSkinEntry(read.directory, name)];
    EXPECT_EQ(ReadSkinEntryData(archive.string(), e), bytes) << name;
  }

  const fs::path out = work.path() / "extracted";
  const SkinToolResult extracted = ExtractSkinArchive(archive.string(), out.string());
  ASSERT_TRUE(extracted.ok) << extracted.error;
  EXPECT_EQ(extracted.entries, 4u);
  for (const auto& [name, bytes] : files) EXPECT_EQ(test::ReadFile(out / name), bytes) << name;
}

TEST(SkinPack, ExtractKeepsEveryFileInsideTheFolder) {
  test::ScratchFolder work;
  const std::vector<SkinArchiveItem> items = {
      {"../escaped.bmp", {1}}, {"sub/inner.bmp", {2}}, {"..", {3}}, {".", {4}}, {"", {5}},
      {"ok.bmp", {6}},         {"ok.bmp", {7}},
  };
  const fs::path archive = work.path() / "evil.int";
  test::WriteFile(archive, *BuildSkinArchive(items));
  const fs::path out = work.path() / "deep" / "out";
  const SkinToolResult r = ExtractSkinArchive(archive.string(), out.string());
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.entries, 1u);
  EXPECT_EQ(test::ReadFile(out / "ok.bmp"), std::vector<std::uint8_t>{6}) << "first of a name wins";
  EXPECT_FALSE(fs::exists(work.path() / "deep" / "escaped.bmp"));
  std::size_t files = 0;
  for (const auto& f : fs::recursive_directory_iterator(work.path())) files += f.is_regular_file();
  EXPECT_EQ(files, 2u) << "only the archive and ok.bmp";
}

}  // namespace
}  // namespace vt
