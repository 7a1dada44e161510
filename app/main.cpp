// Vestrel: checks and repairs the partitions and replicas of an eDirectory tree.
#include <QApplication>
#include <QDir>
#include <QIcon>
#include <iostream>

#include "app/CommandLine.h"
#include "app/QtClipboard.h"
#include "app/QtUiSeam.h"
#include "app/TerminationSignal.h"
#include "app/Vestrel_data.h"
#include "app/Vestrel_main.h"
#include "details/Vestrel_detail.h"
#include "export/WorkbookAutomation.h"
#include "util/BuildInfo.h"

namespace {

// Vestrel's icon in every size drawn for it (app/vestrel.qrc).
QIcon VestrelIcon() {
  QIcon icon;
  for (const QFileInfo& file : QDir(QStringLiteral(":/icons")).entryInfoList(QDir::Files)) icon.addFile(file.filePath());
  return icon;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace vestrel;
  // Help and the version need no display.
  if (const std::optional<int> answered = AnswerCommandLine(argc, argv, std::cout)) return *answered;
  QApplication application(argc, argv);
  // The window's class (WM_CLASS) is the application's name: desktops match it with the
  // desktop entry's StartupWMClass. Boxes without a title of their own show the
  // application title instead (QtUiSeam).
  QApplication::setApplicationName(QString::fromLatin1(kWindowClass));
  // Desktops group the window under Vestrel's desktop entry and show its icon.
  QGuiApplication::setDesktopFileName(QString::fromLatin1(kDesktopAppId));
  QApplication::setWindowIcon(VestrelIcon());
  QtUiSeam ui;
  InstallUiSeam(&ui);
  // Exports and spreadsheet pastes go through the desktop's clipboard.
  QtClipboard clipboard;
  InstallClipboard(&clipboard);
  // A spreadsheet export becomes a workbook that the desktop's spreadsheet application opens.
  WorkbookAutomation spreadsheets;
  InstallAutomationServer(&spreadsheets);

  // The main window first, then the dialogs it opens; they belong to it.
  auto* mainForm = new TMainForm;
  MainForm = mainForm;
  DlgDetails = new TDlgDetails(mainForm);
  OKBottomDlg = new TOKBottomDlg(mainForm);
  // Asked to end (session logout, kill), the window closes as the user would close it.
  CloseOnTerminationSignal closeOnSignal(*mainForm);
  mainForm->show();
  const int exitCode = application.exec();

  DlgDetails = nullptr;
  OKBottomDlg = nullptr;
  delete mainForm;
  InstallAutomationServer(nullptr);
  InstallClipboard(nullptr);
  InstallUiSeam(nullptr);
  return exitCode;
}
