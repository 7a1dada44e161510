// A main window over two small trees, with a settings folder, a current folder, a
// clipboard and a process starter of the test's own, and a recording user interface.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "RecordingUi.h"
#include "app/QtClipboard.h"
#include "app/Vestrel_main.h"
#include "directory/D_NW.h"
#include "export/Clipboard.h"
#include "export/D_Win.h"
#include "platform/nwclient/NwTestHooks.h"
#include "settings/D_Ini.h"

namespace vestrel::testing {

inline std::string SmallTreeJson(const std::string& tree, const std::string& org) {
  return R"({ "tree": ")" + tree + R"(", "objects": [
      { "name": ")" + org + R"(", "class": "Organization" },
      { "name": "admin.)" + org + R"(", "class": "User" } ] })";
}

// Records what would be started; starts nothing.
class RecordingStarter final : public ProcessStarter {
 public:
  int Start(const ProcessStart& start) override {
    starts.push_back(start);
    return kShellStarted;
  }
  std::vector<ProcessStart> starts;
};

class WiringTest : public ::testing::Test {
 protected:
  WiringTest() {
    savedConfig_ = qgetenv("XDG_CONFIG_HOME");
    savedFolder_ = QDir::currentPath();
    // A config folder that does not exist yet, as on a fresh account.
    qputenv("XDG_CONFIG_HOME", (root_.path() + "/config").toUtf8());
    QDir(root_.path()).mkdir("work");
    QDir::setCurrent(WorkFolder());
    nwtest::Reset();
    ClientConnection = kNoClientConnection;
    EXPECT_EQ(nwtest::ConnectTreeJson(SmallTreeJson("ALPHA_TREE", "ALPHA"), "admin.ALPHA", true), "");
    EXPECT_EQ(nwtest::ConnectTreeJson(SmallTreeJson("BETA_TREE", "BETA"), "admin.BETA", false), "");
    InstallClipboard(&clipboard);
    clipboard.SetText("");  // one test's clipboard is not the next one's
    InstallProcessStarter(&starter);
  }
  ~WiringTest() override {
    InstallProcessStarter(nullptr);
    InstallClipboard(nullptr);
    nwtest::ResetToDefaults();
    ClientConnection = kNoClientConnection;
    QDir::setCurrent(savedFolder_);
    qputenv("XDG_CONFIG_HOME", savedConfig_);
  }

  QString WorkFolder() const { return root_.path() + "/work"; }
  QString ConfigFolder() const { return root_.path() + "/config"; }
  std::string Root() const { return root_.path().toStdString(); }

  std::unique_ptr<TMainForm> NewForm() { return std::make_unique<TMainForm>(); }

  void Show(TMainForm& form) {
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  }

  // Writes the settings file by hand (the folder is made first).
  void WriteSettings(const std::string& text) {
    QDir().mkpath(ConfigFolder());
    QFile file(QString::fromStdString(SettingsFilePath()));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray::fromStdString(text));
  }

  RecordingUi ui;
  QtClipboard clipboard;
  RecordingStarter starter;

 private:
  QTemporaryDir root_;
  QByteArray savedConfig_;
  QString savedFolder_;
};

// The whole file, empty when it cannot be read.
inline std::string FileText(const std::string& path) {
  QFile file(QString::fromStdString(path));
  return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
}

// The file's lines without their line ends.
inline std::vector<std::string> FileLines(const std::string& path) {
  std::vector<std::string> lines;
  for (const QByteArray& line : QByteArray::fromStdString(FileText(path)).split('\n')) {
    const QByteArray text = line.endsWith('\r') ? line.chopped(1) : line;
    if (!text.isEmpty()) lines.push_back(text.toStdString());
  }
  return lines;
}

}  // namespace vestrel::testing
