#include "update/files.h"

#include <gtest/gtest.h>

#include "support/temporary_folder.h"

namespace muvra {
namespace {

using testing::readFile;
using testing::TemporaryFolder;
using testing::writeFile;

const std::uint8_t* bytesOf(const std::string& text) {
  return reinterpret_cast<const std::uint8_t*>(text.data());
}

TEST(NewFileTest, WritesFlushesAndCloses) {
  const TemporaryFolder folder;
  const auto path = folder / "update.part";
  auto file = NewFile::create(path);
  ASSERT_TRUE(file);
  const std::string first = "first block ";
  const std::string second(70000, 'x');
  EXPECT_TRUE(file->write(bytesOf(first), first.size()));
  EXPECT_TRUE(file->write(bytesOf(second), second.size()));
  EXPECT_TRUE(file->flush());
  file->close();
  EXPECT_FALSE(file->isOpen());
  EXPECT_EQ(readFile(path), first + second);
}

TEST(NewFileTest, NeverOpensAnExistingFile) {
  const TemporaryFolder folder;
  const auto path = folder / "update.part";
  writeFile(path, "kept");
  EXPECT_FALSE(NewFile::create(path));
  EXPECT_EQ(readFile(path), "kept");
  EXPECT_FALSE(NewFile::create(folder / "missing folder" / "update.part"));
}

TEST(NewFileTest, MovingHandsTheFileOver) {
  const TemporaryFolder folder;
  auto file = NewFile::create(folder / "a.part");
  ASSERT_TRUE(file);
  NewFile moved = std::move(*file);
  EXPECT_FALSE(file->isOpen());
  EXPECT_TRUE(moved.isOpen());
  const std::string text = "moved";
  EXPECT_TRUE(moved.write(bytesOf(text), text.size()));
  moved.close();
  EXPECT_EQ(readFile(folder / "a.part"), "moved");
}

TEST(NewFileTest, ReadsBackWhatItWroteAndMovesItselfOntoTheTarget) {
  const TemporaryFolder folder;
  writeFile(folder / "muvra.exe", "old");
  auto file = NewFile::create(folder / "new.part");
  ASSERT_TRUE(file);
  std::string bytes(200000, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<char>(i * 7 % 251);
  }
  ASSERT_TRUE(file->write(bytesOf(bytes), bytes.size()));
  ASSERT_TRUE(file->flush());
  FileReadStream stream(*file);
  // Across the stream's blocks, after a seek, and up to the end.
  stream.seekg(65530);
  std::string read(100000, '\0');
  ASSERT_TRUE(stream.read(read.data(), static_cast<std::streamsize>(read.size())));
  EXPECT_EQ(read, bytes.substr(65530, 100000));
  stream.seekg(0);
  std::string whole(bytes.size() + 1, '\0');
  stream.read(whole.data(), static_cast<std::streamsize>(whole.size()));
  EXPECT_EQ(stream.gcount(), static_cast<std::streamsize>(bytes.size()));
  EXPECT_TRUE(stream.eof());
  EXPECT_EQ(whole.substr(0, bytes.size()), bytes);
  EXPECT_TRUE(file->moveOnto(folder / "muvra.exe"));
  EXPECT_FALSE(file->isOpen());
  EXPECT_EQ(readFile(folder / "muvra.exe"), bytes);
  EXPECT_EQ(testing::listFolder(folder.path()), "muvra.exe");
}

TEST(HeldFileTest, OpensOnlyARegularFileAndReadsItThroughItsHandle) {
  const TemporaryFolder folder;
  writeFile(folder / "muvra.exe", "installed bytes");
  const auto file = HeldFile::open(folder / "muvra.exe");
  ASSERT_TRUE(file);
  EXPECT_EQ(file->size(), 15u);
  FileReadStream stream(*file);
  stream.seekg(10);
  std::string tail(5, '\0');
  ASSERT_TRUE(stream.read(tail.data(), 5));
  EXPECT_EQ(tail, "bytes");
  EXPECT_FALSE(HeldFile::open(folder / "missing.exe"));
  EXPECT_FALSE(HeldFile::open(folder.path()));
}

TEST(ReplaceFileTest, ReplacesAnExistingTarget) {
  const TemporaryFolder folder;
  writeFile(folder / "new.part", "new contents");
  writeFile(folder / "muvra.exe", "old");
  EXPECT_TRUE(replaceFile(folder / "new.part", folder / "muvra.exe"));
  EXPECT_EQ(readFile(folder / "muvra.exe"), "new contents");
  EXPECT_EQ(testing::listFolder(folder.path()), "muvra.exe");
}

TEST(ReplaceFileTest, FailsWithoutASource) {
  const TemporaryFolder folder;
  writeFile(folder / "muvra.exe", "old");
  EXPECT_FALSE(replaceFile(folder / "missing.part", folder / "muvra.exe"));
  EXPECT_EQ(readFile(folder / "muvra.exe"), "old");
}

TEST(RemoveFileQuietlyTest, RemovesOrIgnores) {
  const TemporaryFolder folder;
  writeFile(folder / "x.part", "x");
  removeFileQuietly(folder / "x.part");
  removeFileQuietly(folder / "x.part");
  EXPECT_EQ(testing::listFolder(folder.path()), "");
}

}  // namespace
}  // namespace muvra
