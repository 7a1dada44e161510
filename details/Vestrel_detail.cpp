#include "details/Vestrel_detail.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QMetaObject>
#include <QShowEvent>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>
#include <initializer_list>
#include <set>
#include <utility>

#include "details/DetailIcons.h"
#include "directory/D_NW.h"
#include "directory/D_NW_Search.h"
#include "directory/NETWIN32.h"
#include "util/D_Util.h"
#include "util/UiSeam.h"

namespace vestrel {

TDlgDetails* DlgDetails = nullptr;

namespace {

constexpr const char* kCrLf = "\r\n";
constexpr const char* kHintProperty = "vestrelHint";
// Where the hint of Repair Time Stamps sends the reader for details.
constexpr const char* kVendorWebAddress = "https://www.netiq.com/documentation/edirectory-9/";
constexpr const char* kRoot = "[Root]";
constexpr int kButtonColumnWidth = 190;
// The containers a split may make partition roots, and the partition roots among them.
constexpr const char* kContainerFilter =
    "((Base Class=Organizational Unit) #OR# (Base Class=Organization) #OR# (Base Class=Country))";
constexpr const char* kPartitionRootFilter =
    "(((Base Class=Organizational Unit) #OR# (Base Class=Organization) #OR# (Base Class=Country)) #AND# "
    "(Replica #PRESENT#))";
constexpr const char* kServerFilter = "(Base Class=NCP Server)";
constexpr const char* kSecondary = "Secondary";
constexpr const char* kReadOnly = "Read-Only";
constexpr const char* kMaster = "Master";

QString Q(const std::string& text) { return QString::fromStdString(text); }

void SetHint(QWidget& control, const std::string& hint) {
  control.setProperty(kHintProperty, QByteArray::fromStdString(hint));
  control.setToolTip(Q(ReplaceInText(hint, kCrLf, "\n")));
}

std::string Hint(const std::string& firstLine, const std::string& description) {
  return firstLine + kCrLf + description;
}

// Fills a list box with the lines in sorted order (case ignored, as the list shows them);
// no entry is selected afterwards and no click handler runs. No entry is current either,
// so gaining the focus marks none and the first arrow key chooses the first entry.
void FillSorted(QListWidget& list, const TextList& lines) {
  TextList sorted = lines;
  sorted.SetSorted(true);
  QSignalBlocker quiet(&list);
  list.clear();
  for (int i = 0; i < sorted.Count(); ++i) list.addItem(Q(sorted[i]));
  list.QAbstractItemView::setCurrentIndex(QModelIndex());
}

void EmptyList(QListWidget& list) {
  QSignalBlocker quiet(&list);
  list.clear();
}

// The row of the entry the user has chosen (the highlighted one), -1 when none. The
// current entry alone is no choice: a list may make one current when it gains the focus.
int ChosenRow(const QListWidget& list) {
  const QList<QListWidgetItem*> chosen = list.selectedItems();
  return chosen.isEmpty() ? -1 : list.row(chosen.front());
}

std::string ChosenText(const QListWidget& list) {
  const int row = ChosenRow(list);
  return row < 0 ? std::string() : list.item(row)->text().toStdString();
}

QPushButton* NewButton(QWidget* parent, const char* name, const char* caption, const QIcon& icon) {
  auto* button = new QPushButton(icon, QString::fromUtf8(caption), parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setIconSize(QSize(22, 22));
  button->setMinimumHeight(34);
  button->setStyleSheet(QStringLiteral("text-align: left; padding-left: 8px;"));
  return button;
}

QListWidget* NewList(QWidget* parent, const char* name) {
  auto* list = new QListWidget(parent);
  list->setObjectName(QString::fromLatin1(name));
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  return list;
}

QLabel* NewLabel(QWidget* parent, const char* name, const QString& text) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QString::fromLatin1(name));
  // Labels show directory names, which may hold "<" or "&": never read them as markup.
  label->setTextFormat(Qt::PlainText);
  return label;
}

QSpinBox* NewSpinEdit(QWidget* parent, const char* name, int maximum, int value) {
  auto* spin = new QSpinBox(parent);
  spin->setObjectName(QString::fromLatin1(name));
  spin->setRange(0, maximum);
  spin->setValue(value);
  // Text that is no number counts as the minimum; a value out of range is brought back
  // into it when the focus leaves.
  spin->setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
  spin->setMinimumWidth(56);
  return spin;
}

// The whole number in a spin edit's text, its minimum when the text is no number; kept
// within the edit's range even before the focus has left it.
int SpinValue(const QSpinBox& spin) {
  const int value = TextToIntDef(spin.cleanText().toStdString(), spin.minimum());
  return std::clamp(value, spin.minimum(), spin.maximum());
}

// 1204 as "1,204".
std::string GroupedNumber(nuint32 number) {
  std::string digits = std::to_string(number);
  for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) digits.insert(static_cast<std::size_t>(at), ",");
  return digits;
}

// A name as the dialog compares names: absolute, case ignored.
std::string NameKey(const std::string& name) { return UpperCaseAscii(AbsoluteName(name)); }

// The key of the container above a name's key (".OU.O" of ".CN.OU.O"); "" at the top.
std::string ParentKey(const std::string& key) {
  const std::size_t dot = key.find('.', 1);
  return dot == std::string::npos ? std::string() : key.substr(dot);
}

// The type text of a replica list entry: "Secondary" of "FS1.ACME [Secondary] [Nr: 2]".
std::string EntryType(const std::string& entry) { return KeepTextBefore(KeepTextAfter(entry, " ["), "]"); }

}  // namespace

std::string HintOf(const QWidget& control) { return control.property(kHintProperty).toByteArray().toStdString(); }

std::string CleanEntryName(const std::string& entry) { return AbsoluteName(KeepTextBefore(entry, " [")); }

TDlgDetails::TDlgDetails(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("DlgDetails"));
  CreateControls();
  ConnectEvents();
  FormCreate();
}

TDlgDetails::~TDlgDetails() = default;

// ---- Controls ----

void TDlgDetails::CreateControls() {
  setWindowTitle(QStringLiteral("Sync"));
  resize(792, 657);
  PageControl = new QTabWidget(this);
  PageControl->setObjectName(QStringLiteral("PageControl"));
  PageControl->addTab(CreateServerPartitionsPage(), QStringLiteral("Server Par&titions"));
  PageControl->addTab(CreatePartitionServersPage(), QStringLiteral("Partition Ser&vers"));
  PageControl->addTab(CreateSyncReplicaPage(), QStringLiteral("Synchronize &Replica"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 8, 8, 8);
  layout->addWidget(PageControl, 1);
  layout->addWidget(CreateBottomPanel());
}

QWidget* TDlgDetails::CreateBottomPanel() {
  Panel2 = new QWidget(this);
  Panel2->setObjectName(QStringLiteral("Panel2"));
  OKBtn = NewButton(Panel2, "OKBtn", "&Close", style()->standardIcon(QStyle::SP_DialogCloseButton));
  OKBtn->setStyleSheet(QString());
  OKBtn->setDefault(true);
  OKBtn->setMinimumWidth(100);

  auto* frame = new QFrame(Panel2);
  frame->setFrameShape(QFrame::StyledPanel);
  PanelTimeSelector = frame;
  PanelTimeSelector->setObjectName(QStringLiteral("PanelTimeSelector"));
  SetHint(*PanelTimeSelector, "Specifies the delay before beginning the synchronization");
  LabelSchedule = NewLabel(PanelTimeSelector, "LabelSchedule", QStringLiteral("Scheduled in ..."));
  SpinEditH = NewSpinEdit(PanelTimeSelector, "SpinEditH", 23, 0);
  LabelScheduleH = NewLabel(PanelTimeSelector, "LabelScheduleH", QStringLiteral("hours"));
  SpinEditM = NewSpinEdit(PanelTimeSelector, "SpinEditM", 59, 0);
  LabelScheduleM = NewLabel(PanelTimeSelector, "LabelScheduleM", QStringLiteral("min"));
  SpinEditS = NewSpinEdit(PanelTimeSelector, "SpinEditS", 59, 5);
  LabelScheduleS = NewLabel(PanelTimeSelector, "LabelScheduleS", QStringLiteral("sec"));
  auto* time = new QHBoxLayout(PanelTimeSelector);
  time->setContentsMargins(10, 6, 10, 6);
  time->setSpacing(6);
  time->addWidget(LabelSchedule);
  time->addSpacing(6);
  for (auto [spin, label] : {std::pair{SpinEditH, LabelScheduleH}, {SpinEditM, LabelScheduleM}, {SpinEditS, LabelScheduleS}}) {
    time->addWidget(spin);
    time->addWidget(label);
    time->addSpacing(6);
  }

  auto* layout = new QHBoxLayout(Panel2);
  layout->setContentsMargins(0, 4, 0, 0);
  layout->addWidget(OKBtn);
  layout->addStretch(1);
  layout->addWidget(PanelTimeSelector);
  return Panel2;
}

// A page with an info line above a list, a "Select ..." note and a column of buttons.
static QWidget* ListPage(QWidget* page, QLabel* info, QListWidget* list, QLabel* selectNote,
                         std::initializer_list<QPushButton*> buttons) {
  auto* column = new QVBoxLayout;
  column->setSpacing(6);
  for (QPushButton* button : buttons) {
    if (!button) {  // a gap between groups of buttons
      column->addSpacing(10);
      continue;
    }
    button->setFixedWidth(kButtonColumnWidth);
    column->addWidget(button);
  }
  column->addStretch(1);
  auto* left = new QVBoxLayout;
  left->addWidget(info);
  left->addWidget(list, 1);
  left->addWidget(selectNote);
  auto* layout = new QHBoxLayout(page);
  layout->setContentsMargins(10, 10, 10, 10);
  layout->setSpacing(12);
  layout->addLayout(left, 1);
  layout->addLayout(column);
  QFont bold = selectNote->font();
  bold.setBold(true);
  selectNote->setFont(bold);
  selectNote->setStyleSheet(QStringLiteral("color: #1f4e9c;"));
  return page;
}

QWidget* TDlgDetails::CreateServerPartitionsPage() {
  TabSheetSrvPart = new QWidget(this);
  TabSheetSrvPart->setObjectName(QStringLiteral("TabSheetSrvPart"));
  QWidget* p = TabSheetSrvPart;
  LabelInfoSrvPart = NewLabel(p, "LabelInfoSrvPart", QString());
  ListBoxSrvPart = NewList(p, "ListBoxSrvPart");
  LabelSrvSelectPart = NewLabel(p, "LabelSrvSelectPart", QStringLiteral("Select Partition"));
  BitBtnSyncSchema = NewButton(p, "BitBtnSyncSchema", "Sync Schema", DetailIcon(DetailIconKind::SyncSchema));
  BitBtnSyncPart = NewButton(p, "BitBtnSyncPart", "Sync Partition", DetailIcon(DetailIconKind::SyncPartition));
  BitBtnPartSendAll = NewButton(p, "BitBtnPartSendAll", "Send All Updates", DetailIcon(DetailIconKind::SendAll));
  BitBtnPartRcvAll = NewButton(p, "BitBtnPartRcvAll", "Receive All Updates", DetailIcon(DetailIconKind::ReceiveAll));
  BitBtnPartJoin = NewButton(p, "BitBtnPartJoin", "Join Partition", DetailIcon(DetailIconKind::Join));
  BitBtnPartDel = NewButton(p, "BitBtnPartDel", "Remove Partition", DetailIcon(DetailIconKind::RemovePartition));
  BitBtnReplicaDel = NewButton(p, "BitBtnReplicaDel", "Remove Replica", DetailIcon(DetailIconKind::RemoveReplica));
  BitBtnRepairTimeStamps =
      NewButton(p, "BitBtnRepairTimeStamps", "Repair Time Stamps", DetailIcon(DetailIconKind::RepairTimeStamps));
  BitBtnReloadDS = NewButton(p, "BitBtnReloadDS", "Reload DS", DetailIcon(DetailIconKind::ReloadDS));
  return ListPage(p, LabelInfoSrvPart, ListBoxSrvPart, LabelSrvSelectPart,
                  {BitBtnSyncSchema, BitBtnSyncPart, BitBtnPartSendAll, BitBtnPartRcvAll, BitBtnPartJoin, BitBtnPartDel,
                   BitBtnReplicaDel, BitBtnRepairTimeStamps, BitBtnReloadDS});
}

QWidget* TDlgDetails::CreatePartitionServersPage() {
  TabSheetPartSrv = new QWidget(this);
  TabSheetPartSrv->setObjectName(QStringLiteral("TabSheetPartSrv"));
  QWidget* p = TabSheetPartSrv;
  LabelInfoPartSrv = NewLabel(p, "LabelInfoPartSrv", QString());
  ListBoxPartServers = NewList(p, "ListBoxPartServers");
  LabelPartSelectSrv = NewLabel(p, "LabelPartSelectSrv", QStringLiteral("Select Server"));
  // The twins carry their partners' captions and images.
  auto twin = [p](const char* name, const QPushButton* partner) {
    return NewButton(p, name, partner->text().toLatin1().constData(), partner->icon());
  };
  BitBtnSyncSchema2 = twin("BitBtnSyncSchema2", BitBtnSyncSchema);
  BitBtnSyncPart2 = twin("BitBtnSyncPart2", BitBtnSyncPart);
  BitBtnPartSendAll2 = twin("BitBtnPartSendAll2", BitBtnPartSendAll);
  BitBtnPartRcvAll2 = twin("BitBtnPartRcvAll2", BitBtnPartRcvAll);
  BitBtnPartJoin2 = twin("BitBtnPartJoin2", BitBtnPartJoin);
  BitBtnPartDel2 = twin("BitBtnPartDel2", BitBtnPartDel);
  BitBtnReplicaDel2 = twin("BitBtnReplicaDel2", BitBtnReplicaDel);
  BitBtnRepairTimeStamps2 = twin("BitBtnRepairTimeStamps2", BitBtnRepairTimeStamps);
  BitBtnAddReplica = NewButton(p, "BitBtnAddReplica", "Add Replica…", DetailIcon(DetailIconKind::AddReplica));
  BitBtnChangeReplicaType = NewButton(p, "BitBtnChangeReplicaType", "Change Replica Type…",
                                      DetailIcon(DetailIconKind::ChangeReplicaType));
  BitBtnSplitPartition =
      NewButton(p, "BitBtnSplitPartition", "Split Partition…", DetailIcon(DetailIconKind::SplitPartition));
  BitBtnAbortOperation =
      NewButton(p, "BitBtnAbortOperation", "Abort Operation", DetailIcon(DetailIconKind::AbortOperation));
  return ListPage(p, LabelInfoPartSrv, ListBoxPartServers, LabelPartSelectSrv,
                  {BitBtnSyncSchema2, BitBtnSyncPart2, BitBtnPartSendAll2, BitBtnPartRcvAll2, BitBtnPartJoin2,
                   BitBtnPartDel2, BitBtnReplicaDel2, BitBtnRepairTimeStamps2, nullptr, BitBtnAddReplica,
                   BitBtnChangeReplicaType, BitBtnSplitPartition, BitBtnAbortOperation});
}

QWidget* TDlgDetails::CreateSyncReplicaPage() {
  TabSheetSyncReplica = new QWidget(this);
  TabSheetSyncReplica->setObjectName(QStringLiteral("TabSheetSyncReplica"));
  QWidget* p = TabSheetSyncReplica;
  ListBoxServer1 = NewList(p, "ListBoxServer1");
  ListBoxServer2 = NewList(p, "ListBoxServer2");
  BtnSend1to2 = new QToolButton(p);
  BtnSend1to2->setObjectName(QStringLiteral("BtnSend1to2"));
  BtnSend1to2->setText(QStringLiteral(">"));
  BtnSend1to2->setFocusPolicy(Qt::NoFocus);
  BtnSend1to2->setAutoRaise(true);
  BtnSend1to2->setEnabled(false);
  BtnSend1to2->setFixedSize(32, 32);
  QFont arrow = BtnSend1to2->font();
  arrow.setBold(true);
  arrow.setPointSize(arrow.pointSize() + 4);
  BtnSend1to2->setFont(arrow);

  auto* lists = new QHBoxLayout;
  lists->addWidget(ListBoxServer1, 1);
  lists->addWidget(BtnSend1to2, 0, Qt::AlignVCenter);
  lists->addWidget(ListBoxServer2, 1);
  auto* titles = new QHBoxLayout;
  titles->addWidget(NewLabel(p, "LabelFromServer", QStringLiteral("From Server")), 1);
  titles->addSpacing(38);
  titles->addWidget(NewLabel(p, "LabelToServer", QStringLiteral("To Server")), 1);

  PanelSyncReplicaBottom = new QWidget(p);
  PanelSyncReplicaBottom->setObjectName(QStringLiteral("PanelSyncReplicaBottom"));
  PanelSyncReplicaBottomLeft = new QWidget(PanelSyncReplicaBottom);
  PanelSyncReplicaBottomLeft->setObjectName(QStringLiteral("PanelSyncReplicaBottomLeft"));
  BitBtnSyncReplica =
      NewButton(PanelSyncReplicaBottomLeft, "BitBtnSyncReplica", "Sync Replica", DetailIcon(DetailIconKind::SyncReplica));
  BitBtnSyncReplica->setFixedWidth(kButtonColumnWidth);
  CheckBoxAllObjects = new QCheckBox(QStringLiteral("Sync All Objects"), PanelSyncReplicaBottomLeft);
  CheckBoxAllObjects->setObjectName(QStringLiteral("CheckBoxAllObjects"));
  auto* left = new QVBoxLayout(PanelSyncReplicaBottomLeft);
  left->setContentsMargins(0, 0, 0, 0);
  left->addWidget(BitBtnSyncReplica);
  left->addWidget(CheckBoxAllObjects);
  auto* infoFrame = new QFrame(PanelSyncReplicaBottom);
  infoFrame->setFrameShape(QFrame::StyledPanel);
  PanelInfoSyncReplica = infoFrame;
  PanelInfoSyncReplica->setObjectName(QStringLiteral("PanelInfoSyncReplica"));
  LabelSyncReplicaInfo = NewLabel(PanelInfoSyncReplica, "LabelSyncReplicaInfo", QString());
  LabelSyncReplicaInfo->setWordWrap(true);
  LabelSyncReplicaInfo->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  // The label keeps 10 pixels to either side: as wide as its panel less 20, whenever the
  // panel is resized (also while the page has never been shown).
  auto* info = new QVBoxLayout(PanelInfoSyncReplica);
  info->setContentsMargins(10, 8, 10, 8);
  info->addWidget(LabelSyncReplicaInfo, 1);
  PanelInfoSyncReplica->setMinimumHeight(64);
  auto* bottom = new QHBoxLayout(PanelSyncReplicaBottom);
  bottom->setContentsMargins(0, 0, 0, 0);
  bottom->setSpacing(12);
  bottom->addWidget(PanelSyncReplicaBottomLeft);
  bottom->addWidget(PanelInfoSyncReplica, 1);

  auto* layout = new QVBoxLayout(p);
  layout->setContentsMargins(10, 10, 10, 10);
  layout->addLayout(titles);
  layout->addLayout(lists, 1);
  layout->addWidget(PanelSyncReplicaBottom);
  return p;
}

void TDlgDetails::ConnectEvents() {
  connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
  connect(PageControl, &QTabWidget::currentChanged, this, [this] { PageControlChange(); });
  using Handler = void (TDlgDetails::*)();
  // A list's handler runs when the user chooses an entry (a click, or an arrow key that
  // moves the highlight); the focus alone chooses nothing. A Ctrl+click that would take the
  // highlight away chooses nothing either: it stays on the entry the dialog acts on.
  auto onChoice = [this](QListWidget* list, Handler handler) {
    connect(list, &QListWidget::itemSelectionChanged, this, [this, list, handler] {
      if (ChosenRow(*list) >= 0) {
        (this->*handler)();
      } else if (QListWidgetItem* chosen = list->currentItem()) {
        QSignalBlocker quiet(list);
        chosen->setSelected(true);
      }
    });
  };
  onChoice(ListBoxSrvPart, &TDlgDetails::ListBoxSrvPartClick);
  onChoice(ListBoxPartServers, &TDlgDetails::ListBoxPartServersClick);
  onChoice(ListBoxServer1, &TDlgDetails::ListBoxServerClick);
  onChoice(ListBoxServer2, &TDlgDetails::ListBoxServerClick);
  auto wire = [this](std::initializer_list<QPushButton*> buttons, Handler handler) {
    for (QPushButton* button : buttons) connect(button, &QPushButton::clicked, this, [this, handler] { (this->*handler)(); });
  };
  wire({BitBtnSyncSchema, BitBtnSyncSchema2}, &TDlgDetails::BitBtnSyncSchemaClick);
  wire({BitBtnSyncPart, BitBtnSyncPart2}, &TDlgDetails::BitBtnSyncPartClick);
  wire({BitBtnPartSendAll, BitBtnPartSendAll2}, &TDlgDetails::BitBtnPartSendAllClick);
  wire({BitBtnPartRcvAll, BitBtnPartRcvAll2}, &TDlgDetails::BitBtnPartRcvAllClick);
  wire({BitBtnSyncReplica}, &TDlgDetails::BitBtnSyncReplicaClick);
  wire({BitBtnPartJoin, BitBtnPartJoin2}, &TDlgDetails::BitBtnPartJoinClick);
  wire({BitBtnPartDel, BitBtnPartDel2}, &TDlgDetails::BitBtnPartDelClick);
  wire({BitBtnReplicaDel, BitBtnReplicaDel2}, &TDlgDetails::BitBtnReplicaDelClick);
  wire({BitBtnRepairTimeStamps, BitBtnRepairTimeStamps2}, &TDlgDetails::BitBtnRepairTimeStampsClick);
  wire({BitBtnReloadDS}, &TDlgDetails::BitBtnReloadDSClick);
  wire({BitBtnAddReplica}, &TDlgDetails::BitBtnAddReplicaClick);
  wire({BitBtnChangeReplicaType}, &TDlgDetails::BitBtnChangeReplicaTypeClick);
  wire({BitBtnSplitPartition}, &TDlgDetails::BitBtnSplitPartitionClick);
  wire({BitBtnAbortOperation}, &TDlgDetails::BitBtnAbortOperationClick);
}

// ---- Opening ----

void TDlgDetails::FormCreate() {
  ServerList = std::make_unique<TextList>();
  PartitionList = std::make_unique<TextList>();
}

void TDlgDetails::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return;  // restored from the task bar, not opened
  inFormShow_ = true;
  FormShow();
  inFormShow_ = false;
  if (closeAfterShow_) {
    closeAfterShow_ = false;
    // The modal loop starts after the show; the close must reach it to end it.
    QMetaObject::invokeMethod(this, &QDialog::reject, Qt::QueuedConnection);
  }
}

void TDlgDetails::CloseDialog() {
  if (inFormShow_)
    closeAfterShow_ = true;
  else
    reject();
}

void TDlgDetails::FormShow() {
  PanelTimeSelector->setVisible(true);
  // Every opening starts from empty lists: nothing chosen in an earlier opening (of
  // either view) can be combined with this object.
  for (QListWidget* list : {ListBoxSrvPart, ListBoxPartServers, ListBoxServer1, ListBoxServer2}) EmptyList(*list);
  LabelSyncReplicaInfo->clear();
  SourceServer.clear();
  TargetServer.clear();
  NewReplicaServers.clear();
  SplitContainers.clear();
  RingBusy = false;
  AskCarriedOperations();
  if (ServerList->Count() == 1)
    ShowServerView();
  else if (PartitionList->Count() == 1)
    ShowPartitionView();
  FormUpdate();
}

void TDlgDetails::ShowServerView() {
  PageControl->setTabVisible(PageControl->indexOf(TabSheetSrvPart), true);
  PageControl->setCurrentWidget(TabSheetSrvPart);
  ServerName = (*ServerList)[0];
  PartitionName.clear();
  TextList names, rows;
  LastError = GetServerPartitions(DirContext, ServerName, names, rows);
  if (LastError == 0) FillSorted(*ListBoxSrvPart, names);
  ReportError(LastError, "Get Server Partitions");
  if (ListBoxSrvPart->count() == 0) {
    Ui().MessageBox(DialogKind::Warning, Format("No Partitions Detected on Server \"%s\"", ServerName),
                    DialogButtons::OkCancel);
    CloseDialog();
    return;
  }
  LabelInfoSrvPart->setText(Q(Format("%d Partition(s) on Server \"%s\"", ListBoxSrvPart->count(), ServerName)));
  // The first thing to do is choosing a partition, wherever the focus was left last time.
  ListBoxSrvPart->setFocus();
}

void TDlgDetails::ShowPartitionView() {
  PageControl->setTabVisible(PageControl->indexOf(TabSheetPartSrv), true);
  PageControl->setCurrentWidget(TabSheetPartSrv);
  PartitionName = (*PartitionList)[0];
  ServerName.clear();
  TextList holders;
  LastError = ReadAttrToList(DirContext, PartitionName, "Replica", holders);
  ReportError(LastError, "Get Partition Replica");
  if (LastError == 0) {
    for (QListWidget* list : {ListBoxPartServers, ListBoxServer1, ListBoxServer2}) FillSorted(*list, holders);
    ListBoxServerClick();
    FindRingChoices(holders);
  }
  if (ListBoxPartServers->count() == 0) {
    Ui().MessageBox(DialogKind::Warning, Format("No Servers found that host Partition %s\"", PartitionName),
                    DialogButtons::OkCancel);
    CloseDialog();
    return;
  }
  std::string info = Format("Partition \"%s\" found on %d Server(s)", PartitionName, ListBoxPartServers->count());
  // The count is a convenience: a tree that cannot tell it shows the header without it.
  nuint32 objects = 0;
  if (DSPartitionEntryCount(DirContext, PartitionName.c_str(), &objects) == 0)
    info += ", " + GroupedNumber(objects) + " objects";
  LabelInfoPartSrv->setText(Q(info));
  ListBoxPartServers->setFocus();  // the first thing to do is choosing a server
}

// ---- Selection state ----

void TDlgDetails::FormUpdate() {
  EnableTabs();
  std::string caption = "Sync";
  if (!ServerName.empty()) caption += Format(" Server: \"%s\"", ServerName);
  if (!PartitionName.empty()) caption += Format(" Partition: \"%s\"", PartitionName);
  setWindowTitle(Q(caption));
}

void TDlgDetails::EnableTabs() {
  PageControl->setTabVisible(PageControl->indexOf(TabSheetSrvPart), ServerList->Count() == 1);
  PageControl->setTabVisible(PageControl->indexOf(TabSheetPartSrv), PartitionList->Count() == 1);
  PageControl->setTabVisible(PageControl->indexOf(TabSheetSyncReplica),
                             ListBoxPartServers->count() >= 2 && !ServerName.empty());

  const bool server = !ServerName.empty();
  const bool partition = !PartitionName.empty();
  const bool belowRoot = partition && PartitionName != kRoot;
  BitBtnSyncSchema->setEnabled(server);
  BitBtnSyncPart->setEnabled(server && partition);
  BitBtnPartSendAll->setEnabled(server && partition);
  BitBtnPartRcvAll->setEnabled(server && partition);
  BitBtnSyncReplica->setEnabled(server && !TargetServer.empty() && partition);
  BitBtnPartJoin->setEnabled(belowRoot);
  BitBtnPartDel->setEnabled(belowRoot);
  BitBtnReplicaDel->setEnabled(server && partition);
  BitBtnRepairTimeStamps->setEnabled(partition);
  BitBtnReloadDS->setEnabled(server);
  // The ring changes: only what the directory would carry out is offered.
  BitBtnAddReplica->setEnabled(partition && !NewReplicaServers.empty() && !RingBusy);
  BitBtnChangeReplicaType->setEnabled(server && partition && !RingBusy && !ChangeTypeChoices().empty());
  BitBtnSplitPartition->setEnabled(partition && !SplitContainers.empty() && !RingBusy);
  BitBtnAbortOperation->setEnabled(partition && RingBusy);

  const std::string onServer = Format("Server \"%s\": ", ServerName);
  const std::string ofPartition = Format("Partition \"%s\": ", PartitionName);
  const std::string partitionOnServer = Format("Partition \"%s\" on Server \"%s\": ", PartitionName, ServerName);
  SetHint(*BitBtnSyncReplica, Hint(onServer, "Request a replica to synchronize with the selected server"));
  SetHint(*BitBtnSyncSchema, Hint(onServer, "Signal the skulker to schedule an update of the schema a specified "
                                            "number of seconds in the future"));
  SetHint(*BitBtnSyncPart, Hint(partitionOnServer, "Signal the skulker to schedule an update of the specified "
                                                   "partition a specified number of seconds into the future"));
  SetHint(*BitBtnPartSendAll, Hint(partitionOnServer, "Tells the specified partition to send full updates to any "
                                                      "server holding a replica of the partition"));
  SetHint(*BitBtnPartRcvAll, Hint(partitionOnServer, "Changes the state of the partition so all servers holding a "
                                                     "replica will send entire partition information to the "
                                                     "specified partition"));
  SetHint(*BitBtnPartJoin, Hint(ofPartition, "Joins a subordinate partition to its parent partition. The master "
                                             "replicas must exist on the same server."));
  SetHint(*BitBtnPartDel,
          Hint(ofPartition, "Removes an existing partition from eDirectory by deleting its master replica"));
  SetHint(*BitBtnReplicaDel, Hint(Format("Replica of \"%s\" on Server \"%s\": ", PartitionName, ServerName),
                                  "Removes a replica from the replica set of an eDirectory partition"));
  SetHint(*BitBtnRepairTimeStamps,
          Hint(ofPartition, std::string("Use only to recover from a catastrophic failure") + kCrLf +
                                "Read the TXT file and check " + kVendorWebAddress + " for details"));
  SetHint(*BitBtnReloadDS, Hint(onServer, "unload and reload DS"));
  SetHint(*BitBtnAddReplica,
          Hint(ofPartition, "Adds a secondary or read-only replica of the partition on a server that holds none"));
  SetHint(*BitBtnChangeReplicaType,
          Hint(Format("Replica of \"%s\" on Server \"%s\": ", PartitionName, ServerName),
               "Changes the type of the replica; a new master replica turns the old one into a secondary"));
  SetHint(*BitBtnSplitPartition, Hint(ofPartition, "Makes a container inside the partition the root of a new "
                                                   "partition, with a replica on each server of the partition's ring"));
  SetHint(*BitBtnAbortOperation,
          Hint(ofPartition, "Gives up the partition operation under way and brings its replicas back to On"));
  DisableUncarriedOperations();

  // The twins follow their partners.
  for (auto [twin, partner] : {std::pair{BitBtnSyncSchema2, BitBtnSyncSchema}, {BitBtnSyncPart2, BitBtnSyncPart},
                               {BitBtnPartSendAll2, BitBtnPartSendAll}, {BitBtnPartRcvAll2, BitBtnPartRcvAll},
                               {BitBtnPartJoin2, BitBtnPartJoin}, {BitBtnPartDel2, BitBtnPartDel},
                               {BitBtnReplicaDel2, BitBtnReplicaDel}, {BitBtnRepairTimeStamps2, BitBtnRepairTimeStamps}}) {
    twin->setEnabled(partner->isEnabled());
    SetHint(*twin, HintOf(*partner));
  }

  LabelPartSelectSrv->setVisible(ChosenRow(*ListBoxPartServers) < 0);
  LabelSrvSelectPart->setVisible(ChosenRow(*ListBoxSrvPart) <= 0);
}

void TDlgDetails::PageControlChange() { PanelTimeSelector->setVisible(true); }

void TDlgDetails::ListBoxSrvPartClick() {
  if (ChosenRow(*ListBoxSrvPart) < 0) return;
  PartitionName = CleanEntryName(ChosenText(*ListBoxSrvPart));
  FormUpdate();
}

void TDlgDetails::ListBoxPartServersClick() {
  const int row = ChosenRow(*ListBoxPartServers);
  if (row < 0) return;
  ServerName = CleanEntryName(ChosenText(*ListBoxPartServers));
  {
    // The chosen server is the source of the Synchronize Replica page as well.
    QSignalBlocker quiet(ListBoxServer1);
    ListBoxServer1->setCurrentRow(row);
  }
  FormUpdate();
  ListBoxServerClick();
}

void TDlgDetails::ListBoxServerClick() {
  LabelSyncReplicaInfo->clear();
  if (ChosenRow(*ListBoxServer1) >= 0) SourceServer = ChosenText(*ListBoxServer1);
  if (ChosenRow(*ListBoxServer2) >= 0) TargetServer = ChosenText(*ListBoxServer2);
  const bool canSend = SourceServer != TargetServer && !SourceServer.empty() && !TargetServer.empty() &&
                       Pos("[Sub", SourceServer) == 0 && Pos("[Sub", TargetServer) == 0 &&
                       Carried("NWDSSyncReplicaToServer");
  BitBtnSyncReplica->setEnabled(canSend);
  SourceServer = CleanEntryName(SourceServer);
  TargetServer = CleanEntryName(TargetServer);
  BtnSend1to2->setEnabled(canSend);
  if (!canSend) return;
  // Its width follows the panel through the panel's layout.
  LabelSyncReplicaInfo->setText(Q(Format("Send Replica for \"%s\" from Server \"%s\" to Server \"%s\"", PartitionName,
                                         SourceServer, TargetServer)));
}

// ---- Operations ----

std::vector<std::pair<QPushButton*, const char*>> TDlgDetails::OperationButtons() const {
  return {{BitBtnSyncSchema, "NWDSSyncSchema"},
          {BitBtnSyncPart, "NWDSSyncPartition"},
          {BitBtnPartSendAll, "NWDSPartitionSendAllUpdates"},
          {BitBtnPartRcvAll, "NWDSPartitionReceiveAllUpdates"},
          {BitBtnSyncReplica, "NWDSSyncReplicaToServer"},
          {BitBtnPartJoin, "NWDSJoinPartitions"},
          {BitBtnPartDel, "NWDSRemovePartition"},
          {BitBtnReplicaDel, "NWDSRemoveReplica"},
          {BitBtnRepairTimeStamps, "NWDSRepairTimeStamps"},
          {BitBtnReloadDS, "NWDSReloadDS"},
          {BitBtnAddReplica, "NWDSAddReplica"},
          {BitBtnChangeReplicaType, "NWDSChangeReplicaType"},
          {BitBtnSplitPartition, "NWDSSplitPartition"},
          {BitBtnAbortOperation, "NWDSAbortPartitionOperation"}};
}

void TDlgDetails::AskCarriedOperations() {
  uncarried_.clear();
  for (const auto& [button, call] : OperationButtons()) {
    std::string reason;
    if (!OperationCarried(DirContext, call, reason)) uncarried_[call] = reason;
  }
}

void TDlgDetails::DisableUncarriedOperations() {
  for (const auto& [button, call] : OperationButtons()) {
    const auto uncarried = uncarried_.find(call);
    if (uncarried == uncarried_.end()) continue;
    button->setEnabled(false);
    SetHint(*button, HintOf(*button) + kCrLf + uncarried->second);
  }
}

void TDlgDetails::GetSeconds() {
  DelaySeconds = SpinValue(*SpinEditH) * 3600 + SpinValue(*SpinEditM) * 60 + SpinValue(*SpinEditS);
}

bool TDlgDetails::Reported(NWRCODE code, const char* callName) {
  LastError = code;
  ReportError(code, callName);
  return code == 0;
}

void TDlgDetails::BitBtnSyncSchemaClick() {
  GetSeconds();
  Reported(NWDSSyncSchema(DirContext, ServerName.c_str(), static_cast<nuint32>(DelaySeconds)), "NWDSSyncSchema");
}

void TDlgDetails::BitBtnSyncPartClick() {
  GetSeconds();
  Reported(NWDSSyncPartition(DirContext, ServerName.c_str(), PartitionName.c_str(), static_cast<nuint32>(DelaySeconds)),
           "NWDSSyncPartition");
}

void TDlgDetails::BitBtnPartSendAllClick() {
  GetSeconds();  // the delay fields do not apply: the request is made at once
  Reported(NWDSPartitionSendAllUpdates(DirContext, PartitionName.c_str(), ServerName.c_str()),
           "NWDSPartitionSendAllUpdates");
}

void TDlgDetails::BitBtnPartRcvAllClick() {
  GetSeconds();
  Reported(NWDSPartitionReceiveAllUpdates(DirContext, PartitionName.c_str(), ServerName.c_str()),
           "NWDSPartitionReceiveAllUpdates");
}

void TDlgDetails::BitBtnSyncReplicaClick() {
  GetSeconds();
  const nuint32 flags = DS_SYNC_IMMEDIATE | (CheckBoxAllObjects->isChecked() ? DS_SYNC_ALL_OBJECTS : 0);
  Reported(NWDSSyncReplicaToServer(DirContext, SourceServer.c_str(), PartitionName.c_str(), TargetServer.c_str(), flags,
                                   static_cast<nuint32>(DelaySeconds)),
           "NWDSSyncReplicaToServer");
}

void TDlgDetails::BitBtnPartJoinClick() {
  if (!ConfirmAction()) return;
  if (Reported(NWDSJoinPartitions(DirContext, PartitionName.c_str(), 0), "NWDSJoinPartitions")) CloseDialog();
}

void TDlgDetails::BitBtnPartDelClick() {
  if (!ConfirmAction()) return;
  if (Reported(NWDSRemovePartition(DirContext, PartitionName.c_str()), "NWDSRemovePartition")) CloseDialog();
}

void TDlgDetails::BitBtnReplicaDelClick() {
  if (!ConfirmAction()) return;
  if (Reported(NWDSRemoveReplica(DirContext, ServerName.c_str(), PartitionName.c_str()), "NWDSRemoveReplica"))
    CloseDialog();
}

void TDlgDetails::BitBtnRepairTimeStampsClick() {
  if (!ConfirmAction()) return;
  Reported(NWDSRepairTimeStamps(DirContext, PartitionName.c_str()), "NWDSRepairTimeStamps");  // stays open
}

void TDlgDetails::BitBtnReloadDSClick() {
  if (!ConfirmAction()) return;
  if (Reported(NWDSReloadDS(DirContext, ServerName.c_str()), "NWDSReloadDS")) CloseDialog();
}

// ---- Ring changes ----
// The directory takes no delay for them: each request is made at once, whatever the
// delay fields say, and the page shows the ring as it stands afterwards.

void TDlgDetails::FindRingChoices(const TextList& holders) {
  NewReplicaServers.clear();
  SplitContainers.clear();
  RingBusy = false;
  std::set<std::string> holding;
  for (int i = 0; i < holders.Count(); ++i) {
    holding.insert(NameKey(CleanEntryName(holders[i])));
    // A replica that is not on names its state after its number: "[Nr: 2] [New]".
    if (Pos("] [", KeepTextAfter(holders[i], "[Nr: ")) > 0) RingBusy = true;
  }
  const auto byName = [](const std::string& a, const std::string& b) { return NameKey(a) < NameKey(b); };
  TextList servers;
  if (SearchNamesQuietly(DirContext, kRoot, kServerFilter, &servers, DS_SEARCH_SUBTREE) == 0)
    for (int i = 0; i < servers.Count(); ++i)
      if (!holding.contains(NameKey(servers[i]))) NewReplicaServers.push_back(servers[i]);
  std::sort(NewReplicaServers.begin(), NewReplicaServers.end(), byName);
  TextList containers, roots;
  if (SearchNamesQuietly(DirContext, PartitionName, kContainerFilter, &containers, DS_SEARCH_SUBTREE) != 0 ||
      SearchNamesQuietly(DirContext, PartitionName, kPartitionRootFilter, &roots, DS_SEARCH_SUBTREE) != 0)
    return;
  const std::string partitionKey = NameKey(PartitionName);
  std::set<std::string> rootKeys{partitionKey};
  for (int r = 0; r < roots.Count(); ++r) rootKeys.insert(NameKey(roots[r]));
  for (int i = 0; i < containers.Count(); ++i) {
    // A root itself, or inside a partition below this one: its containers up to this
    // partition's root include another root.
    const std::string key = NameKey(containers[i]);
    bool inOtherPartition = rootKeys.contains(key);
    for (std::string above = ParentKey(key); !inOtherPartition && !above.empty() && above != partitionKey;
         above = ParentKey(above))
      inOtherPartition = rootKeys.contains(above);
    if (!inOtherPartition) SplitContainers.push_back(containers[i]);
  }
  std::sort(SplitContainers.begin(), SplitContainers.end(), byName);
}

std::vector<std::string> TDlgDetails::ChangeTypeChoices() const {
  const std::string entry = ChosenText(*ListBoxPartServers);
  if (entry.empty() || Pos("[Sub", entry) != 0) return {};
  const std::string type = EntryType(entry);
  // The master keeps its part until another replica takes it over.
  if (type == kSecondary) return {kMaster, kReadOnly};
  if (type == kReadOnly) return {kMaster, kSecondary};
  return {};
}

bool TDlgDetails::ConfirmRingChange(const std::string& what) const {
  return Ui().MessageBox(DialogKind::Confirmation, what + kCrLf + kCrLf + "Are you sure?", DialogButtons::OkAbort) ==
         DialogResult::Ok;
}

void TDlgDetails::RefreshPartitionView() {
  if (PartitionList->Count() != 1) {
    FormUpdate();
    return;
  }
  for (QListWidget* list : {ListBoxPartServers, ListBoxServer1, ListBoxServer2}) EmptyList(*list);
  LabelSyncReplicaInfo->clear();
  SourceServer.clear();
  TargetServer.clear();
  ShowPartitionView();
  FormUpdate();
}

namespace {

nuint32 TypeNumber(const std::string& type) {
  return type == kMaster ? RT_MASTER : type == kSecondary ? RT_SECONDARY : RT_READONLY;
}

bool Choose(const std::string& title, const std::string& prompt, const std::vector<std::string>& items, int& chosen) {
  chosen = -1;
  return Ui().ChooseItem(title, prompt, items, chosen) && chosen >= 0 && chosen < static_cast<int>(items.size());
}

}  // namespace

void TDlgDetails::BitBtnAddReplicaClick() {
  GetSeconds();
  int server = -1, type = -1;
  if (!Choose("Add Replica", Format("Server for a new replica of Partition \"%s\":", PartitionName), NewReplicaServers,
              server))
    return;
  const std::string target = AbsoluteName(NewReplicaServers[static_cast<std::size_t>(server)]);
  const std::vector<std::string> types{kSecondary, kReadOnly};
  if (!Choose("Add Replica", Format("Type of the new replica of Partition \"%s\" on Server \"%s\":", PartitionName, target),
              types, type))
    return;
  const std::string& typeName = types[static_cast<std::size_t>(type)];
  if (!ConfirmRingChange(Format("Add a %s replica of Partition \"%s\" on Server \"%s\".", typeName, PartitionName,
                                target)))
    return;
  if (Reported(NWDSAddReplica(DirContext, target.c_str(), PartitionName.c_str(), TypeNumber(typeName)),
               "NWDSAddReplica"))
    RefreshPartitionView();
}

void TDlgDetails::BitBtnChangeReplicaTypeClick() {
  GetSeconds();
  const std::vector<std::string> types = ChangeTypeChoices();
  int type = -1;
  if (types.empty() ||
      !Choose("Change Replica Type",
              Format("New type of the replica of Partition \"%s\" on Server \"%s\":", PartitionName, ServerName), types,
              type))
    return;
  const std::string& typeName = types[static_cast<std::size_t>(type)];
  std::string what = Format("Make the replica of Partition \"%s\" on Server \"%s\" a %s replica.", PartitionName,
                            ServerName, typeName);
  if (typeName == kMaster) what += " The present master replica becomes a Secondary replica.";
  if (!ConfirmRingChange(what)) return;
  if (Reported(NWDSChangeReplicaType(DirContext, PartitionName.c_str(), ServerName.c_str(), TypeNumber(typeName)),
               "NWDSChangeReplicaType"))
    RefreshPartitionView();
}

void TDlgDetails::BitBtnSplitPartitionClick() {
  GetSeconds();
  int container = -1;
  if (!Choose("Split Partition",
              Format("Container in Partition \"%s\" that becomes the root of a new partition:", PartitionName),
              SplitContainers, container))
    return;
  const std::string root = AbsoluteName(SplitContainers[static_cast<std::size_t>(container)]);
  if (!ConfirmRingChange(Format("Split Partition \"%s\": Container \"%s\" becomes the root of a new partition "
                                "with a replica on each server of the partition's ring, of the same type.",
                                PartitionName, root)))
    return;
  if (Reported(NWDSSplitPartition(DirContext, root.c_str(), 0), "NWDSSplitPartition")) RefreshPartitionView();
}

void TDlgDetails::BitBtnAbortOperationClick() {
  GetSeconds();
  if (!ConfirmRingChange(
          Format("Abort the operation under way on Partition \"%s\": its replicas return to the state On.", PartitionName)))
    return;
  if (Reported(NWDSAbortPartitionOperation(DirContext, PartitionName.c_str()), "NWDSAbortPartitionOperation"))
    RefreshPartitionView();
}

}  // namespace vestrel
