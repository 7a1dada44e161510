#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "RecordingUi.h"
#include "util/D_Util.h"

namespace vestrel {
namespace {

using Texts = std::vector<std::string>;

TextList ListOf(const Texts& texts) {
  TextList list;
  for (const std::string& text : texts) list.Add(text);
  return list;
}

TEST(Paths, TrailingDelimiter) {
  EXPECT_EQ(WithTrailingBackslash(""), "/");
  EXPECT_EQ(WithTrailingBackslash("/tmp"), "/tmp/");
  EXPECT_EQ(WithTrailingBackslash("/tmp/"), "/tmp/");
  EXPECT_EQ(WithTrailingBackslash("C:\\x\\"), "C:\\x\\");
}

TEST(Paths, ChangeExtension) {
  EXPECT_EQ(ChangeExtension("/opt/vestrel/vestrel", "ini"), "/opt/vestrel/vestrel.ini");
  EXPECT_EQ(ChangeExtension("/opt/vestrel/vestrel.exe", ".txt"), "/opt/vestrel/vestrel.txt");
  EXPECT_EQ(ChangeExtension("/opt/v.1/vestrel", "txt"), "/opt/v.1/vestrel.txt");  // dot before the file name
  EXPECT_EQ(ChangeExtension("a.tar.gz", "zip"), "a.tar.zip");
  EXPECT_EQ(ChangeExtension("a.txt", ""), "a");
  EXPECT_EQ(ChangeExtension("a", ""), "a");
  EXPECT_EQ(ChangeExtension("", "ini"), ".ini");
}

TEST(Paths, ProgramFileBesideTheProgram) {
  const std::string program = ProgramFilePath();
  ASSERT_FALSE(program.empty());
  EXPECT_EQ(program.front(), '/');
  EXPECT_NE(program.find("util_tests"), std::string::npos);
  EXPECT_EQ(ProgramFileWithExt("txt"), ChangeExtension(program, ".txt"));
}

// An installed program keeps its data files in <prefix>/share/vestrel, found from its own
// folder; one file of the same name beside the program is taken first, as in the build folder.
TEST(Paths, ProgramDataFileBesideTheProgramElseInTheInstalledFolder) {
  namespace fs = std::filesystem;
  const fs::path programFolder = fs::path(ProgramFilePath()).parent_path();
  const fs::path installedFolder = InstalledDataFolder();
  EXPECT_EQ(installedFolder, (programFolder.parent_path() / "share" / "vestrel").lexically_normal());
  const std::string beside = ProgramFileWithExt("installprobe");
  const fs::path installed = installedFolder / fs::path(beside).filename();
  fs::remove(beside);
  fs::remove(installed);

  EXPECT_EQ(ProgramDataFileWithExt("installprobe"), beside);  // neither: the name beside the program
  fs::create_directories(installedFolder);
  std::ofstream(installed) << "installed";
  EXPECT_EQ(ProgramDataFileWithExt("installprobe"), installed.string());
  std::ofstream(beside) << "beside";
  EXPECT_EQ(ProgramDataFileWithExt("installprobe"), beside);

  fs::remove(beside);
  fs::remove(installed);
  std::error_code notEmpty;  // the folders go only when the test made them
  fs::remove(installedFolder, notEmpty);
  fs::remove(installedFolder.parent_path(), notEmpty);
}

TEST(ListArithmetic, RemoveDeletesFirstEqualEntryOncePerItem) {
  TextList target = ListOf({"a", "B", "a", "c", "A"});
  TextList items = ListOf({"A", "b", "x", "a"});
  RemoveListItems(&target, &items);
  EXPECT_EQ(target.ToVector(), (Texts{"c", "A"}));
  RemoveListItems(&target, nullptr);
  RemoveListItems(nullptr, &items);
  EXPECT_EQ(target.Count(), 2);
}

TEST(ListArithmetic, RemoveAListFromItself) {
  TextList list = ListOf({"a", "b", "a"});
  RemoveListItems(&list, &list);
  EXPECT_TRUE(list.Empty());
}

TEST(ListArithmetic, AppendSkipsContainedItemsUnlessAllowed) {
  TextList target = ListOf({"a"});
  TextList items = ListOf({"A", "b", "B", "c"});
  items.SetObject(3, 9);
  AppendListItems(&target, &items, false);
  EXPECT_EQ(target.ToVector(), (Texts{"a", "b", "c"}));
  EXPECT_EQ(target.Objects(2), 9);
  AppendListItems(&target, &items, true);
  EXPECT_EQ(target.Count(), 7);
  AppendListItems(&target, &target, true);
  EXPECT_EQ(target.Count(), 14);
  AppendListItems(nullptr, &items, true);
}

TEST(ListArithmetic, TextsThatDifferInMoreThanCaseAreDifferentItems) {
  const std::string superscript = "x\xC2\xB2";  // x and a superscript two
  TextList target = ListOf({superscript, "x2"});
  TextList items = ListOf({"X2"});
  RemoveListItems(&target, &items);
  EXPECT_EQ(target.ToVector(), (Texts{superscript}));
  AppendListItems(&target, &items, false);
  EXPECT_EQ(target.ToVector(), (Texts{superscript, "X2"}));
}

TEST(ListArithmetic, LargeListsStayFast) {
  TextList target, items;
  for (int i = 0; i < 50000; ++i) target.Add("entry " + std::to_string(i));
  for (int i = 0; i < 50000; i += 2) items.Add("ENTRY " + std::to_string(i));
  RemoveListItems(&target, &items);
  EXPECT_EQ(target.Count(), 25000);
  EXPECT_EQ(target[0], "entry 1");
  AppendListItems(&target, &items, false);
  EXPECT_EQ(target.Count(), 50000);
}

TEST(GridAndUi, ClearGridCellsToleratesAbsentGrid) {
  ClearGridCells(nullptr);
  StringGrid grid(2, 2);
  grid.SetCell(1, 1, "x");
  ClearGridCells(&grid);
  EXPECT_EQ(grid.Cell(1, 1), "");
  EXPECT_EQ(grid.RowCount(), 2);
}

TEST(GridAndUi, CursorIsSavedAndRestored) {
  testing::RecordingUi ui;
  CursorKind saved = CursorKind::Hourglass;
  SaveCursorShowHourglass(saved);
  EXPECT_EQ(saved, CursorKind::Default);
  EXPECT_EQ(ui.Cursor(), CursorKind::Hourglass);
  RestoreCursor(saved);
  EXPECT_EQ(ui.cursorChanges, (std::vector<CursorKind>{CursorKind::Hourglass, CursorKind::Default}));
}

TEST(GridAndUi, NoticeHasOneOkButton) {
  testing::RecordingUi ui;
  ShowNotice(DialogKind::Information, "Saved as x.xml");
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0], (testing::RecordedBox{DialogKind::Information, "Saved as x.xml", DialogButtons::Ok}));
}

TEST(GridAndUi, ConfirmationIsTrueOnlyForOk) {
  testing::RecordingUi ui;
  ui.QueueAnswer(DialogResult::Ok);
  ui.QueueAnswer(DialogResult::Abort);
  ui.QueueAnswer(DialogResult::Cancel);
  EXPECT_TRUE(ConfirmAction());
  EXPECT_FALSE(ConfirmAction());
  EXPECT_FALSE(ConfirmAction());
  ASSERT_EQ(ui.boxes.size(), 3u);
  EXPECT_EQ(ui.boxes[0],
            (testing::RecordedBox{DialogKind::Confirmation, "Are you sure?", DialogButtons::OkAbort}));
}

}  // namespace
}  // namespace vestrel
