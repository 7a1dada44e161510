// The main window: tree selector, the authenticated name, the Info page and the two
// scan pages with their result grids, progress display and export commands.
#pragma once

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <string>

#include "app/StatusPanelBar.h"
#include "app/StringGridView.h"
#include "scan/ScanSteps.h"
#include "util/BuildInfo.h"

namespace vestrel {

// Texts of the window.
inline constexpr const char* kApplicationTitle = "Synchronize Servers and Partitions";
// The class of the program's windows (WM_CLASS), as the desktop entry's StartupWMClass names it.
inline constexpr const char* kWindowClass = "vestrel";
inline constexpr const char* kMainCaption = "Scan Servers and Partitions. Sync/Change Partitions and Replicas";
// The banner's version: "v" and the release number of the build.
inline const std::string kProgramVersion = std::string("v") + kVersionNumber;
// Shown in the status bar and opened when it is clicked.
inline constexpr const char* kWebAddress = "https://www.netiq.com/documentation/edirectory-9/";

// Status bar panels.
inline constexpr int kWebPanel = 0;
inline constexpr int kProgressPanel = 1;

class TMainForm final : public QMainWindow {
  Q_OBJECT

 public:
  // Builds the window's controls, then runs FormCreate.
  explicit TMainForm(QWidget* parent = nullptr);
  ~TMainForm() override;

  // ---- Controls ----
  QWidget* Panel4;
  QComboBox* ComboBoxTrees;
  QLineEdit* EditMyName;
  QTabWidget* PageControl;
  QWidget* TabSheet1;
  QLabel* Panel1;
  QPlainTextEdit* Memo1;
  QWidget* TabSheetServers;
  QWidget* Panel2;
  QPushButton* BitBtnSrv;
  QPushButton* BitBtnExpSrv;
  QComboBox* ComboBoxTypeS;
  QProgressBar* ProgressBarS;
  QLabel* LabelInfoScanSrv;
  StringGridView* StringGridSrv;
  QWidget* TabSheetPart;
  QWidget* Panel3;
  QPushButton* BitBtnPart;
  QPushButton* BitBtnExpPart;
  QComboBox* ComboBoxTypeP;
  QProgressBar* ProgressBarP;
  QLabel* LabelInfoScanPart;
  StringGridView* StringGridPart;
  StatusPanelBar* StatusBar1;

  // The progress bar of the scan page showing; none until the user first changes the page.
  QProgressBar* ProgressBar = nullptr;

  // ---- Event handlers ----
  void FormCreate();
  void FormShow();
  void FormClose();
  void ChangeTree();
  // Progress of a scan: item position of total, named text; 0, 0, "" when done.
  void StatusInfo(int position, int total, const std::string& text);
  void PageControlChange();
  void StatusBar1Click();
  void StringGridSrvClick();
  void StringGridPartClick();
  void BitBtnSrvClick();
  void BitBtnPartClick();
  // sender: BitBtnExpSrv or BitBtnExpPart.
  void BitBtnExpClick(QObject* sender);
  // sender: StringGridSrv or StringGridPart.
  void StringGridDblClick(QObject* sender);
  void StringGridPartDrawCell(QPainter& canvas, int col, int row, const QRect& rect, DrawCellState state);

 // The first showing restores the saved geometry before the native window is made (in
  // place of FormShow), so that the window is made with a position that counts its frame.
  void setVisible(bool visible) override;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void CreateControls();
  QWidget* CreateTopPanel();
  QWidget* CreateInfoPage();
  QWidget* CreateServersPage();
  QWidget* CreatePartitionsPage();
  void CreateStatusBar();
  void ConnectEvents();
  void FillTreeList();
  // Empties both result grids and disables their export: they belong to another tree.
  void DropScanResults();
  // Runs the details dialog, prepared for its object, until it closes.
  void ShowDetailsModal();
  using ScanFunction = ScanResult (*)(NWDSContextHandle, StringGrid&, const ScanProgress&, const ScanFinished&);
  // A scan button's click: starts its scan, or stops it while it runs (the button then
  // says "Stop"); any other command during a scan, or while the details dialog opens, is
  // ignored.
  void ScanClick(QPushButton& button, ScanFunction scan, StringGridView& grid, QPushButton& exportButton);
  // What the status bar says after a scan that did not show the whole tree.
  void ShowScanOutcome(const ScanResult& result);

  bool contextCreated_ = false;
  bool geometryRestored_ = false;  // by setVisible, for the FormShow that follows
  bool detailsOpen_ = false;       // the details dialog runs on MainContext
  bool closeAfterDetails_ = false;  // a close came while it ran
  QPushButton* stopButton_ = nullptr;  // the button of the scan in progress
  bool closeAfterScan_ = false;      // a close came while a scan ran: it stopped first
};

// The hint of a grid cell: the row's object name (column 1), CR LF, the column's title,
// CR LF, CR LF, the cell's text.
std::string GridCellHint(const StringGrid& grid, int col, int row);

// The largest size of font whose line is at most height pixels tall, the font itself when
// it fits; never smaller than kSmallestFittingPixelSize.
inline constexpr int kSmallestFittingPixelSize = 6;
QFont FontFittingLine(const QFont& font, int height);

// Shows the text file at path in the memo; on any failure the memo gets the line
// "Could not find " and the path.
void LoadInfoText(QPlainTextEdit& memo, const std::string& path);

// The main window of the running program (created at start-up).
extern TMainForm* MainForm;

}  // namespace vestrel
