// Vestrel: checks and repairs the partitions and replicas of an eDirectory tree.
#include <QApplication>

#include "app/QtClipboard.h"
#include "app/QtUiSeam.h"
#include "app/Vestrel_data.h"
#include "app/Vestrel_main.h"
#include "details/Vestrel_detail.h"
#include "export/WorkbookAutomation.h"

int main(int argc, char** argv) {
  using namespace vestrel;
  QApplication application(argc, argv);
  // The application title names the program in boxes that have no title of their own.
  QApplication::setApplicationName(QString::fromLatin1(kApplicationTitle));
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
