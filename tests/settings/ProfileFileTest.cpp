#include "settings/ProfileFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "SettingsTestFiles.h"

namespace vestrel {
namespace {

using testing::FileExists;
using testing::ReadWholeFile;
using testing::StatOf;
using testing::TempFolder;
using testing::WriteWholeFile;

class ProfileFileTest : public ::testing::Test {
 protected:
  TempFolder folder;
  std::string path = folder.File("test.ini");
};

TEST_F(ProfileFileTest, AMissingFileGivesTheDefaults) {
  const ProfileFile file(path);
  EXPECT_EQ(file.ReadString("S", "k", "fallback"), "fallback");
  EXPECT_EQ(file.ReadInteger("S", "k", -7), -7);
  EXPECT_TRUE(file.ReadSection("S").empty());
  EXPECT_FALSE(FileExists(path));
}

TEST_F(ProfileFileTest, IntegersFollowTheTextConversion) {
  WriteWholeFile(path, "[S]\nplain=42\nspaced= - 5 \nhex=$1A\nword=abc\nempty=\nquoted=\"12\"\nhuge=99999999999\n");
  const ProfileFile file(path);
  EXPECT_EQ(file.ReadInteger("S", "plain", 0), 42);
  EXPECT_EQ(file.ReadInteger("S", "spaced", 0), -5);
  EXPECT_EQ(file.ReadInteger("S", "hex", 0), 26);
  EXPECT_EQ(file.ReadInteger("S", "word", 3), 3);
  EXPECT_EQ(file.ReadInteger("S", "empty", 3), 3);
  EXPECT_EQ(file.ReadInteger("S", "quoted", 3), 12);
  EXPECT_EQ(file.ReadInteger("S", "huge", 3), 3);
}

TEST_F(ProfileFileTest, EveryCallReadsTheFileAnew) {
  ProfileFile file(path);
  WriteWholeFile(path, "[S]\nk=1\n");
  EXPECT_EQ(file.ReadString("S", "k", ""), "1");
  WriteWholeFile(path, "[S]\nk=2\n");
  EXPECT_EQ(file.ReadString("S", "k", ""), "2");
  EXPECT_EQ(file.ReadSection("S"), std::vector<std::string>{"k=2"});
}

TEST_F(ProfileFileTest, WritesCreateTheFileAndKeepEverythingElse) {
  ProfileFile file(path);
  file.WriteString("Settings", "Name", "first");
  file.WriteInteger("Settings", "Count", -3);
  EXPECT_EQ(ReadWholeFile(path), "[Settings]\nName=first\nCount=-3\n");

  const std::string original = "; kept\r\n[Other]\r\n  x = 1 \r\n\r\n[settings]\r\nname = 'old'\r\n\r\n";
  WriteWholeFile(path, original);
  file.WriteString("Settings", "NAME", "new");
  file.WriteInteger("Settings", "Count", 5);
  EXPECT_EQ(ReadWholeFile(path), "; kept\r\n[Other]\r\n  x = 1 \r\n\r\n[settings]\r\nname = new\r\nCount=5\r\n\r\n");
}

TEST_F(ProfileFileTest, AWriteReplacesTheFileAndLeavesNoTemporaryFile) {
  WriteWholeFile(path, "[S]\nk=1\n");
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  const ino_t before = StatOf(path).st_ino;
  ProfileFile file(path);
  const auto serial = file.Serial();
  file.WriteString("S", "k", "2");
  EXPECT_NE(StatOf(path).st_ino, before);  // a new file was renamed into place
  EXPECT_EQ(StatOf(path).st_mode & 07777, 0640u);
  EXPECT_EQ(folder.Listing(), "test.ini\n");
  EXPECT_NE(file.Serial(), serial);
  EXPECT_NE(ProfileFile(path).Serial(), ProfileFile(path).Serial());
}

TEST_F(ProfileFileTest, AnUnchangedValueIsNotWritten) {
  WriteWholeFile(path, "[S]\nk=same\n");
  const ino_t before = StatOf(path).st_ino;
  ProfileFile file(path);
  file.WriteString("s", "K", "same");
  EXPECT_EQ(StatOf(path).st_ino, before);
}

TEST_F(ProfileFileTest, AWriteThatCannotBeDoneNamesTheFile) {
  const std::string nowhere = folder.File("missing/test.ini");
  ProfileFile file(nowhere);
  try {
    file.WriteString("S", "k", "v");
    FAIL() << "no error";
  } catch (const ProfileWriteError& error) {
    EXPECT_STREQ(error.what(), ("Unable to write to " + nowhere).c_str());
  }
  EXPECT_FALSE(FileExists(folder.File("missing")));
}

TEST_F(ProfileFileTest, AFileThatCannotBeReadIsNotOverwritten) {
  // A folder where the file should be: reading it fails, so writing would lose it.
  ASSERT_EQ(::mkdir(path.c_str(), 0755), 0);
  WriteWholeFile(path + "/inside", "kept");
  ProfileFile file(path);
  EXPECT_EQ(file.ReadString("S", "k", "def"), "def");
  EXPECT_THROW(file.WriteString("S", "k", "v"), ProfileWriteError);
  EXPECT_EQ(ReadWholeFile(path + "/inside"), "kept");
  EXPECT_EQ(folder.Listing(), "test.ini\n");
}

TEST_F(ProfileFileTest, APipeInPlaceOfTheFileDoesNotHoldUpReading) {
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  const ProfileFile file(path);
  EXPECT_EQ(file.ReadString("S", "k", "def"), "def");
  EXPECT_EQ(file.ReadInteger("S", "k", 4), 4);
}

TEST_F(ProfileFileTest, AFileFarTooBigIsNeitherReadNorReplaced) {
  WriteWholeFile(path, "[S]\nk=1\n");
  ASSERT_EQ(::truncate(path.c_str(), off_t{1} << 36), 0);  // sparse: no disk space used
  ProfileFile file(path);
  EXPECT_EQ(file.ReadString("S", "k", "def"), "def");
  EXPECT_THROW(file.WriteString("S", "k", "2"), ProfileWriteError);
  EXPECT_EQ(StatOf(path).st_size, off_t{1} << 36);
}

TEST_F(ProfileFileTest, AReadOnlyFileIsNotReplaced) {
  WriteWholeFile(path, "[S]\nk=1\n");
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  ProfileFile file(path);
  try {
    file.WriteString("S", "k", "2");
    FAIL() << "no error";
  } catch (const ProfileWriteError& error) {
    EXPECT_STREQ(error.what(), ("Unable to write to " + path).c_str());
  }
  EXPECT_EQ(ReadWholeFile(path), "[S]\nk=1\n");
  EXPECT_EQ(StatOf(path).st_mode & 07777, 0444u);
}

TEST_F(ProfileFileTest, ALinkedFileStaysLinked) {
  const std::string real = folder.File("real.ini");
  WriteWholeFile(real, "[S]\nk=1\n");
  ASSERT_EQ(::symlink(real.c_str(), path.c_str()), 0);
  ProfileFile file(path);
  file.WriteString("S", "k", "2");
  struct stat info {};
  ASSERT_EQ(::lstat(path.c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  EXPECT_EQ(ReadWholeFile(real), "[S]\nk=2\n");
}

TEST_F(ProfileFileTest, LineBreaksInAValueCannotAddEntries) {
  ProfileFile file(path);
  file.WriteString("S", "k", "a\r\n[Evil]\nx=1");
  EXPECT_EQ(ReadWholeFile(path), "[S]\nk=a  [Evil] x=1\n");
  EXPECT_EQ(file.ReadSection("Evil").size(), 0u);
  EXPECT_THROW(file.WriteString("S", "a=b", "v"), std::invalid_argument);
  EXPECT_THROW(file.WriteString("S\n[T]", "k", "v"), std::invalid_argument);
  EXPECT_THROW(file.WriteString("S]", "k", "v"), std::invalid_argument);
}

TEST_F(ProfileFileTest, MalformedFilesGiveDefaultsAndSurviveAWrite) {
  std::string garbage;
  for (int i = 0; i < 4096; ++i) garbage += static_cast<char>((i * 131 + 7) % 256);
  garbage += std::string(3, '\0');
  const std::string hugeLine = "[S" + std::string(10 * 1024 * 1024, '=') + "\n";
  const std::string noSections = "k=1\nk2=2\n=\n";
  for (const std::string& content : {garbage, hugeLine, noSections}) {
    WriteWholeFile(path, content);
    ProfileFile file(path);
    EXPECT_EQ(file.ReadString("S", "k", "def"), "def");
    EXPECT_EQ(file.ReadInteger("S", "k", 9), 9);
    file.WriteString("S", "k", "v");
    const std::string written = ReadWholeFile(path);
    EXPECT_EQ(written.substr(0, content.size()), content);
    EXPECT_EQ(file.ReadString("S", "k", "def"), "v");
  }
}

}  // namespace
}  // namespace vestrel
