#include "app/Vestrel_main.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QFile>
#include <QHBoxLayout>
#include <QShowEvent>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

#include "app/TreeSelectorLock.h"
#include "app/Vestrel_data.h"
#include "app/Vestrel_main_Settings.h"
#include "details/Vestrel_detail.h"
#include "directory/D_NW.h"
#include "directory/D_NW_LoadProblems.h"
#include "directory/NETWIN32.h"
#include "directory/calwin32.h"
#include "scan/ScanSteps.h"
#include "util/D_Util.h"

namespace vestrel {

TMainForm* MainForm = nullptr;

namespace {

QString FromText(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// The designed families first, then their metric twins found on Linux desktops.
QStringList FamiliesLike(const char* family) {
  const QString designed = QString::fromLatin1(family);
  if (designed == QLatin1String("Courier New")) {
    return {designed, QStringLiteral("Liberation Mono"), QStringLiteral("Nimbus Mono PS"), QStringLiteral("DejaVu Sans Mono")};
  }
  return {designed, QStringLiteral("Liberation Sans"), QStringLiteral("Nimbus Sans"), QStringLiteral("DejaVu Sans")};
}

QFont PixelFont(const char* family, int pixelSize, QFont::StyleHint hint, bool bold = false) {
  QFont font;
  font.setFamilies(FamiliesLike(family));
  font.setPixelSize(pixelSize);
  font.setStyleHint(hint);
  font.setBold(bold);
  return font;
}

QPushButton* CreateButton(QWidget* parent, const char* name, const char* caption, QStyle::StandardPixmap icon) {
  auto* button = new QPushButton(parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setText(QString::fromLatin1(caption));
  button->setIcon(parent->style()->standardIcon(icon));
  button->setMinimumSize(104, 34);
  return button;
}

QComboBox* CreateExportTypeBox(QWidget* parent, const char* name) {
  auto* box = new QComboBox(parent);
  box->setObjectName(QString::fromLatin1(name));
  box->addItems({QStringLiteral("XLS"), QStringLiteral("XML"), QStringLiteral("HTML"), QStringLiteral("TXT")});
  box->setCurrentIndex(0);
  box->setToolTip(QStringLiteral("Export type"));
  box->setMinimumWidth(90);
  return box;
}

QProgressBar* CreateProgressBar(QWidget* parent, const char* name) {
  auto* bar = new QProgressBar(parent);
  bar->setObjectName(QString::fromLatin1(name));
  bar->setRange(0, 100);
  bar->setValue(0);
  bar->setFormat(QStringLiteral("%p%"));
  return bar;
}

QLabel* CreateScanHint(QWidget* parent, const char* name, const char* text) {
  auto* label = new QLabel(QString::fromLatin1(text), parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setVisible(false);
  return label;
}

StringGridView* CreateResultGrid(QWidget* parent, const char* name, std::initializer_list<int> widths) {
  auto* grid = new StringGridView(static_cast<int>(widths.size()), 2, parent);
  grid->setObjectName(QString::fromLatin1(name));
  grid->SetDefaultRowHeight(18);
  int col = 0;
  for (int width : widths) grid->Grid().SetColWidth(col++, width);
  return grid;
}

// The bar above a result grid: scan, export, export type, then progress or the hint.
QWidget* CreateScanPanel(QWidget* page, const char* name, QPushButton* scan, QPushButton* exportButton,
                         QComboBox* exportType, QProgressBar* progress, QLabel* hint) {
  auto* panel = new QWidget(page);
  panel->setObjectName(QString::fromLatin1(name));
  panel->setFixedHeight(65);
  for (QWidget* child : std::initializer_list<QWidget*>{scan, exportButton, exportType, progress, hint}) {
    child->setParent(panel);
  }
  auto* layout = new QHBoxLayout(panel);
  layout->setContentsMargins(10, 8, 10, 8);
  layout->setSpacing(10);
  layout->addWidget(scan);
  layout->addWidget(exportButton);
  layout->addWidget(exportType);
  layout->addSpacing(12);
  layout->addWidget(progress, 1);
  layout->addWidget(hint, 1);
  return panel;
}

QWidget* CreateScanPage(const char* name, QWidget* panel, StringGridView* grid) {
  auto* page = new QWidget;
  page->setObjectName(QString::fromLatin1(name));
  panel->setParent(page);
  grid->setParent(page);
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(panel);
  layout->addWidget(grid, 1);
  return page;
}

}  // namespace

std::string GridCellHint(const StringGrid& grid, int col, int row) {
  return grid.Cell(1, row) + "\r\n" + grid.Cell(col, 0) + "\r\n\r\n" + grid.Cell(col, row);
}

void LoadInfoText(QPlainTextEdit& memo, const std::string& path) {
  QFile file(FromText(path));
  if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
    const QByteArray content = file.readAll();
    if (file.error() == QFileDevice::NoError) {
      memo.setPlainText(QString::fromUtf8(content));
      return;
    }
  }
  memo.appendPlainText(FromText("Could not find " + path));
}

// ---- Construction ----

TMainForm::TMainForm(QWidget* parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("MainForm"));
  setWindowTitle(QStringLiteral("Collect Server and Partition Information"));
  setFont(PixelFont("Arial", 15, QFont::SansSerif));
  resize(769, 679);
  CreateControls();
  ConnectEvents();
  FormCreate();
  // While the directory client waits for a server, the window repaints (and, during a
  // scan, takes Stop, Esc and a close; other commands meet the scan's guards).
  ClientSetWaitHook(LetWindowRunWhileWaiting);
}

TMainForm::~TMainForm() {
  ClientSetWaitHook({});
  if (MainForm == this) MainForm = nullptr;
}

void TMainForm::CreateControls() {
  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(CreateTopPanel());

  PageControl = new QTabWidget(central);
  PageControl->setObjectName(QStringLiteral("PageControl"));
  PageControl->setDocumentMode(false);
  TabSheet1 = CreateInfoPage();
  TabSheetServers = CreateServersPage();
  TabSheetPart = CreatePartitionsPage();
  PageControl->addTab(TabSheet1, QStringLiteral("&Info"));
  PageControl->addTab(TabSheetServers, QStringLiteral("Scan &Servers"));
  PageControl->addTab(TabSheetPart, QStringLiteral("Scan &Partitions"));
  layout->addWidget(PageControl, 1);
  setCentralWidget(central);
  CreateStatusBar();
}

QWidget* TMainForm::CreateTopPanel() {
  Panel4 = new QWidget(this);
  Panel4->setObjectName(QStringLiteral("Panel4"));
  Panel4->setFixedHeight(46);

  ComboBoxTrees = new QComboBox(Panel4);
  ComboBoxTrees->setObjectName(QStringLiteral("ComboBoxTrees"));
  ComboBoxTrees->setToolTip(QStringLiteral("Select Current Tree"));
  ComboBoxTrees->setMinimumWidth(230);
  ComboBoxTrees->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);

  EditMyName = new QLineEdit(Panel4);
  EditMyName->setObjectName(QStringLiteral("EditMyName"));
  EditMyName->setText(QStringLiteral("EditMyName"));
  EditMyName->setReadOnly(true);
  EditMyName->setToolTip(QStringLiteral("The name you are authenticated as in the current tree"));

  auto* treeLabel = new QLabel(QStringLiteral("Tree:"), Panel4);
  treeLabel->setBuddy(ComboBoxTrees);
  auto* nameLabel = new QLabel(QStringLiteral("Logged in as:"), Panel4);
  nameLabel->setBuddy(EditMyName);

  auto* layout = new QHBoxLayout(Panel4);
  layout->setContentsMargins(10, 6, 10, 6);
  layout->setSpacing(8);
  layout->addWidget(treeLabel);
  layout->addWidget(ComboBoxTrees);
  layout->addSpacing(16);
  layout->addWidget(nameLabel);
  layout->addWidget(EditMyName, 1);
  return Panel4;
}

QWidget* TMainForm::CreateInfoPage() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("TabSheet1"));

  Panel1 = new QLabel(page);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel1->setFont(PixelFont("Arial", 20, QFont::SansSerif, true));
  Panel1->setAlignment(Qt::AlignCenter);
  Panel1->setWordWrap(true);
  Panel1->setMinimumHeight(56);
  Panel1->setFrameShape(QFrame::StyledPanel);
  Panel1->setFrameShadow(QFrame::Raised);
  Panel1->setAutoFillBackground(true);
  Panel1->setBackgroundRole(QPalette::Button);

  Memo1 = new QPlainTextEdit(page);
  Memo1->setObjectName(QStringLiteral("Memo1"));
  Memo1->setFont(PixelFont("Courier New", 13, QFont::TypeWriter));
  Memo1->setReadOnly(true);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(6, 6, 6, 6);
  layout->setSpacing(6);
  layout->addWidget(Panel1);
  layout->addWidget(Memo1, 1);
  return page;
}

QWidget* TMainForm::CreateServersPage() {
  BitBtnSrv = CreateButton(this, "BitBtnSrv", "&Scan", QStyle::SP_BrowserReload);
  BitBtnSrv->setToolTip(QStringLiteral("List every NCP server of the current tree"));
  BitBtnExpSrv = CreateButton(this, "BitBtnExpSrv", "Export", QStyle::SP_DialogSaveButton);
  BitBtnExpSrv->setEnabled(false);
  ComboBoxTypeS = CreateExportTypeBox(this, "ComboBoxTypeS");
  ProgressBarS = CreateProgressBar(this, "ProgressBarS");
  LabelInfoScanSrv = CreateScanHint(this, "LabelInfoScanSrv", "Scan, then double-click on the server name");
  Panel2 = CreateScanPanel(this, "Panel2", BitBtnSrv, BitBtnExpSrv, ComboBoxTypeS, ProgressBarS, LabelInfoScanSrv);
  StringGridSrv = CreateResultGrid(this, "StringGridSrv", {106, 203, 137, 132, 317});
  return CreateScanPage("TabSheetServers", Panel2, StringGridSrv);
}

QWidget* TMainForm::CreatePartitionsPage() {
  BitBtnPart = CreateButton(this, "BitBtnPart", "&Scan", QStyle::SP_BrowserReload);
  BitBtnPart->setToolTip(QStringLiteral("List every partition of the current tree with its replicas"));
  BitBtnExpPart = CreateButton(this, "BitBtnExpPart", "Export", QStyle::SP_DialogSaveButton);
  BitBtnExpPart->setEnabled(false);
  ComboBoxTypeP = CreateExportTypeBox(this, "ComboBoxTypeP");
  ProgressBarP = CreateProgressBar(this, "ProgressBarP");
  LabelInfoScanPart =
      CreateScanHint(this, "LabelInfoScanPart", "Scan, then double-click on the partition name");
  Panel3 = CreateScanPanel(this, "Panel3", BitBtnPart, BitBtnExpPart, ComboBoxTypeP, ProgressBarP, LabelInfoScanPart);
  StringGridPart = CreateResultGrid(this, "StringGridPart", {106, 207, 126, 174, 159, 240});
  return CreateScanPage("TabSheetPart", Panel3, StringGridPart);
}

void TMainForm::CreateStatusBar() {
  StatusBar1 = new StatusPanelBar(this);
  StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
  StatusBar1->setCursor(Qt::PointingHandCursor);
  StatusBar1->AddPanel(250);
  StatusBar1->AddPanel(150);
  // Progress names the object being read; long names need more than the designed width.
  StatusBar1->StretchPanel(kProgressPanel);
  StatusBar1->SetSimpleText(kWebAddress);
  StatusBar1->SetPanelText(kWebPanel, kWebAddress);
  StatusBar1->setToolTip(FromText(std::string("Open ") + kWebAddress));
  // The address reads as a link.
  QLabel* link = StatusBar1->Panel(kWebPanel);
  QPalette palette = link->palette();
  palette.setColor(QPalette::WindowText, palette.color(QPalette::Link));
  link->setPalette(palette);
  QFont font = link->font();
  font.setUnderline(true);
  link->setFont(font);
  // The whole address stays readable; the panel is never narrower than designed.
  link->setFixedWidth(std::max(250, link->sizeHint().width() + 4));
  setStatusBar(StatusBar1);
}

void TMainForm::ConnectEvents() {
  connect(ComboBoxTrees, &QComboBox::activated, this, [this] { ChangeTree(); });
  connect(PageControl, &QTabWidget::currentChanged, this, [this] { PageControlChange(); });
  connect(StatusBar1, &StatusPanelBar::Clicked, this, [this] { StatusBar1Click(); });
  connect(BitBtnSrv, &QPushButton::clicked, this, [this] { BitBtnSrvClick(); });
  connect(BitBtnPart, &QPushButton::clicked, this, [this] { BitBtnPartClick(); });
  connect(BitBtnExpSrv, &QPushButton::clicked, this, [this] { BitBtnExpClick(BitBtnExpSrv); });
  connect(BitBtnExpPart, &QPushButton::clicked, this, [this] { BitBtnExpClick(BitBtnExpPart); });
  connect(StringGridSrv, &StringGridView::Click, this, [this] { StringGridSrvClick(); });
  connect(StringGridPart, &StringGridView::Click, this, [this] { StringGridPartClick(); });
  connect(StringGridSrv, &StringGridView::DblClick, this, [this] { StringGridDblClick(StringGridSrv); });
  connect(StringGridPart, &StringGridView::DblClick, this, [this] { StringGridDblClick(StringGridPart); });
  StringGridPart->SetDrawCellHandler([this](QPainter& canvas, int col, int row, const QRect& rect,
                                            DrawCellState state) {
    StringGridPartDrawCell(canvas, col, row, rect, state);
  });
}

// ---- Form events ----

void TMainForm::FormCreate() {
  setWindowTitle(QString::fromLatin1(kMainCaption));
  Panel1->setText(FromText(Format("%s (%s)", windowTitle().toStdString(), kProgramVersion)));
  LoadInfoText(*Memo1, ProgramDataFileWithExt("txt"));
  PageControl->setCurrentWidget(TabSheet1);

  // Connections that name an account without a password ask for it while the client
  // loads them, which the first look at the load problems below does.
  AskPasswordsThroughUi();
  // A tree file the client could not load is named once, so a tree missing from the list,
  // or a start without any connection, is explained; it comes first, as the cause of the
  // boxes a start without a connection shows next.
  if (const std::string problems = TreeLoadProblemsText(); !problems.empty()) ShowNotice(DialogKind::Error, problems);
  // InitNetWare shows its own box; the window opens without a session.
  LastDSError = InitNetWare();
  if (LastDSError != 0) {
    ReportError(LastDSError, "InitNetWare");
    return;
  }
  contextCreated_ = DSContextCreate(&MainContext) == 0;
  FillTreeList();

  // A saved tree overrides the preferred one; FormShow then changes to it.
  RestoreSavedSelections(*this);
}

void TMainForm::FillTreeList() {
  try {
    TextList trees;
    ListTrees(trees);
    ComboBoxTrees->clear();
    for (int i = 0; i < trees.Count(); ++i) {
      ComboBoxTrees->addItem(FromText(trees[i]), QVariant::fromValue(static_cast<qlonglong>(trees.Objects(i))));
    }
    // Adding items selects the first one; only the preferred tree may be selected.
    ComboBoxTrees->setCurrentIndex(trees.Empty() ? -1 : trees.IndexOf(PreferredTreeName()));
  } catch (...) {
    // A failing tree list leaves whatever was listed; the window opens all the same.
  }
}

void TMainForm::FormShow() {
  // The first showing has restored the geometry just before (setVisible): restoring it
  // again would move the window before it is framed.
  if (!std::exchange(geometryRestored_, false)) RestoreSavedGeometry(*this);
  ChangeTree();
}

void TMainForm::FormClose() {
  if (contextCreated_) {
    DSContextFree(MainContext);
    contextCreated_ = false;
  }
  SaveWindowState(*this);
}

void TMainForm::setVisible(bool visible) {
  // The saved position is the frame's. Only a position set before Qt makes the native
  // window makes Qt ask the window manager to place the frame there (north-west gravity);
  // moved later, before the window manager has framed it, the window's inside goes there,
  // and each start would move the window up by its title bar.
  if (visible && !testAttribute(Qt::WA_WState_Created)) {
    RestoreSavedGeometry(*this);
    geometryRestored_ = true;
  }
  QMainWindow::setVisible(visible);
}

void TMainForm::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  // Restoring a minimised window is no new showing.
  if (!event->spontaneous()) FormShow();
}

void TMainForm::keyPressEvent(QKeyEvent* event) {
  // Esc stops a running scan, as its button does.
  if (event->key() == Qt::Key_Escape && ScanInProgress()) {
    RequestScanStop();
    return;
  }
  QMainWindow::keyPressEvent(event);
}

void TMainForm::closeEvent(QCloseEvent* event) {
  if (ScanInProgress()) {
    // The scan works on MainContext: it stops at its next wait, then the window closes.
    closeAfterScan_ = true;
    RequestScanStop();
    event->ignore();
    return;
  }
  if (detailsOpen_) {
    // The dialog works on MainContext: it ends first (once its opening is over), then the
    // window closes.
    closeAfterDetails_ = true;
    DlgDetails->CloseDialog();
    event->ignore();
    return;
  }
  FormClose();
  event->accept();
}

// ---- Tree and progress ----

void TMainForm::ChangeTree() {
  const std::string tree = ComboBoxTrees->currentText().toStdString();
  if (tree.empty()) return;
  const std::string previousTree = ContextTreeName(MainContext);
  LastDSError = DSChangeCurrentTree(MainContext, tree, false);
  // The grids hold names of the tree they were scanned in: exported under the new tree's
  // name or opened in the details dialog they would be taken for objects of this tree.
  if (ContextTreeName(MainContext) != previousTree) DropScanResults();
  ReportError(LastDSError, "DSChangeCurrentTree");
  ModifyContextFlags(MainContext, '+', DCV_TYPELESS_NAMES);
  SetNameContext(MainContext, "[Root]");
  EditMyName->setText(FromText(CurrentUserName(MainContext)));
}

void TMainForm::StatusInfo(int position, int total, const std::string& text) {
  if (ProgressBar) ProgressBar->setVisible(total != 0);
  StatusBar1->SetPanelText(kProgressPanel, text.empty() ? std::string() : Format("[%d/%d] %s", position, total, text));
  if (ProgressBar && total > 0) {
    ProgressBar->setRange(1, total);
    ProgressBar->setValue(position);
  }
  // Before the first page change there is no bar, so the hints take its place.
  const bool barHidden = ProgressBar == nullptr || ProgressBar->isHidden();
  LabelInfoScanSrv->setVisible(barHidden);
  LabelInfoScanPart->setVisible(barHidden);
}

void TMainForm::PageControlChange() {
  QWidget* page = PageControl->currentWidget();
  if (page == TabSheetServers) {
    ProgressBar = ProgressBarS;
  } else if (page == TabSheetPart) {
    ProgressBar = ProgressBarP;
  }
  StatusInfo(0, 0, "");
}

// ---- Result grids ----

void TMainForm::DropScanResults() {
  for (StringGridView* view : {StringGridSrv, StringGridPart}) {
    StringGrid& grid = view->Grid();
    ClearGridCells(&grid);
    grid.SetRowCount(grid.FixedRows() + 1);
    view->SetHint("");
  }
  BitBtnExpSrv->setEnabled(false);
  BitBtnExpPart->setEnabled(false);
}

void TMainForm::StringGridSrvClick() {
  StringGridSrv->SetHint(GridCellHint(StringGridSrv->Grid(), StringGridSrv->Col(), StringGridSrv->Row()));
}

void TMainForm::StringGridPartClick() {
  StringGridPart->SetHint(GridCellHint(StringGridPart->Grid(), StringGridPart->Col(), StringGridPart->Row()));
}

// BitBtnSrvClick, BitBtnPartClick and StringGridPartDrawCell: Vestrel_main_Scans.cpp.

void TMainForm::StringGridDblClick(QObject* sender) {
  if (ScanRunning()) return;  // the grid is being filled, or the details dialog is opening
  StringGridView* view = sender == StringGridPart ? StringGridPart : StringGridSrv;
  const StringGrid& grid = view->Grid();
  const int col = view->Col();
  const int row = view->Row();
  if (row < 1) return;  // the title row
  if (col >= 3) {
    // Value columns may hold many lines: the cell viewer shows them one per item.
    if (!OKBottomDlg) return;
    TextList lines;
    lines.SetText(grid.Cell(col, row));
    OKBottomDlg->ListBoxDetail->clear();
    for (int i = 0; i < lines.Count(); ++i) OKBottomDlg->ListBoxDetail->addItem(QString::fromStdString(lines[i]));
    OKBottomDlg->setWindowTitle(QString::fromStdString(Format("%s - %s", grid.Cell(1, row), grid.Cell(col, 0))));
    OKBottomDlg->exec();
    return;
  }
  const std::string name = JoinContextName(grid.Cell(2, row), grid.Cell(1, row));
  if (name.empty() || !DlgDetails) return;
  TextList& opened = view == StringGridSrv ? *DlgDetails->ServerList : *DlgDetails->PartitionList;
  TextList& other = view == StringGridSrv ? *DlgDetails->PartitionList : *DlgDetails->ServerList;
  opened.Clear();
  opened.Add(name);
  other.Clear();
  DlgDetails->DirContext = MainContext;
  ShowDetailsModal();
}

void TMainForm::ShowDetailsModal() {
  {
    // The dialog's opening lets window messages run (the partition listing) before the
    // dialog is modal. Meanwhile the window takes no command (ignored, as during a scan),
    // keeps its tree, and a close waits for the dialog.
    const ScanGuard busy;
    const TreeSelectorLock lock(ComboBoxTrees);
    detailsOpen_ = true;
    DlgDetails->exec();
    detailsOpen_ = false;
  }
  if (closeAfterDetails_) {
    closeAfterDetails_ = false;
    close();
  }
}

}  // namespace vestrel
