// The details dialog over the embedded directory: its two views, the selection rules of
// its buttons and pages, the requests its operations and ring changes make (and what the
// scans show after a ring change), and the main window's double-click that opens it or
// the cell viewer.
#include "details/Vestrel_detail.h"

#include <QApplication>
#include <QLineEdit>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

#include "RecordingUi.h"
#include "ScanRows.h"
#include "TempConfigHome.h"
#include "app/Vestrel_data.h"
#include "app/Vestrel_main.h"
#include "directory/D_NW.h"
#include "directory/NETWIN32.h"
#include "platform/nwclient/Model.h"
#include "platform/nwclient/NwTestHooks.h"
#include "platform/nwclient/Operations.h"
#include "scan/PartitionScan.h"
#include "util/D_Util.h"
#include "util/StringGrid.h"

namespace vestrel {
namespace {

constexpr nuint32 kStart = 1714982400;  // 2024-05-06 08:00:00 UTC

// S4 holds no replica; C.O has a single replica holder.
const char* kSmallTree = R"({"tree":"SMALL_TREE","clock":1000,
  "objects":[{"name":"O","class":"Organization"},{"name":"C.O","class":"Organizational Unit"}],
  "servers":[{"name":"S1.O"},{"name":"S2.O"},{"name":"S4.O"}],
  "partitions":[{"root":"[Root]","replicas":[{"server":"S1.O"},{"server":"S2.O"}]},
                {"root":"C.O","replicas":[{"server":"S2.O"}]}]})";

std::vector<std::string> Items(const QListWidget& list) {
  std::vector<std::string> items;
  for (int i = 0; i < list.count(); ++i) items.push_back(list.item(i)->text().toStdString());
  return items;
}

int RowOf(const QListWidget& list, const std::string& prefix) {
  for (int i = 0; i < list.count(); ++i)
    if (list.item(i)->text().toStdString().rfind(prefix, 0) == 0) return i;
  ADD_FAILURE() << "no entry " << prefix;
  return -1;
}

class DetailsDialogTest : public ::testing::Test {
 protected:
  testing::TempConfigHome config;  // the main window of some tests reads and writes settings
  DetailsDialogTest() {
    nwtest::Reset();
    EXPECT_EQ(nwtest::ConnectTreeFile(std::string(VESTREL_TEST_TREES) + "/acme.json", "admin.ACME", true), "");
    EXPECT_EQ(nwtest::ConnectTreeJson(kSmallTree, "admin.O", false), "");
    nwtest::SetClock(kStart);
    acme = NewContext("ACME_TREE");
    small = NewContext("SMALL_TREE");
  }
  ~DetailsDialogTest() override {
    dialog.hide();
    DSContextFree(acme);
    DSContextFree(small);
    nwtest::ResetToDefaults();
  }

  // A context as the main window sets it up: typeless names below [Root].
  static NWDSContextHandle NewContext(const char* tree) {
    NWDSContextHandle context = 0;
    EXPECT_EQ(DSContextCreate(&context), 0);
    EXPECT_EQ(DSContextSetValue(context, DCK_TREE_NAME, tree), 0);
    ModifyContextFlags(context, '+', DCV_TYPELESS_NAMES);
    EXPECT_EQ(DSContextSetValue(context, DCK_NAME_CONTEXT, "[Root]"), 0);
    return context;
  }

  void Open(TextList& opened, TextList& other, const std::string& name, NWDSContextHandle context) {
    dialog.hide();
    opened.Clear();
    opened.Add(name);
    other.Clear();
    dialog.DirContext = context;
    dialog.show();
    QCoreApplication::processEvents();  // a close from the opening arrives here
  }
  void OpenServer(const std::string& name, NWDSContextHandle context) {
    Open(*dialog.ServerList, *dialog.PartitionList, name, context);
  }
  void OpenPartition(const std::string& name, NWDSContextHandle context) {
    Open(*dialog.PartitionList, *dialog.ServerList, name, context);
  }
  void Choose(QListWidget& list, const std::string& prefix) { list.setCurrentRow(RowOf(list, prefix)); }
  bool TabShown(QWidget* page) const { return dialog.PageControl->isTabVisible(dialog.PageControl->indexOf(page)); }
  std::string Caption() const { return dialog.windowTitle().toStdString(); }

  testing::RecordingUi ui;
  TDlgDetails dialog;
  NWDSContextHandle acme = 0;
  NWDSContextHandle small = 0;
};

// ---- Server view ----

TEST_F(DetailsDialogTest, ServerViewListsItsPartitionsAndTheChoiceDrivesButtonsAndCaption) {
  OpenServer("FS1.HQ.ACME", acme);
  ASSERT_TRUE(dialog.isVisible());
  EXPECT_EQ(Items(*dialog.ListBoxSrvPart),
            (std::vector<std::string>{"[Root]", "Berlin.Sales.ACME", "Engineering.ACME", "Legacy.ACME", "Sales.ACME"}));
  EXPECT_EQ(dialog.LabelInfoSrvPart->text().toStdString(), "5 Partition(s) on Server \"FS1.HQ.ACME\"");
  // Names may hold "<" or "&": no label of the dialog reads its text as markup.
  for (const QLabel* label : dialog.findChildren<QLabel*>())
    EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->objectName().toStdString();
  EXPECT_EQ(dialog.PageControl->currentWidget(), dialog.TabSheetSrvPart);
  EXPECT_TRUE(TabShown(dialog.TabSheetSrvPart));
  EXPECT_FALSE(TabShown(dialog.TabSheetPartSrv));
  EXPECT_FALSE(TabShown(dialog.TabSheetSyncReplica));
  EXPECT_EQ(Caption(), "Sync Server: \"FS1.HQ.ACME\"");
  EXPECT_TRUE(dialog.BitBtnSyncSchema->isEnabled());
  EXPECT_TRUE(dialog.BitBtnReloadDS->isEnabled());
  EXPECT_FALSE(dialog.BitBtnSyncPart->isEnabled());
  EXPECT_FALSE(dialog.BitBtnRepairTimeStamps->isEnabled());
  EXPECT_FALSE(dialog.LabelSrvSelectPart->isHidden());
  EXPECT_TRUE(ui.boxes.empty());

  // [Root] is the first entry: it may be synchronised, never joined or removed, and the
  // "Select Partition" note stays.
  Choose(*dialog.ListBoxSrvPart, "[Root]");
  EXPECT_EQ(dialog.PartitionName, "[Root]");
  EXPECT_TRUE(dialog.BitBtnSyncPart->isEnabled());
  EXPECT_TRUE(dialog.BitBtnReplicaDel->isEnabled());
  EXPECT_FALSE(dialog.BitBtnPartJoin->isEnabled());
  EXPECT_FALSE(dialog.BitBtnPartDel->isEnabled());
  EXPECT_FALSE(dialog.BitBtnPartJoin2->isEnabled());
  EXPECT_FALSE(dialog.LabelSrvSelectPart->isHidden());

  Choose(*dialog.ListBoxSrvPart, "Sales.ACME");
  EXPECT_EQ(dialog.PartitionName, ".Sales.ACME");
  EXPECT_TRUE(dialog.BitBtnPartJoin->isEnabled());
  EXPECT_TRUE(dialog.BitBtnPartDel2->isEnabled());
  EXPECT_TRUE(dialog.LabelSrvSelectPart->isHidden());
  EXPECT_EQ(Caption(), "Sync Server: \"FS1.HQ.ACME\" Partition: \".Sales.ACME\"");
  EXPECT_EQ(HintOf(*dialog.BitBtnSyncPart),
            "Partition \".Sales.ACME\" on Server \"FS1.HQ.ACME\": \r\nSignal the skulker to schedule an update of the "
            "specified partition a specified number of seconds into the future");
  EXPECT_EQ(HintOf(*dialog.BitBtnReplicaDel),
            "Replica of \".Sales.ACME\" on Server \"FS1.HQ.ACME\": \r\nRemoves a replica from the replica set of an "
            "eDirectory partition");
  TextList repairLines;
  repairLines.SetText(HintOf(*dialog.BitBtnRepairTimeStamps));
  ASSERT_EQ(repairLines.Count(), 3);
  EXPECT_EQ(repairLines[0], "Partition \".Sales.ACME\": ");
  EXPECT_EQ(repairLines[1], "Use only to recover from a catastrophic failure");
  EXPECT_EQ(HintOf(*dialog.BitBtnSyncPart2), HintOf(*dialog.BitBtnSyncPart));
  EXPECT_EQ(dialog.BitBtnSyncPart->toolTip().toStdString(), ReplaceInText(HintOf(*dialog.BitBtnSyncPart), "\r\n", "\n"));
}

TEST_F(DetailsDialogTest, AServerWithoutPartitionsIsReportedAndTheDialogCloses) {
  OpenServer("S4.O", small);
  EXPECT_EQ(ui.boxes, (std::vector<testing::RecordedBox>{
                          {DialogKind::Warning, "No Partitions Detected on Server \"S4.O\"", DialogButtons::OkCancel}}));
  EXPECT_FALSE(dialog.isVisible());

  // A listing that fails: its error, then the same warning.
  ui.boxes.clear();
  OpenServer("OLDNW.Legacy.ACME", acme);
  ASSERT_EQ(ui.boxes.size(), 2u);
  EXPECT_EQ(ui.boxes[0].kind, DialogKind::Error);
  EXPECT_EQ(ui.boxes[0].text, "Get Server Partitions returned error " + ErrorText(ERR_UNREACHABLE_SERVER));
  EXPECT_EQ(ui.boxes[1].text, "No Partitions Detected on Server \"OLDNW.Legacy.ACME\"");
  EXPECT_EQ(dialog.LastError, ERR_UNREACHABLE_SERVER);
  EXPECT_FALSE(dialog.isVisible());
}

// ---- Partition view and the Synchronize Replica page ----

TEST_F(DetailsDialogTest, PartitionViewListsTheReplicaHoldersAndOffersTheReplicaPageOnceAServerIsChosen) {
  OpenPartition("Berlin.Sales.ACME", acme);
  ASSERT_TRUE(dialog.isVisible());
  std::vector<std::string> holders{"BER-FS1.Berlin.Sales.ACME [Master] [Nr: 1]",
                                   "FS1.HQ.ACME [Subordinate Reference] [Nr: 3]",
                                   "SALES-FS1.Sales.ACME [Secondary] [Nr: 2]"};
  EXPECT_EQ(Items(*dialog.ListBoxPartServers), holders);
  EXPECT_EQ(Items(*dialog.ListBoxServer1), holders);
  EXPECT_EQ(Items(*dialog.ListBoxServer2), holders);
  EXPECT_EQ(dialog.LabelInfoPartSrv->text().toStdString(), "Partition \"Berlin.Sales.ACME\" found on 3 Server(s), 3 objects");
  EXPECT_EQ(dialog.PageControl->currentWidget(), dialog.TabSheetPartSrv);
  EXPECT_FALSE(TabShown(dialog.TabSheetSrvPart));
  EXPECT_FALSE(TabShown(dialog.TabSheetSyncReplica));  // no server chosen yet
  EXPECT_EQ(Caption(), "Sync Partition: \"Berlin.Sales.ACME\"");
  EXPECT_FALSE(dialog.LabelPartSelectSrv->isHidden());
  EXPECT_TRUE(dialog.BitBtnRepairTimeStamps2->isEnabled());
  EXPECT_FALSE(dialog.BitBtnSyncPart2->isEnabled());

  Choose(*dialog.ListBoxPartServers, "SALES-FS1");
  EXPECT_EQ(dialog.ServerName, ".SALES-FS1.Sales.ACME");
  EXPECT_TRUE(TabShown(dialog.TabSheetSyncReplica));
  EXPECT_TRUE(dialog.LabelPartSelectSrv->isHidden());
  EXPECT_TRUE(dialog.BitBtnSyncPart2->isEnabled());
  // The chosen server is the source of the replica page too.
  EXPECT_EQ(dialog.ListBoxServer1->currentRow(), dialog.ListBoxPartServers->currentRow());
  EXPECT_EQ(dialog.SourceServer, ".SALES-FS1.Sales.ACME");
  EXPECT_FALSE(dialog.BitBtnSyncReplica->isEnabled());  // no target yet

  Choose(*dialog.ListBoxServer2, "BER-FS1");
  EXPECT_TRUE(dialog.BitBtnSyncReplica->isEnabled());
  EXPECT_TRUE(dialog.BtnSend1to2->isEnabled());
  EXPECT_EQ(dialog.LabelSyncReplicaInfo->text().toStdString(),
            "Send Replica for \"Berlin.Sales.ACME\" from Server \".SALES-FS1.Sales.ACME\" to Server "
            "\".BER-FS1.Berlin.Sales.ACME\"");
}

TEST_F(DetailsDialogTest, SameServerOrASubordinateReferenceLeavesSyncReplicaDisabled) {
  OpenPartition("Berlin.Sales.ACME", acme);
  Choose(*dialog.ListBoxPartServers, "BER-FS1");
  Choose(*dialog.ListBoxServer2, "BER-FS1");
  EXPECT_FALSE(dialog.BitBtnSyncReplica->isEnabled());
  EXPECT_FALSE(dialog.BtnSend1to2->isEnabled());
  EXPECT_TRUE(dialog.LabelSyncReplicaInfo->text().isEmpty());

  Choose(*dialog.ListBoxServer2, "FS1.HQ");  // a subordinate reference as target
  EXPECT_FALSE(dialog.BitBtnSyncReplica->isEnabled());
  EXPECT_TRUE(dialog.LabelSyncReplicaInfo->text().isEmpty());
  Choose(*dialog.ListBoxServer2, "SALES-FS1");
  EXPECT_TRUE(dialog.BitBtnSyncReplica->isEnabled());
  Choose(*dialog.ListBoxServer1, "FS1.HQ");  // and as source
  EXPECT_FALSE(dialog.BitBtnSyncReplica->isEnabled());
}

TEST_F(DetailsDialogTest, RootAndSingleHolderPartitions) {
  OpenPartition("[Root]", acme);
  Choose(*dialog.ListBoxPartServers, "FS2.HQ");
  EXPECT_EQ(dialog.PartitionName, "[Root]");
  EXPECT_FALSE(dialog.BitBtnPartJoin2->isEnabled());
  EXPECT_FALSE(dialog.BitBtnPartDel2->isEnabled());
  EXPECT_TRUE(dialog.BitBtnReplicaDel2->isEnabled());

  OpenPartition("C.O", small);
  ASSERT_EQ(dialog.ListBoxPartServers->count(), 1);
  EXPECT_FALSE(TabShown(dialog.TabSheetSyncReplica));
  Choose(*dialog.ListBoxPartServers, "S2.O");
  EXPECT_EQ(dialog.ServerName, ".S2.O");
  EXPECT_FALSE(TabShown(dialog.TabSheetSyncReplica));
  EXPECT_TRUE(dialog.BitBtnPartJoin2->isEnabled());
}

TEST_F(DetailsDialogTest, EveryOpeningStartsWithoutTheNamesOfEarlierOnes) {
  OpenPartition("Berlin.Sales.ACME", acme);
  Choose(*dialog.ListBoxPartServers, "BER-FS1");
  Choose(*dialog.ListBoxServer2, "SALES-FS1");
  ASSERT_TRUE(dialog.BitBtnSyncReplica->isEnabled());

  // Another partition: the replica page's names of Berlin are gone.
  OpenPartition("Sales.ACME", acme);
  EXPECT_EQ(dialog.SourceServer, "");
  EXPECT_EQ(dialog.TargetServer, "");
  EXPECT_TRUE(dialog.LabelSyncReplicaInfo->text().isEmpty());
  Choose(*dialog.ListBoxServer2, "FS1.HQ");
  EXPECT_FALSE(dialog.BitBtnSyncReplica->isEnabled());  // no source from the earlier opening

  // A server view after a partition view: no replica holders of that partition.
  OpenServer("FS2.HQ.ACME", acme);
  EXPECT_EQ(dialog.ListBoxPartServers->count(), 0);
  EXPECT_FALSE(TabShown(dialog.TabSheetSyncReplica));
  EXPECT_FALSE(TabShown(dialog.TabSheetPartSrv));
  EXPECT_EQ(dialog.PartitionName, "");
}

TEST_F(DetailsDialogTest, AFailingReplicaReadNeverShowsTheHoldersOfAnEarlierPartition) {
  OpenPartition("Berlin.Sales.ACME", acme);
  ASSERT_EQ(dialog.ListBoxPartServers->count(), 3);
  OpenPartition("NoSuch.ACME", acme);
  ASSERT_EQ(ui.boxes.size(), 2u);
  EXPECT_EQ(ui.boxes[0].text, "Get Partition Replica returned error " + ErrorText(ERR_NO_SUCH_ENTRY));
  EXPECT_EQ(ui.boxes[1], (testing::RecordedBox{DialogKind::Warning, "No Servers found that host Partition NoSuch.ACME\"",
                                               DialogButtons::OkCancel}));
  EXPECT_EQ(dialog.ListBoxPartServers->count(), 0);
  EXPECT_EQ(dialog.ListBoxServer1->count(), 0);
  EXPECT_FALSE(dialog.isVisible());
}

// ---- Operations ----

TEST_F(DetailsDialogTest, ScheduledRequestsPassTheDelayAndTheReplicaFlags) {
  OpenPartition("Engineering.ACME", acme);
  Choose(*dialog.ListBoxPartServers, "ENG-FS1");
  dialog.BitBtnSyncSchema2->click();
  EXPECT_EQ(nw::LastOperationRequest().operation, "NWDSSyncSchema");
  EXPECT_EQ(nw::LastOperationRequest().names, (std::vector<std::string>{".ENG-FS1.Engineering.ACME"}));
  EXPECT_EQ(nw::LastOperationRequest().seconds, 5u);

  dialog.SpinEditH->setValue(23);
  dialog.SpinEditM->setValue(59);
  dialog.SpinEditS->setValue(59);
  dialog.BitBtnSyncPart2->click();
  EXPECT_EQ(dialog.DelaySeconds, 86399);
  EXPECT_EQ(nw::LastOperationRequest().names,
            (std::vector<std::string>{".ENG-FS1.Engineering.ACME", "Engineering.ACME"}));
  EXPECT_EQ(nw::LastOperationRequest().seconds, 86399u);
  // A field whose text is no number counts as 0.
  dialog.SpinEditM->findChild<QLineEdit*>()->setText("");
  dialog.BitBtnSyncSchema2->click();
  EXPECT_EQ(nw::LastOperationRequest().seconds, 23u * 3600 + 59);

  // Send and receive all updates go at once, partition first.
  dialog.BitBtnPartSendAll2->click();
  EXPECT_EQ(nw::LastOperationRequest().names,
            (std::vector<std::string>{"Engineering.ACME", ".ENG-FS1.Engineering.ACME"}));

  Choose(*dialog.ListBoxServer2, "FS2.HQ");
  dialog.BitBtnSyncReplica->click();
  EXPECT_EQ(nw::LastOperationRequest().names,
            (std::vector<std::string>{".ENG-FS1.Engineering.ACME", "Engineering.ACME", ".FS2.HQ.ACME"}));
  EXPECT_EQ(nw::LastOperationRequest().flags, 2u);
  dialog.CheckBoxAllObjects->setChecked(true);
  dialog.BitBtnSyncReplica->click();
  EXPECT_EQ(nw::LastOperationRequest().flags, 6u);
  EXPECT_EQ(nwtest::CallCount("NWDSSyncReplicaToServer"), 2u);
  EXPECT_EQ(dialog.LastError, 0);
  EXPECT_TRUE(ui.boxes.empty());  // success is silent
  EXPECT_TRUE(dialog.isVisible());
}

TEST_F(DetailsDialogTest, ConfirmedRequestsAskFirstAndCloseOnlyWhereTheyShould) {
  OpenServer("FS1.HQ.ACME", acme);
  Choose(*dialog.ListBoxSrvPart, "Sales.ACME");
  dialog.LastError = 77;
  ui.QueueAnswer(DialogResult::Abort);
  dialog.BitBtnReplicaDel->click();
  EXPECT_EQ(nwtest::CallCount("NWDSRemoveReplica"), 0u);
  EXPECT_EQ(dialog.LastError, 77);
  EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Are you sure?"});
  EXPECT_TRUE(dialog.isVisible());

  // A failing removal names the call and stays open.
  ui.boxes.clear();
  dialog.BitBtnPartDel->click();
  ASSERT_EQ(ui.boxes.size(), 2u);
  EXPECT_EQ(ui.boxes[1].kind, DialogKind::Error);
  EXPECT_EQ(ui.boxes[1].text, "NWDSRemovePartition returned error " + ErrorText(ERR_MULTIPLE_REPLICAS));
  EXPECT_EQ(dialog.LastError, ERR_MULTIPLE_REPLICAS);
  EXPECT_TRUE(dialog.isVisible());

  dialog.BitBtnRepairTimeStamps->click();
  EXPECT_EQ(nwtest::CallCount("NWDSRepairTimeStamps"), 1u);
  EXPECT_EQ(dialog.LastError, 0);
  EXPECT_TRUE(dialog.isVisible());

  dialog.BitBtnPartJoin->click();  // Sales' master is not on [Root]'s master server
  EXPECT_EQ(dialog.LastError, ERR_REPLICA_NOT_ON);
  EXPECT_TRUE(dialog.isVisible());

  dialog.BitBtnReplicaDel->click();
  EXPECT_EQ(dialog.LastError, 0);
  EXPECT_FALSE(dialog.isVisible());
}

TEST_F(DetailsDialogTest, ReloadDSClosesAfterSuccess) {
  OpenServer("FS2.HQ.ACME", acme);
  dialog.BitBtnReloadDS->click();
  EXPECT_EQ(nw::LastOperationRequest().names, (std::vector<std::string>{"FS2.HQ.ACME"}));
  EXPECT_FALSE(dialog.isVisible());
}

// ---- End to end on the demo tree ----

TEST_F(DetailsDialogTest, ASyncPartitionWithAFiveSecondDelayShowsAFresherSyncOnceTheTimeHasCome) {
  TextList before, early, after;
  ASSERT_EQ(ReadAttrToList(acme, "Sales.ACME", "Partition Status", before), 0);
  OpenServer("FS1.HQ.ACME", acme);
  Choose(*dialog.ListBoxSrvPart, "Sales.ACME");
  dialog.BitBtnSyncPart->click();
  ASSERT_EQ(dialog.LastError, 0);

  nwtest::AdvanceClock(4);
  ASSERT_EQ(ReadAttrToList(acme, "Sales.ACME", "Partition Status", early), 0);
  EXPECT_EQ(early.ToVector(), before.ToVector());
  nwtest::AdvanceClock(1);
  ASSERT_EQ(ReadAttrToList(acme, "Sales.ACME", "Partition Status", after), 0);
  EXPECT_NE(after.ToVector(), before.ToVector());
  const nw::Tree& tree = *nwtest::FindTree("ACME_TREE");
  for (const nw::Replica& replica : tree.Find("Sales.ACME")->partition->ring) EXPECT_EQ(replica.lastSync, kStart + 5);
}

TEST_F(DetailsDialogTest, ARemovedReplicaIsGoneFromTheReplicaValuesAndTheServersPartitions) {
  OpenPartition("Engineering.ACME", acme);
  Choose(*dialog.ListBoxPartServers, "FS2.HQ");
  dialog.BitBtnReplicaDel2->click();
  ASSERT_EQ(dialog.LastError, 0);
  EXPECT_FALSE(dialog.isVisible());

  TextList replicas, names, rows;
  ASSERT_EQ(ReadAttrToList(acme, "Engineering.ACME", "Replica", replicas), 0);
  EXPECT_EQ(replicas.Count(), 2);
  for (const std::string& line : replicas.ToVector()) EXPECT_EQ(line.find("FS2.HQ.ACME"), std::string::npos);
  ASSERT_EQ(GetServerPartitions(acme, "FS2.HQ.ACME", names, rows), 0);
  EXPECT_EQ(names.IndexOf("Engineering.ACME"), -1);
  EXPECT_NE(names.IndexOf("[Root]"), -1);
}

// ---- The main window's double-click ----

class GridDoubleClickTest : public DetailsDialogTest {
 protected:
  GridDoubleClickTest() {
    savedContext = MainContext;
    OKBottomDlg = &viewer;
    DlgDetails = &dialog;
  }
  ~GridDoubleClickTest() override {
    OKBottomDlg = nullptr;
    DlgDetails = nullptr;
    MainContext = savedContext;
  }
  // Runs the double-click; whatever dialog it opens is looked at, then closed.
  void DoubleClick(StringGridView* grid, int col, int row, std::function<void()> look) {
    grid->SetCurrentCell(col, row);
    QTimer::singleShot(0, [look] {
      if (QWidget* modal = QApplication::activeModalWidget()) {
        look();
        static_cast<QDialog*>(modal)->reject();
      }
    });
    form.StringGridDblClick(grid);
  }

  NWDSContextHandle savedContext = 0;
  TMainForm form;
  TOKBottomDlg viewer;
};

TEST_F(GridDoubleClickTest, ValueColumnsOpenTheCellViewerAndNameColumnsTheDetails) {
  StringGrid& servers = form.StringGridSrv->Grid();
  servers.SetRowCount(3);
  servers.SetCell(1, 0, "Server");
  servers.SetCell(3, 0, "Network Address");
  servers.SetCell(1, 1, "FS1");
  servers.SetCell(2, 1, "HQ.ACME");
  servers.SetCell(3, 1, "TCP: 10.1.0.11:524\r\nUDP: 10.1.0.11:524");

  bool looked = false;
  DoubleClick(form.StringGridSrv, 3, 1, [&] {
    looked = true;
    EXPECT_EQ(viewer.windowTitle().toStdString(), "FS1 - Network Address");
    EXPECT_EQ(Items(*viewer.ListBoxDetail), (std::vector<std::string>{"TCP: 10.1.0.11:524", "UDP: 10.1.0.11:524"}));
  });
  EXPECT_TRUE(looked);

  looked = false;
  *dialog.PartitionList = TextList();
  dialog.PartitionList->Add("Sales.ACME");
  MainContext = acme;
  DoubleClick(form.StringGridSrv, 1, 1, [&] {
    looked = true;
    EXPECT_EQ(dialog.ServerList->ToVector(), std::vector<std::string>{"FS1.HQ.ACME"});
    EXPECT_EQ(dialog.PartitionList->Count(), 0);
    EXPECT_EQ(Caption(), "Sync Server: \"FS1.HQ.ACME\"");
  });
  EXPECT_TRUE(looked);
  EXPECT_EQ(dialog.DirContext, acme);

  // An empty row opens nothing.
  looked = false;
  DoubleClick(form.StringGridSrv, 1, 2, [&] { looked = true; });
  EXPECT_FALSE(looked);
  QCoreApplication::processEvents();
}

TEST_F(GridDoubleClickTest, ThePartitionGridOpensThePartitionView) {
  StringGrid& partitions = form.StringGridPart->Grid();
  partitions.SetRowCount(2);
  partitions.SetCell(1, 1, "Sales");
  partitions.SetCell(2, 1, "ACME");
  MainContext = acme;
  bool looked = false;
  DoubleClick(form.StringGridPart, 2, 1, [&] {
    looked = true;
    EXPECT_EQ(dialog.PartitionList->ToVector(), std::vector<std::string>{"Sales.ACME"});
    EXPECT_EQ(dialog.ServerList->Count(), 0);
    EXPECT_EQ(dialog.ListBoxPartServers->count(), 2);
  });
  EXPECT_TRUE(looked);
}

// ---- Ring changes ----

using testing::PartitionScanShows;

// The entries of the partition page, read anew.
std::vector<std::string> RingOf(TDlgDetails& dialog, const std::string& partition, NWDSContextHandle context) {
  dialog.hide();
  dialog.PartitionList->Clear();
  dialog.PartitionList->Add(partition);
  dialog.ServerList->Clear();
  dialog.DirContext = context;
  dialog.show();
  QCoreApplication::processEvents();
  return Items(*dialog.ListBoxPartServers);
}

struct RingChange {
  const char* label;
  const char* partition;  // the partition page opened
  const char* chosen;     // the replica chosen first, "" for none
  QPushButton* TDlgDetails::*button;
  std::vector<std::string> answers;  // the choices made, in order
  std::string confirmation;
  nw::OperationRequest request;
  std::vector<std::string> ringAfter;  // the page after the change
  const char* holder;  // a server whose partition list now names `holds`, or nullptr
  const char* holds;
  const char* scanned;  // a line of the partition scan's Replica column afterwards
};

TEST_F(DetailsDialogTest, EachRingChangeAsksConfirmsRequestsAndThePageShowsTheNewRing) {
  const std::string sure = "\r\n\r\nAre you sure?";
  const std::vector<RingChange> changes = {
      {"Add Replica", "Sales.ACME", "", &TDlgDetails::BitBtnAddReplica, {"FS2.HQ.ACME", "Read-Only"},
       "Add a Read-Only replica of Partition \"Sales.ACME\" on Server \".FS2.HQ.ACME\"." + sure,
       {"NWDSAddReplica", {".FS2.HQ.ACME", "Sales.ACME"}, RT_READONLY, 0},
       {"FS1.HQ.ACME [Secondary] [Nr: 2]", "FS2.HQ.ACME [Read-Only] [Nr: 3] [New]",
        "SALES-FS1.Sales.ACME [Master] [Nr: 1]"},
       "FS2.HQ.ACME", "Sales.ACME", "FS2.HQ.ACME [Read-Only] [Nr: 3] [New]"},
      {"Change Replica Type", "Sales.ACME", "FS1.HQ.ACME", &TDlgDetails::BitBtnChangeReplicaType, {"Master"},
       "Make the replica of Partition \"Sales.ACME\" on Server \".FS1.HQ.ACME\" a Master replica. The present "
       "master replica becomes a Secondary replica." + sure,
       {"NWDSChangeReplicaType", {"Sales.ACME", ".FS1.HQ.ACME"}, RT_MASTER, 0},
       {"FS1.HQ.ACME [Master] [Nr: 2]", "SALES-FS1.Sales.ACME [Secondary] [Nr: 1]"}, nullptr, nullptr,
       "SALES-FS1.Sales.ACME [Secondary] [Nr: 1]"},
      {"Split Partition", "[Root]", "", &TDlgDetails::BitBtnSplitPartition, {"HQ.ACME"},
       "Split Partition \"[Root]\": Container \".HQ.ACME\" becomes the root of a new partition with a replica on "
       "each server of the partition's ring, of the same type." + sure,
       {"NWDSSplitPartition", {".HQ.ACME"}, 0, 0},
       {"FS1.HQ.ACME [Master] [Nr: 1] [Split 0]", "FS2.HQ.ACME [Secondary] [Nr: 2] [Split 0]",
        "SALES-FS1.Sales.ACME [Read-Only] [Nr: 3] [Split 0]"},
       "FS2.HQ.ACME", "HQ.ACME", "FS2.HQ.ACME [Secondary] [Nr: 2] [Split 1]"},
      {"Abort Operation", "Sales.ACME", "", &TDlgDetails::BitBtnAbortOperation, {},
       "Abort the operation under way on Partition \"Sales.ACME\": its replicas return to the state On." + sure,
       {"NWDSAbortPartitionOperation", {"Sales.ACME"}, 0, 0},
       {"FS1.HQ.ACME [Secondary] [Nr: 2]", "FS2.HQ.ACME [Secondary] [Nr: 3]", "SALES-FS1.Sales.ACME [Master] [Nr: 1]"},
       nullptr, nullptr, "FS2.HQ.ACME [Secondary] [Nr: 3]"},
  };
  for (const RingChange& change : changes) {
    SCOPED_TRACE(change.label);
    nwtest::Reset();
    ASSERT_EQ(nwtest::ConnectTreeFile(std::string(VESTREL_TEST_TREES) + "/acme.json", "admin.ACME", true), "");
    nwtest::SetClock(kStart);
    DSContextFree(acme);
    acme = NewContext("ACME_TREE");
    ui.boxes.clear();
    if (change.button == &TDlgDetails::BitBtnAbortOperation) {  // an operation under way to give up
      ASSERT_EQ(NWDSAddReplica(acme, "FS2.HQ.ACME", "Sales.ACME", RT_SECONDARY), 0);
    }
    OpenPartition(change.partition, acme);
    if (*change.chosen) Choose(*dialog.ListBoxPartServers, change.chosen);
    QPushButton* button = dialog.*change.button;
    ASSERT_TRUE(button->isEnabled());
    for (const std::string& answer : change.answers) ui.QueueChoice(answer);
    button->click();
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{change.confirmation});
    const nw::OperationRequest& made = nw::LastOperationRequest();
    EXPECT_EQ(made.operation, change.request.operation);
    EXPECT_EQ(made.names, change.request.names);
    EXPECT_EQ(made.flags, change.request.flags);
    EXPECT_EQ(dialog.LastError, 0);
    // The page is built anew at once, and the change shows in the server's list too.
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(Items(*dialog.ListBoxPartServers), change.ringAfter);
    if (change.holder) {
      OpenServer(change.holder, acme);
      EXPECT_NE(RowOf(*dialog.ListBoxSrvPart, change.holds), -1);
    }
    EXPECT_TRUE(PartitionScanShows(acme, change.scanned)) << change.scanned;
    // The directory finishes the operation in the background: a minute later every
    // replica is on.
    nwtest::SetClock(kStart + 61);
    for (const std::string& entry : RingOf(dialog, change.partition, acme))
      EXPECT_EQ(entry.find("] [", entry.find("[Nr: ")), std::string::npos) << entry;
  }
}

TEST_F(DetailsDialogTest, RingChangesOfferOnlyWhatTheDirectoryCarriesOutAndShowItsRefusal) {
  // Add Replica offers only the servers that hold no replica of the partition.
  OpenPartition("Sales.ACME", acme);
  EXPECT_TRUE(dialog.BitBtnAddReplica->isEnabled());
  EXPECT_FALSE(dialog.BitBtnAbortOperation->isEnabled());  // nothing under way
  EXPECT_FALSE(dialog.BitBtnSplitPartition->isEnabled());  // its one container is a partition root
  EXPECT_EQ(dialog.LabelInfoPartSrv->text().toStdString(), "Partition \"Sales.ACME\" found on 2 Server(s), 4 objects");
  dialog.BitBtnAddReplica->click();  // the choice is cancelled
  ASSERT_EQ(ui.choices.size(), 1u);
  EXPECT_EQ(ui.choices[0].items, (std::vector<std::string>{"BER-FS1.Berlin.Sales.ACME", "ENG-FS1.Engineering.ACME",
                                                          "FS2.HQ.ACME", "OLDNW.Legacy.ACME"}));
  // Split offers the containers that are no partition root nor inside another partition.
  OpenPartition("[Root]", acme);
  dialog.BitBtnSplitPartition->click();
  ASSERT_EQ(ui.choices.size(), 2u);
  EXPECT_EQ(ui.choices[1].items, (std::vector<std::string>{"ACME", "HQ.ACME"}));
  // No type change for a subordinate reference or the master; a secondary may change.
  OpenPartition("Berlin.Sales.ACME", acme);
  for (const auto& [replica, offered] : {std::pair{"FS1.HQ.ACME", false}, {"BER-FS1", false}, {"SALES-FS1", true}}) {
    Choose(*dialog.ListBoxPartServers, replica);
    EXPECT_EQ(dialog.BitBtnChangeReplicaType->isEnabled(), offered) << replica;
  }
  EXPECT_EQ(nwtest::CallCount("NWDSAddReplica") + nwtest::CallCount("NWDSSplitPartition"), 0u);
  EXPECT_EQ(ui.boxes.size(), 0u);

  // A refusal shows in the usual box; the dialog stays open with the ring as it was.
  nwtest::FailOperation("NWDSChangeReplicaType", ERR_PARTITION_BUSY, 0, 1);
  ui.QueueChoice("Read-Only");
  dialog.BitBtnChangeReplicaType->click();
  ASSERT_EQ(ui.boxes.size(), 2u);
  EXPECT_EQ(ui.boxes[1], (testing::RecordedBox{DialogKind::Error,
                                               "NWDSChangeReplicaType returned error " + ErrorText(ERR_PARTITION_BUSY),
                                               DialogButtons::Ok}));
  EXPECT_EQ(dialog.LastError, ERR_PARTITION_BUSY);
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_NE(RowOf(*dialog.ListBoxPartServers, "SALES-FS1.Sales.ACME [Secondary]"), -1);
}

}  // namespace
}  // namespace vestrel
