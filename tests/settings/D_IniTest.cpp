#include "settings/D_Ini.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "RecordingUi.h"
#include "SettingsTestFiles.h"

namespace vestrel {
namespace {

using testing::FileExists;
using testing::ReadWholeFile;
using testing::RecordingUi;
using testing::StatOf;
using testing::TempFolder;
using testing::WriteWholeFile;

class FakeWindow : public SettingsWindow {
 public:
  std::string name = "MainForm";
  WindowPlacement placement = WindowPlacement::Designed;
  int top = 120, left = 80, width = 800, height = 600;

  std::string Name() const override { return name; }
  WindowPlacement Placement() const override { return placement; }
  int Top() const override { return top; }
  int Left() const override { return left; }
  int Width() const override { return width; }
  int Height() const override { return height; }
  void SetTop(int value) override { top = value; }
  void SetLeft(int value) override { left = value; }
  void SetWidth(int value) override { width = value; }
  void SetHeight(int value) override { height = value; }
};

class FakeControl : public SettingsControl {
 public:
  FakeControl(std::string controlName, std::vector<std::string> entries, int selected,
              ControlKind controlKind = ControlKind::DropDownList)
      : name(std::move(controlName)), kind(controlKind), items(std::move(entries)), selected(selected) {}

  std::string name;
  ControlKind kind;
  std::vector<std::string> items;
  int selected;
  int width = 145, height = 21;
  std::vector<SettingsControl*> children;

  std::string Name() const override { return name; }
  ControlKind Kind() const override { return kind; }
  int Width() const override { return width; }
  int Height() const override { return height; }
  void SetWidth(int value) override { width = value; }
  void SetHeight(int value) override { height = value; }
  std::vector<std::string> Items() const override { return items; }
  int SelectedIndex() const override { return selected; }
  void SetSelectedIndex(int index) override { selected = index; }
  std::string SelectedText() const override {
    return selected >= 0 && selected < static_cast<int>(items.size()) ? items[static_cast<std::size_t>(selected)] : "";
  }
  std::vector<SettingsControl*> Children() const override { return children; }
};

const std::vector<std::string> kTypes{"XLS", "XML", "HTML", "TXT"};

// The main window as the settings see it, with a settings folder of the test's own.
class SettingsStoreTest : public ::testing::Test {
 protected:
  SettingsStoreTest() {
    const char* previous = std::getenv("XDG_CONFIG_HOME");
    if (previous != nullptr) savedConfigHome = previous;
    UseConfigFolder(folder.Path());
  }
  ~SettingsStoreTest() override {
    if (savedConfigHome)
      ::setenv("XDG_CONFIG_HOME", savedConfigHome->c_str(), 1);
    else
      ::unsetenv("XDG_CONFIG_HOME");
  }

  static void UseConfigFolder(const std::string& path) { ::setenv("XDG_CONFIG_HOME", path.c_str(), 1); }

  std::string IniPath() const { return folder.File("settings_tests.ini"); }

  bool Close() {
    SettingsControl* controls[] = {&trees, &typeS, &typeP};
    return SaveMainWindowSettings(window, controls);
  }

  // What the window does when it is created and shown.
  void Open() {
    RestoreControlState(trees);
    RestoreControlState(typeS);
    RestoreControlState(typeP);
    RestoreWindowGeometry(window);
  }

  TempFolder folder;
  std::optional<std::string> savedConfigHome;
  RecordingUi ui;
  FakeWindow window;
  FakeControl trees{"ComboBoxTrees", {"ACME_TREE", "LAB_TREE"}, 1};
  FakeControl typeS{"ComboBoxTypeS", kTypes, 0};
  FakeControl typeP{"ComboBoxTypeP", kTypes, 0};
};

TEST_F(SettingsStoreTest, TheFileLiesInTheConfigFolderUnderTheProgramsName) {
  EXPECT_EQ(SettingsFilePath(), IniPath());
  UseConfigFolder(folder.Path() + "/");
  EXPECT_EQ(SettingsFilePath(), IniPath());
}

TEST_F(SettingsStoreTest, FirstCloseWritesTheSevenEntriesInOrder) {
  window.top = 10;
  window.left = -20;
  typeP.selected = 2;
  EXPECT_TRUE(Close());
  EXPECT_EQ(ReadWholeFile(IniPath()),
            "[Settings]\n"
            "MainForm.Top=10\n"
            "MainForm.Left=-20\n"
            "MainForm.Width=800\n"
            "MainForm.Height=600\n"
            "ComboBoxTrees=LAB_TREE\n"
            "ComboBoxTypeS=XLS\n"
            "ComboBoxTypeP=HTML\n");
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(SettingsStoreTest, AComboBoxWithoutSelectionIsNotWritten) {
  trees.selected = -1;
  Close();
  const std::string text = ReadWholeFile(IniPath());
  EXPECT_EQ(text.find("ComboBoxTrees"), std::string::npos);
  EXPECT_NE(text.find("ComboBoxTypeP=XLS\n"), std::string::npos);
}

TEST_F(SettingsStoreTest, ASecondCloseWithoutChangesWritesNothing) {
  Close();
  const struct stat before = StatOf(IniPath());
  const std::string bytes = ReadWholeFile(IniPath());
  EXPECT_TRUE(Close());
  const struct stat after = StatOf(IniPath());
  EXPECT_EQ(ReadWholeFile(IniPath()), bytes);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  EXPECT_EQ(folder.Listing(), "settings_tests.ini\n");
}

TEST_F(SettingsStoreTest, AChangeRewritesOnlyItsOwnEntry) {
  Close();
  window.width = 1024;
  typeS.selected = 3;
  Close();
  EXPECT_EQ(ReadWholeFile(IniPath()),
            "[Settings]\nMainForm.Top=120\nMainForm.Left=80\nMainForm.Width=1024\nMainForm.Height=600\n"
            "ComboBoxTrees=LAB_TREE\nComboBoxTypeS=TXT\nComboBoxTypeP=XLS\n");
}

TEST_F(SettingsStoreTest, WithoutAFileEverythingStaysAsDesigned) {
  Open();
  EXPECT_EQ(window.top, 120);
  EXPECT_EQ(window.width, 800);
  EXPECT_EQ(trees.selected, 1);
  EXPECT_EQ(typeS.selected, 0);
  EXPECT_EQ(typeS.width, 145);
  EXPECT_FALSE(FileExists(IniPath()));
}

TEST_F(SettingsStoreTest, StoredSettingsComeBack) {
  WriteWholeFile(IniPath(),
                 "[Settings]\nMainForm.Top=33\nMainForm.Left=44\nMainForm.Width=1000\nMainForm.Height=700\n"
                 "ComboBoxTrees=ACME_TREE\nComboBoxTypeS=TXT\nComboBoxTypeP=HTML\n");
  Open();
  EXPECT_EQ(window.top, 33);
  EXPECT_EQ(window.left, 44);
  EXPECT_EQ(window.width, 1000);
  EXPECT_EQ(window.height, 700);
  EXPECT_EQ(trees.selected, 0);
  EXPECT_EQ(typeS.selected, 3);
  EXPECT_EQ(typeP.selected, 2);
}

TEST_F(SettingsStoreTest, AStoredZeroCountsAsAbsent) {
  WriteWholeFile(IniPath(), "[Settings]\nMainForm.Left=0\nMainForm.Width=0\nMainForm.Top=5\nMainForm.Height=abc\n");
  RestoreWindowGeometry(window);
  EXPECT_EQ(window.left, 80);
  EXPECT_EQ(window.width, 800);
  EXPECT_EQ(window.top, 5);
  EXPECT_EQ(window.height, 600);
}

TEST_F(SettingsStoreTest, AWindowNotPlacedAsDesignedKeepsItsPlace) {
  WriteWholeFile(IniPath(), "[Settings]\nMainForm.Left=5\nMainForm.Width=500\n");
  window.placement = WindowPlacement::Other;
  RestoreWindowGeometry(window);
  EXPECT_EQ(window.left, 80);
  EXPECT_EQ(window.width, 800);
}

TEST_F(SettingsStoreTest, AnUnknownStoredEntryLeavesNoSelection) {
  WriteWholeFile(IniPath(), "[Settings]\nComboBoxTrees=GONE_TREE\nComboBoxTypeS=PDF\n");
  Open();
  EXPECT_EQ(trees.selected, -1);
  EXPECT_EQ(typeS.selected, -1);
  EXPECT_EQ(typeP.selected, 0);  // no entry: the current selection stands
}

TEST_F(SettingsStoreTest, AStoredNameDifferingOnlyInCaseSelectsTheEntry) {
  WriteWholeFile(IniPath(), "[SETTINGS]\ncomboboxtrees=acme_tree\nComboBoxTypeP= 'html' \n");
  Open();
  EXPECT_EQ(trees.selected, 0);
  EXPECT_EQ(typeP.selected, 2);
}

TEST_F(SettingsStoreTest, AHandAddedComboBoxWidthIsApplied) {
  WriteWholeFile(IniPath(), "[Settings]\nComboBoxTypeS.Width=120\nComboBoxTypeP.Height=30\n");
  Open();
  EXPECT_EQ(typeS.width, 120);
  EXPECT_EQ(typeS.height, 21);
  EXPECT_EQ(typeP.width, 145);
  EXPECT_EQ(typeP.height, 30);
  EXPECT_EQ(trees.width, 145);
}

TEST_F(SettingsStoreTest, AHandEditedFileKeepsItsShapeAcrossASave) {
  const std::string handMade =
      "; written by hand\r\n"
      "# with both kinds of comment\r\n"
      "[Display]\r\n"
      "Theme = \"dark\"\r\n"
      "\r\n"
      "[settings]\r\n"
      "  mainform.top   =   120  \r\n"
      "MainForm.Left='80'\r\n"
      "ComboBoxTrees = \"LAB_TREE\"\r\n"
      "; trailing comment\r\n"
      "\r\n"
      "[Other]\r\n"
      "x=1\r\n";
  WriteWholeFile(IniPath(), handMade);
  window.width = 640;
  EXPECT_TRUE(Close());
  EXPECT_EQ(ReadWholeFile(IniPath()),
            "; written by hand\r\n"
            "# with both kinds of comment\r\n"
            "[Display]\r\n"
            "Theme = \"dark\"\r\n"
            "\r\n"
            "[settings]\r\n"
            "  mainform.top   =   120  \r\n"
            "MainForm.Left='80'\r\n"
            "ComboBoxTrees = \"LAB_TREE\"\r\n"
            "MainForm.Width=640\r\n"
            "MainForm.Height=600\r\n"
            "ComboBoxTypeS=XLS\r\n"
            "ComboBoxTypeP=XLS\r\n"
            "; trailing comment\r\n"
            "\r\n"
            "[Other]\r\n"
            "x=1\r\n");
}

TEST_F(SettingsStoreTest, AnUnwritableFolderGivesOneErrorAndTheCloseGoesOn) {
  const std::string missing = folder.File("no-such-folder");
  UseConfigFolder(missing);
  EXPECT_FALSE(Close());
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].kind, DialogKind::Error);
  EXPECT_EQ(ui.boxes[0].text, "Unable to write to " + missing + "/settings_tests.ini");
  EXPECT_FALSE(FileExists(missing));
  EXPECT_EQ(folder.Listing(), "");
}

TEST_F(SettingsStoreTest, SavingAControlLetsTheWriteErrorThrough) {
  UseConfigFolder(folder.File("no-such-folder"));
  EXPECT_NO_THROW(SaveWindowGeometry(window));
  EXPECT_THROW(SaveControlState(trees), ProfileWriteError);
  trees.selected = -1;  // nothing to write: nothing fails
  EXPECT_NO_THROW(SaveControlState(trees));
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(SettingsStoreTest, MalformedFilesGiveTheDefaults) {
  std::string binary;
  for (int i = 0; i < 2048; ++i) binary += static_cast<char>((i * 97 + 13) % 256);
  binary += std::string("\0\0[Settings\0]\0", 14);
  const std::string hugeLine = "MainForm.Top=" + std::string(10 * 1024 * 1024, '7') + "\n";
  const std::string noSections = "MainForm.Top=5\nComboBoxTrees=ACME_TREE\nComboBoxTypeS.Width=9\n";
  for (const std::string& content : {binary, hugeLine, noSections}) {
    WriteWholeFile(IniPath(), content);
    FakeWindow freshWindow;
    FakeControl freshTrees{"ComboBoxTrees", {"ACME_TREE", "LAB_TREE"}, 1};
    RestoreControlState(freshTrees);
    RestoreWindowGeometry(freshWindow);
    EXPECT_EQ(freshWindow.top, 120);
    EXPECT_EQ(freshTrees.selected, 1);
    EXPECT_EQ(freshTrees.width, 145);
    EXPECT_TRUE(Close());
    EXPECT_EQ(ReadWholeFile(IniPath()).substr(0, content.size()), content);
  }
}

TEST_F(SettingsStoreTest, ChildControlsFollowTheirParentInOrder) {
  FakeControl panel{"Panel1", {}, -1, ControlKind::Other};
  FakeControl unnamed{"", kTypes, 1};
  panel.children = {&typeP, &unnamed, &typeS};
  typeP.selected = 1;
  SaveControlState(panel);
  EXPECT_EQ(ReadWholeFile(IniPath()), "[Settings]\nComboBoxTypeP=XML\nComboBoxTypeS=XLS\n");
  typeP.selected = typeS.selected = 3;
  RestoreControlState(panel);
  EXPECT_EQ(typeP.selected, 1);
  EXPECT_EQ(typeS.selected, 0);
}

TEST_F(SettingsStoreTest, WritesHappenOnlyForChangedValues) {
  WriteWholeFile(IniPath(), "[Settings]\nQuoted=\"abc\"\nNumber= 007 \n");
  ProfileFile file(IniPath());
  const ino_t before = StatOf(IniPath()).st_ino;
  WriteStringIfChanged(file, "Settings", "Quoted", "abc");
  WriteStringIfChanged(file, "[Settings]", "Quoted", "\"abc\"");
  WriteIntegerIfChanged(file, "Settings", "Number", 7);
  WriteIntegerIfChanged(file, "Settings", "[]", 1);
  WriteStringIfChanged(file, "Settings", "][", "x");
  WriteStringIfChanged(file, "Settings", "Absent", "");
  EXPECT_EQ(StatOf(IniPath()).st_ino, before);
  WriteStringIfChanged(file, "Settings", "Quoted", "abcd");
  WriteIntegerIfChanged(file, "Settings", "[New]", 0);
  EXPECT_EQ(ReadWholeFile(IniPath()), "[Settings]\nQuoted=abcd\nNumber= 007 \nNew=0\n");
}

TEST_F(SettingsStoreTest, CleanIniNameDropsBrackets) {
  EXPECT_EQ(CleanIniName("[Main]Form]["), "MainForm");
  EXPECT_EQ(CleanIniName("[]"), "");
}

TEST_F(SettingsStoreTest, TheSectionCacheNeverServesAnotherFilesValues) {
  WriteWholeFile(IniPath(), "[Settings]\nA.Width=1\n[Other]\nA.Width=2\n");
  {
    const ProfileFile file(IniPath());
    EXPECT_EQ(ReadIntegerCached(file, "Settings", "[A].Width", 0), 1);
    EXPECT_EQ(ReadIntegerCached(file, "Other", "a.width", 0), 2);
    EXPECT_EQ(ReadIntegerCached(file, "Settings", "Missing", 9), 9);
  }
  WriteWholeFile(IniPath(), "[Settings]\nA.Width=3\nB.Width=x\n");
  {
    // A new file object, perhaps at the same address as the last one, reads afresh.
    ProfileFile file(IniPath());
    EXPECT_EQ(ReadIntegerCached(file, "Settings", "A.Width", 0), 3);
    EXPECT_EQ(ReadIntegerCached(file, "Settings", "B.Width", 4), 4);
    file.WriteInteger("Settings", "A.Width", 5);
    EXPECT_EQ(ReadIntegerCached(file, "Settings", "A.Width", 0), 5);
  }
}

}  // namespace
}  // namespace vestrel
