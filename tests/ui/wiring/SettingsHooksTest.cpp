// What the main window keeps between runs: geometry and the three selections written at
// close (only what changed), read back at creation and show; a folder that cannot be
// written; the web link of the status bar.
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <algorithm>
#include <sys/stat.h>

#include "WiringFixture.h"

namespace vestrel::testing {
namespace {

struct FileStamp {
  ino_t inode = 0;
  timespec modified{};
  bool operator==(const FileStamp& other) const {
    return inode == other.inode && modified.tv_sec == other.modified.tv_sec &&
           modified.tv_nsec == other.modified.tv_nsec;
  }
};

FileStamp StampOf(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
  return {info.st_ino, info.st_mtim};
}

using SettingsHooksTest = WiringTest;

// ---- First run, a later run ----

TEST_F(SettingsHooksTest, FirstCloseWritesTheSevenEntriesInOrderAndALaterCloseWritesNothing) {
  {
    auto form = NewForm();
    // No file yet: the preferred tree stands and both pages offer "XLS".
    EXPECT_EQ(form->ComboBoxTrees->currentText(), "ALPHA_TREE");
    EXPECT_EQ(form->ComboBoxTypeS->currentText(), "XLS");
    EXPECT_EQ(form->ComboBoxTypeP->currentText(), "XLS");
    form->move(40, 50);
    Show(*form);
    EXPECT_EQ(form->pos(), QPoint(40, 50));
    EXPECT_EQ(form->size(), QSize(769, 679));
    form->ComboBoxTypeP->setCurrentIndex(form->ComboBoxTypeP->findText("HTML"));
    EXPECT_TRUE(form->close());
  }
  // The config folder did not exist: it was made, for the owner only.
  const QFileInfo folder(ConfigFolder());
  ASSERT_TRUE(folder.isDir());
  EXPECT_EQ(folder.permissions() & (QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther), 0);
  const std::string path = SettingsFilePath();
  EXPECT_EQ(FileLines(path),
            (std::vector<std::string>{"[Settings]", "MainForm.Top=50", "MainForm.Left=40", "MainForm.Width=769",
                                      "MainForm.Height=679", "ComboBoxTrees=ALPHA_TREE", "ComboBoxTypeS=XLS",
                                      "ComboBoxTypeP=HTML"}));
  EXPECT_TRUE(ui.boxes.empty());

  const std::string before = FileText(path);
  const FileStamp stamp = StampOf(path);
  {
    auto form = NewForm();
    EXPECT_EQ(form->ComboBoxTypeP->currentText(), "HTML");
    Show(*form);
    EXPECT_EQ(form->pos(), QPoint(40, 50));
    EXPECT_TRUE(form->close());
  }
  EXPECT_EQ(FileText(path), before);
  EXPECT_TRUE(StampOf(path) == stamp) << "an unchanged close replaced the file";
  EXPECT_TRUE(ui.boxes.empty());
}

// ---- Reading back ----

TEST_F(SettingsHooksTest, AStoredZeroKeepsTheDesignedValue) {
  WriteSettings("[Settings]\r\nMainForm.Top=0\r\nMainForm.Left=0\r\nMainForm.Width=0\r\nMainForm.Height=500\r\n");
  auto form = NewForm();
  form->move(40, 50);
  Show(*form);
  EXPECT_EQ(form->pos(), QPoint(40, 50));
  EXPECT_EQ(form->size(), QSize(769, 500));
}

TEST_F(SettingsHooksTest, StoredNamesOutsideTheListsLeaveNoSelectionAndNoTreeChange) {
  WriteSettings("[Settings]\r\nComboBoxTrees=GONE_TREE\r\nComboBoxTypeS=PDF\r\nComboBoxTypeP=\"TXT\"\r\n");
  auto form = NewForm();
  EXPECT_EQ(form->ComboBoxTrees->currentIndex(), -1);
  EXPECT_EQ(form->ComboBoxTypeS->currentIndex(), -1);
  EXPECT_EQ(form->ComboBoxTypeP->currentText(), "TXT");  // quotes are the file's, not the value's
  Show(*form);
  EXPECT_EQ(nwtest::CallCount("DSContextSetValue"), 0u);
  EXPECT_EQ(form->EditMyName->text(), "EditMyName");
  // A box without a selection writes nothing: the saved tree is chosen again in a run
  // where it is connected.
  EXPECT_TRUE(form->close());
  const std::vector<std::string> lines = FileLines(SettingsFilePath());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "ComboBoxTrees=GONE_TREE"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "ComboBoxTypeS=PDF"), lines.end());
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(SettingsHooksTest, AStoredTreeDifferingOnlyInCaseIsSelectedAndShowingChangesToIt) {
  WriteSettings("[settings]\r\ncomboboxtrees=beta_tree\r\nComboBoxTypeS=html\r\n");
  auto form = NewForm();
  EXPECT_EQ(form->ComboBoxTrees->currentText(), "BETA_TREE");
  EXPECT_EQ(form->ComboBoxTypeS->currentText(), "HTML");
  // Restoring the selection ran no tree change; showing does.
  EXPECT_EQ(ContextTreeName(MainContext), "ALPHA_TREE");
  EXPECT_EQ(form->EditMyName->text(), "EditMyName");
  Show(*form);
  EXPECT_EQ(ContextTreeName(MainContext), "BETA_TREE");
  EXPECT_EQ(form->EditMyName->text(), "admin.BETA");
}

TEST_F(SettingsHooksTest, HandAddedComboBoxSizesAreApplied) {
  WriteSettings("[Settings]\r\nComboBoxTypeS.Width=120\r\nComboBoxTypeP.Height=1000000\r\n");
  auto form = NewForm();
  Show(*form);
  EXPECT_EQ(form->ComboBoxTypeS->width(), 120);
  EXPECT_NE(form->ComboBoxTypeP->width(), 120);
  // A silly height is kept within reason.
  EXPECT_LE(form->ComboBoxTypeP->height(), 256);
}

TEST_F(SettingsHooksTest, AFarOffStoredPositionKeepsTheWindowWithinReach) {
  WriteSettings("[Settings]\r\nMainForm.Left=-100000\r\nMainForm.Top=999999\r\nMainForm.Width=700\r\n");
  auto form = NewForm();
  Show(*form);
  const QRect desktop = QGuiApplication::primaryScreen()->virtualGeometry();
  EXPECT_EQ(form->width(), 700);
  EXPECT_GT(form->x() + form->width(), desktop.left());
  EXPECT_LT(form->y(), desktop.bottom());
  EXPECT_GE(form->y(), desktop.top());
}

TEST_F(SettingsHooksTest, AFailedClientStartRestoresNoSelectionButKeepsGeometryAndSaves) {
  WriteSettings("[Settings]\r\nMainForm.Left=30\r\nComboBoxTypeS=HTML\r\n");
  nwtest::FailOperation("ClientInitialize", 0x8801);
  {
    auto form = NewForm();
    ASSERT_EQ(ui.boxes.size(), 2u);  // the client's own box and the start-up report
    EXPECT_EQ(form->ComboBoxTypeS->currentText(), "XLS");
    EXPECT_EQ(form->ComboBoxTrees->currentIndex(), -1);
    form->move(10, 50);
    Show(*form);
    EXPECT_EQ(form->pos(), QPoint(30, 50));
    EXPECT_TRUE(form->close());
  }
  // No tree list, so no tree selection: that entry is not written.
  EXPECT_EQ(FileLines(SettingsFilePath()),
            (std::vector<std::string>{"[Settings]", "MainForm.Left=30", "ComboBoxTypeS=XLS", "MainForm.Top=50",
                                      "MainForm.Width=769", "MainForm.Height=679", "ComboBoxTypeP=XLS"}));
  EXPECT_EQ(ui.boxes.size(), 2u);
}

// ---- A folder that cannot be written ----

TEST_F(SettingsHooksTest, AnUnwritableFolderGivesOneErrorAndTheWindowStillCloses) {
  // A file where the folder should be cannot be made a folder, not even by root.
  QFile blocker(QString::fromStdString(Root() + "/blocker"));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(Root() + "/blocker/config"));
  auto form = NewForm();
  Show(*form);
  EXPECT_TRUE(form->close());
  EXPECT_FALSE(form->isVisible());
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].kind, DialogKind::Error);
  EXPECT_EQ(ui.boxes[0].text, "Unable to write to " + SettingsFilePath());
  EXPECT_EQ(nwtest::OpenContexts(), 0u);  // the context went before the settings
}

// ---- Web link ----

TEST_F(SettingsHooksTest, ClickingTheStatusBarOpensTheWebAddressWithTheDesktopOpener) {
  auto form = NewForm();
  Show(*form);
  QTest::mouseClick(form->StatusBar1, Qt::LeftButton, {}, QPoint(20, form->StatusBar1->height() / 2));
  ASSERT_EQ(starter.starts.size(), 1u);
  EXPECT_EQ(starter.starts[0].kind, ProcessStart::Kind::DesktopOpener);
  EXPECT_EQ(starter.starts[0].arguments, std::vector<std::string>{kWebAddress});
  EXPECT_TRUE(ui.boxes.empty());
}

}  // namespace
}  // namespace vestrel::testing
