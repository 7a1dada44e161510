// The details dialog's operation buttons and ring changes over LDAP, against slapd with the
// extended-operation double in front of it and an endpoint per server. The six operations
// eDirectory answers over LDAP reach the server as extended requests (the test decodes
// their values), each at the endpoint of the server that carries it out, and what they
// change shows when the dialog opens again; the four without an LDAP request are
// disabled with a hint saying why, and refused by the library all the same.
#include <QTest>

#include <ctime>
#include <functional>
#include <string_view>

#include "LdapWindowTest.h"
#include "ScanRows.h"
#include "details/Vestrel_detail.h"
#include "platform/nwclient/ldap/Ber.h"
#include "platform/nwclient/ldap/LdapErrors.h"
#include "platform/nwclient/ldap/LdapExtOps.h"
#include "scan/PartitionScan.h"
#include "util/StringGrid.h"

namespace vestrel {
namespace {

namespace ldap = nw::ldap;

constexpr const char* kFs1 = "cn=FS1,ou=HQ,o=ACME";
constexpr const char* kFs2 = "cn=FS2,ou=HQ,o=ACME";
constexpr const char* kBerFs1 = "cn=BER-FS1,ou=Berlin,ou=Sales,o=ACME";
constexpr const char* kSalesFs1 = "cn=SALES-FS1,ou=Sales,o=ACME";
constexpr const char* kLegacy = "ou=Legacy,o=ACME";
// The tree's connection reaches the endpoint of the tree's first server.
constexpr const char* kTreeServer = kFs1;

// A request value's fields as texts: 'D' a DN as it stands, 'I' an INTEGER as the hex of
// its content bytes ("01", "00"). Empty when the value holds anything else, or more.
std::vector<std::string> Fields(std::string_view value, std::string_view kinds) {
  ldap::BerReader reader(value);
  std::vector<std::string> fields;
  for (char kind : kinds) {
    std::string_view content;
    if (!reader.Element(kind == 'I' ? ldap::kBerInteger : ldap::kBerOctetString, content)) return {};
    std::string field(content);
    if (kind == 'I') {
      field.clear();
      for (unsigned char byte : content) field += "0123456789ABCDEF"[byte >> 4], field += "0123456789ABCDEF"[byte & 15];
    }
    fields.push_back(field);
  }
  return reader.AtEnd() ? fields : std::vector<std::string>{};
}

// The requests the dialog's views make to read: partition lists, replica information
// and the partition page's entry count.
bool IsRead(const testbed::ExtendedRequestRecord& request) {
  for (int read : {ldap::kListReplicasOp, ldap::kReplicaInfoOp, ldap::kPartitionEntryCountOp})
    if (request.name == ldap::ExtOpName(read)) return true;
  return false;
}

std::vector<std::string> Items(const QListWidget& list) {
  std::vector<std::string> items;
  for (int i = 0; i < list.count(); ++i) items.push_back(list.item(i)->text().toStdString());
  return items;
}

bool Lists(const QListWidget& list, std::string_view prefix) {
  for (const std::string& item : Items(list))
    if (item.rfind(prefix, 0) == 0) return true;
  return false;
}

class LdapOperationsTest : public LdapWindowTest {
 protected:
  LdapOperationsTest() : LdapWindowTest(true) {}
  void SetUp() override {
    LdapWindowTest::SetUp();
    SetErrorTextLibraryPath(VESTREL_NWERR_LIBRARY);  // the texts the user reads
  }
  void TearDown() override {
    CloseDialog();
    SetErrorTextLibraryPath("");
    LdapWindowTest::TearDown();
  }

  // A context as the main window keeps it: typeless names below [Root] of ACME_TREE.
  NWDSContextHandle Context() {
    if (!context_) {
      EXPECT_EQ(DSContextCreate(&context_), 0);
      EXPECT_EQ(DSContextSetValue(context_, DCK_TREE_NAME, "ACME_TREE"), 0);
      ModifyContextFlags(context_, '+', DCV_TYPELESS_NAMES);
      EXPECT_EQ(DSContextSetValue(context_, DCK_NAME_CONTEXT, "[Root]"), 0);
    }
    return context_;
  }
  void CloseDialog() {
    dialog_.hide();
    if (context_) DSContextFree(context_);
    context_ = 0;
  }
  // A fresh tree for the next case: new servers, the program connected anew.
  void Restart() {
    CloseDialog();
    StopServers();
    StartServers();
  }

  void Open(TextList& opened, TextList& other, const std::string& name) {
    dialog_.hide();
    opened.Clear();
    opened.Add(name);
    other.Clear();
    dialog_.DirContext = Context();
    dialog_.show();
    QCoreApplication::processEvents();  // a close from the opening arrives here
  }
  void OpenServer(const std::string& name) { Open(*dialog_.ServerList, *dialog_.PartitionList, name); }
  void OpenPartition(const std::string& name) { Open(*dialog_.PartitionList, *dialog_.ServerList, name); }
  void Choose(QListWidget& list, std::string_view prefix) {
    for (int i = 0; i < list.count(); ++i)
      if (list.item(i)->text().toStdString().rfind(prefix, 0) == 0) return list.setCurrentRow(i);
    ADD_FAILURE() << "no entry " << prefix;
  }
  // The delay fields of the dialog: one second.
  void OneSecondAhead() {
    dialog_.SpinEditH->setValue(0);
    dialog_.SpinEditM->setValue(0);
    dialog_.SpinEditS->setValue(1);
  }

  // The lines of an attribute of an object, as the program reads them.
  std::vector<std::string> Lines(const std::string& object, const std::string& attribute) {
    TextList lines;
    ReadAttrToList(Context(), object, attribute, lines);
    std::vector<std::string> out;
    for (int i = 0; i < lines.Count(); ++i) out.push_back(lines[i]);
    return out;
  }
  // Whether the status line of the replica on server reports an error.
  bool ReportsError(const std::string& partition, std::string_view server) {
    for (const std::string& line : Lines(partition, "Partition Status"))
      if (line.rfind(server, 0) == 0) return line.find("error") != std::string::npos;
    ADD_FAILURE() << "no status of " << server << " in " << partition;
    return false;
  }
  // The texts of the error boxes shown so far.
  std::vector<std::string> ErrorBoxes() const {
    std::vector<std::string> texts;
    for (const testing::RecordedBox& box : ui_.boxes)
      if (box.kind == DialogKind::Error) texts.push_back(box.text);
    return texts;
  }
  // Waits (window messages running) until done holds, at most 5 s.
  static bool Eventually(const std::function<bool()>& done) {
    for (int i = 0; i < 50 && !done(); ++i) QTest::qWait(100);
    return done();
  }

  TDlgDetails dialog_;
  NWDSContextHandle context_ = 0;
};

struct MappedOperation {
  const char* label;
  std::function<void()> press;  // opens the dialog, chooses, presses
  int request;
  const char* kinds;  // of the request's fields
  std::vector<std::string> fields;
  const char* reaches;  // the server whose endpoint the request must reach
  bool closes;  // the dialog closes after success
  std::function<void()> before, after;  // what the tree shows
};

TEST_F(LdapOperationsTest, TheSixOperationsWithAnLdapRequestReachTheServerAndTheirEffectShows) {
  const std::uint32_t start = static_cast<std::uint32_t>(std::time(nullptr));
  const auto legacyErrors = [this] {
    return ReportsError("Legacy.ACME", "OLDNW") || ReportsError("Legacy.ACME", "FS1.HQ");
  };
  const std::vector<MappedOperation> operations = {
      {"Sync Schema",
       [this] {
         OpenServer("FS1.HQ.ACME");
         OneSecondAhead();
         dialog_.BitBtnSyncSchema->click();
       },
       ldap::kSyncSchemaOp, "DI", {kFs1, "01"}, kTreeServer, false,
       [this] { EXPECT_EQ(operations_->LastSchemaSync(kFs1), 0u); },
       [&] {
         EXPECT_TRUE(Eventually([&] { return operations_->LastSchemaSync(kFs1) >= start; }));
       }},
      {"Sync Partition",
       [this] {
         OpenServer("FS1.HQ.ACME");
         Choose(*dialog_.ListBoxSrvPart, "Legacy.ACME");
         OneSecondAhead();
         dialog_.BitBtnSyncPart->click();
       },
       ldap::kSyncPartitionOp, "DDI", {kFs1, kLegacy, "01"}, kTreeServer, false,
       [&] { EXPECT_TRUE(legacyErrors()); },
       [&] {
         // Scheduled: after the delay every replica is in sync.
         EXPECT_TRUE(Eventually([&] { return !legacyErrors(); }));
       }},
      {"Send All Updates",
       [this] {
         OpenPartition("Legacy.ACME");
         Choose(*dialog_.ListBoxPartServers, "BER-FS1");
         dialog_.BitBtnPartSendAll2->click();
       },
       ldap::kSendAllUpdatesOp, "DD", {kLegacy, kBerFs1}, kBerFs1, false,
       [&] { EXPECT_TRUE(legacyErrors()); },
       [&] { EXPECT_FALSE(legacyErrors()); }},
      {"Receive All Updates",
       [this] {
         OpenPartition("Legacy.ACME");
         Choose(*dialog_.ListBoxPartServers, "BER-FS1");
         dialog_.BitBtnPartRcvAll2->click();
       },
       ldap::kReceiveAllUpdatesOp, "DDD", {kLegacy, kBerFs1, kBerFs1}, kBerFs1, false,
       [this] { EXPECT_TRUE(ReportsError("Legacy.ACME", "BER-FS1")); },
       [this] {
         EXPECT_FALSE(ReportsError("Legacy.ACME", "BER-FS1"));  // the receiver only
         EXPECT_TRUE(ReportsError("Legacy.ACME", "OLDNW"));
       }},
      {"Remove Replica",
       [this] {
         OpenPartition("Engineering.ACME");
         Choose(*dialog_.ListBoxPartServers, "FS2.HQ.ACME");
         dialog_.BitBtnReplicaDel2->click();
       },
       ldap::kRemoveReplicaOp, "IDD", {"00", kFs2, "ou=Engineering,o=ACME"}, kTreeServer, true,
       [this] {
         OpenServer("FS2.HQ.ACME");
         EXPECT_TRUE(Lists(*dialog_.ListBoxSrvPart, "Engineering.ACME"));
       },
       [this] {
         OpenPartition("Engineering.ACME");
         EXPECT_EQ(Items(*dialog_.ListBoxPartServers),
                   (std::vector<std::string>{"ENG-FS1.Engineering.ACME [Master] [Nr: 1]",
                                             "FS1.HQ.ACME [Read-Only] [Nr: 3]"}));
         OpenServer("FS2.HQ.ACME");
         EXPECT_FALSE(Lists(*dialog_.ListBoxSrvPart, "Engineering.ACME"));
       }},
      {"Join Partition",
       [this] {
         OpenServer("BER-FS1.Berlin.Sales.ACME");
         Choose(*dialog_.ListBoxSrvPart, "Berlin.Sales.ACME");
         dialog_.BitBtnPartJoin->click();
       },
       ldap::kJoinPartitionsOp, "ID", {"00", "ou=Berlin,ou=Sales,o=ACME"}, kSalesFs1, true,
       [this] {
         OpenServer("BER-FS1.Berlin.Sales.ACME");
         EXPECT_EQ(Items(*dialog_.ListBoxSrvPart), (std::vector<std::string>{"Berlin.Sales.ACME", "Legacy.ACME"}));
       },
       [this] {
         // Its master holds the parent partition now; the child is no partition any more.
         OpenServer("BER-FS1.Berlin.Sales.ACME");
         EXPECT_EQ(Items(*dialog_.ListBoxSrvPart), (std::vector<std::string>{"Legacy.ACME", "Sales.ACME"}));
         OpenPartition("Sales.ACME");
         EXPECT_TRUE(Lists(*dialog_.ListBoxPartServers, "BER-FS1.Berlin.Sales.ACME [Secondary]"));
         OpenServer("SALES-FS1.Sales.ACME");
         EXPECT_FALSE(Lists(*dialog_.ListBoxSrvPart, "Berlin.Sales.ACME"));
       }},
  };

  for (const MappedOperation& operation : operations) {
    SCOPED_TRACE(operation.label);
    Restart();
    operation.before();
    operation.press();
    EXPECT_EQ(ErrorBoxes(), std::vector<std::string>{});
    EXPECT_EQ(dialog_.LastError, 0);
    EXPECT_EQ(dialog_.isVisible(), !operation.closes);
    const std::vector<testbed::ExtendedRequestRecord> requests = operations_->Requests();
    // The views read partition lists, replica information and entry counts too.
    auto sent = std::find_if(requests.begin(), requests.end(), [&](const testbed::ExtendedRequestRecord& r) {
      return r.name == ldap::ExtOpName(operation.request);
    });
    ASSERT_NE(sent, requests.end());
    EXPECT_EQ(Fields(sent->value, operation.kinds), operation.fields);
    EXPECT_EQ(sent->server, operation.reaches);
    EXPECT_EQ(std::count_if(requests.begin(), requests.end(),
                            [&](const testbed::ExtendedRequestRecord& r) { return !IsRead(r); }),
              1);
    operation.after();
    EXPECT_EQ(ErrorBoxes(), std::vector<std::string>{});
  }
}

// The four are disabled on such a tree, their hints saying why and what does them on the
// server; the other six are offered as on a tree file. Run anyway (their handlers called
// directly), the library still refuses them and nothing changes.
TEST_F(LdapOperationsTest, TheFourWithoutAnLdapRequestAreDisabledSayWhyAndChangeNothing) {
  const std::string notAvailable = " returned error 0x88FD (Not available for this tree)";
  const std::vector<std::string> salesHolders = Lines("Sales.ACME", "Replica");
  ASSERT_EQ(salesHolders.size(), 2u);
  struct Uncarried {
    QPushButton* button;
    QPushButton* twin;  // null: no twin
    const char* instead;  // the tool the hint names
  };
  const auto checkDisabled = [](const Uncarried& u) {
    SCOPED_TRACE(u.button->objectName().toStdString());
    EXPECT_FALSE(u.button->isEnabled());
    const std::string hint = HintOf(*u.button);
    const std::size_t why = hint.find("\r\nNot available over LDAP: ");
    ASSERT_NE(why, std::string::npos) << hint;
    EXPECT_NE(hint.find(u.instead, why), std::string::npos) << hint;
    EXPECT_NE(u.button->toolTip().toStdString().find("\nNot available over LDAP: "), std::string::npos);
    if (u.twin) {
      EXPECT_FALSE(u.twin->isEnabled());
      EXPECT_EQ(HintOf(*u.twin), hint);
    }
  };

  OpenPartition("Sales.ACME");
  Choose(*dialog_.ListBoxPartServers, "FS1.HQ.ACME");
  Choose(*dialog_.ListBoxServer2, "SALES-FS1");
  for (const Uncarried& u : {Uncarried{dialog_.BitBtnSyncReplica, nullptr, "ndsrepair -P"},
                             Uncarried{dialog_.BitBtnPartDel, dialog_.BitBtnPartDel2, "iManager"},
                             Uncarried{dialog_.BitBtnRepairTimeStamps, dialog_.BitBtnRepairTimeStamps2, "ndsrepair"}})
    checkDisabled(u);
  // Choosing the target again keeps Sync Replica disabled, and nothing waits to be sent.
  Choose(*dialog_.ListBoxServer2, "SALES-FS1");
  EXPECT_FALSE(dialog_.BitBtnSyncReplica->isEnabled());
  EXPECT_FALSE(dialog_.BtnSend1to2->isEnabled());
  EXPECT_EQ(dialog_.LabelSyncReplicaInfo->text(), "");
  for (QPushButton* offered : {dialog_.BitBtnSyncSchema2, dialog_.BitBtnSyncPart2, dialog_.BitBtnPartSendAll2,
                               dialog_.BitBtnPartRcvAll2, dialog_.BitBtnPartJoin2, dialog_.BitBtnReplicaDel2}) {
    EXPECT_TRUE(offered->isEnabled()) << offered->objectName().toStdString();
    EXPECT_EQ(HintOf(*offered).find("Not available"), std::string::npos);
  }
  dialog_.BitBtnSyncReplicaClick();
  dialog_.BitBtnPartDelClick();
  dialog_.BitBtnRepairTimeStampsClick();
  EXPECT_TRUE(dialog_.isVisible());
  OpenServer("FS1.HQ.ACME");
  checkDisabled({dialog_.BitBtnReloadDS, nullptr, "ndsmanage"});
  EXPECT_TRUE(dialog_.BitBtnSyncSchema->isEnabled());
  dialog_.BitBtnReloadDSClick();
  EXPECT_TRUE(dialog_.isVisible());

  EXPECT_EQ(ui_.Texts(), (std::vector<std::string>{
                             "NWDSSyncReplicaToServer" + notAvailable, "Are you sure?",
                             "NWDSRemovePartition" + notAvailable, "Are you sure?",
                             "NWDSRepairTimeStamps" + notAvailable, "Are you sure?", "NWDSReloadDS" + notAvailable}));
  EXPECT_EQ(dialog_.LastError, ERR_NOT_AVAILABLE_FOR_TREE);
  for (const testbed::ExtendedRequestRecord& request : operations_->Requests())
    EXPECT_TRUE(IsRead(request))
        << request.name;
  EXPECT_EQ(Lines("Sales.ACME", "Replica"), salesHolders);
  OpenPartition("Sales.ACME");
  EXPECT_EQ(dialog_.ListBoxPartServers->count(), 2);
  Shoot(dialog_, "details-partition");
}

// A server whose own endpoint is down: the operation fails with the code of a server
// that cannot be reached, and nothing goes to another server instead.
TEST_F(LdapOperationsTest, AServerBoundRequestGoesNowhereElseWhenItsServerCannotBeReached) {
  bed_.StopServer("BER-FS1.Berlin.Sales.ACME");
  OpenPartition("Legacy.ACME");
  Choose(*dialog_.ListBoxPartServers, "BER-FS1");
  dialog_.BitBtnPartRcvAll2->click();
  dialog_.BitBtnPartSendAll2->click();
  const std::string unreachable = " returned error " + ErrorText(ERR_UNREACHABLE_SERVER);
  EXPECT_EQ(ErrorBoxes(), (std::vector<std::string>{"NWDSPartitionReceiveAllUpdates" + unreachable,
                                                    "NWDSPartitionSendAllUpdates" + unreachable}));
  for (const testbed::ExtendedRequestRecord& request : operations_->Requests())
    EXPECT_TRUE(IsRead(request))
        << request.name << " reached " << request.server;
  EXPECT_TRUE(ReportsError("Legacy.ACME", "BER-FS1"));
}

TEST_F(LdapOperationsTest, AServersNdsErrorIsTheOperationsCodeAndTheDialogStaysOpen) {
  operations_->FailNext(ldap::kRemoveReplicaOp, ERR_PARTITION_BUSY);
  OpenPartition("Sales.ACME");
  Choose(*dialog_.ListBoxPartServers, "FS1.HQ.ACME");
  dialog_.BitBtnReplicaDel2->click();
  // The master itself: the server's own rule.
  Choose(*dialog_.ListBoxPartServers, "SALES-FS1");
  dialog_.BitBtnReplicaDel2->click();
  EXPECT_EQ(ui_.Texts(), (std::vector<std::string>{"Are you sure?",
                                                   "NWDSRemoveReplica returned error " + ErrorText(ERR_PARTITION_BUSY),
                                                   "Are you sure?",
                                                   "NWDSRemoveReplica returned error " + ErrorText(ERR_CRUCIAL_REPLICA)}));
  EXPECT_EQ(dialog_.LastError, ERR_CRUCIAL_REPLICA);
  EXPECT_TRUE(dialog_.isVisible());
  EXPECT_EQ(Lines("Sales.ACME", "Replica").size(), 2u);
}

using testing::PartitionScanShows;

// The ring changes over LDAP: each goes to the server of the partition's master (a
// split, to the master of the partition holding the container) with the fields of its
// request, and the page built anew shows what the double wrote into the directory.
struct RingChangeOverLdap {
  const char* label;
  std::function<void()> before;  // puts the tree in the state the change needs
  const char* partition;
  const char* chosen;  // "" for none
  QPushButton* TDlgDetails::*button;
  std::vector<std::string> answers;
  int request;
  const char* kinds;
  std::vector<std::string> fields;
  const char* reaches;
  std::vector<std::string> shows;   // entries of the page afterwards (by their start)
  const char* holder;               // a server whose partition list now names `holds`
  const char* holds;
  const char* scanned;  // a line of the partition scan's Replica column once settled
};

TEST_F(LdapOperationsTest, EachRingChangeReachesThePartitionsMasterAndTheNewRingShows) {
  const std::vector<RingChangeOverLdap> changes = {
      {"Add Replica", [] {}, "Sales.ACME", "", &TDlgDetails::BitBtnAddReplica, {"FS2.HQ.ACME", "Read-Only"},
       ldap::kAddReplicaOp, "IIDD", {"00", "02", kFs2, "ou=Sales,o=ACME"}, kSalesFs1,
       {"FS1.HQ.ACME [Secondary]", "FS2.HQ.ACME [Read-Only] [Nr: 3]", "SALES-FS1.Sales.ACME [Master]"},
       "FS2.HQ.ACME", "Sales.ACME", "FS2.HQ.ACME [Read-Only] [Nr: 3]"},
      {"Change Replica Type", [] {}, "Sales.ACME", "FS1.HQ.ACME", &TDlgDetails::BitBtnChangeReplicaType, {"Master"},
       ldap::kChangeReplicaTypeOp, "IIDD", {"00", "00", kFs1, "ou=Sales,o=ACME"}, kSalesFs1,
       {"FS1.HQ.ACME [Master]", "SALES-FS1.Sales.ACME [Secondary]"}, nullptr, nullptr,
       "SALES-FS1.Sales.ACME [Secondary] [Nr: 1]"},
      {"Split Partition",
       [this] {  // Berlin joins Sales first: a container inside Sales that is no partition root
         ASSERT_EQ(NWDSJoinPartitions(Context(), "Berlin.Sales.ACME", 0), 0);
       },
       "Sales.ACME", "", &TDlgDetails::BitBtnSplitPartition, {"Berlin.Sales.ACME"},
       ldap::kSplitPartitionOp, "ID", {"00", "ou=Berlin,ou=Sales,o=ACME"}, kSalesFs1,
       {"BER-FS1.Berlin.Sales.ACME [Secondary]", "FS1.HQ.ACME [Secondary]", "SALES-FS1.Sales.ACME [Master]"},
       "BER-FS1.Berlin.Sales.ACME", "Berlin.Sales.ACME", "BER-FS1.Berlin.Sales.ACME [Secondary] [Nr: 3]"},
      {"Abort Operation",
       [this] {  // a new replica that stays new
         operations_->SetSettleSeconds(600);
         ASSERT_EQ(NWDSAddReplica(Context(), "FS2.HQ.ACME", "Sales.ACME", RT_SECONDARY), 0);
       },
       "Sales.ACME", "", &TDlgDetails::BitBtnAbortOperation, {},
       ldap::kAbortPartitionOperationOp, "ID", {"00", "ou=Sales,o=ACME"}, kSalesFs1,
       {"FS1.HQ.ACME [Secondary] [Nr: 2]", "FS2.HQ.ACME [Secondary] [Nr: 3]", "SALES-FS1.Sales.ACME [Master] [Nr: 1]"},
       nullptr, nullptr, "FS2.HQ.ACME [Secondary] [Nr: 3]"},
  };
  for (const RingChangeOverLdap& change : changes) {
    SCOPED_TRACE(change.label);
    Restart();
    ui_.boxes.clear();
    change.before();
    const std::size_t earlier = operations_->Requests().size();
    OpenPartition(change.partition);
    if (*change.chosen) Choose(*dialog_.ListBoxPartServers, change.chosen);
    QPushButton* button = dialog_.*change.button;
    ASSERT_TRUE(button->isEnabled());
    for (const std::string& answer : change.answers) ui_.QueueChoice(answer);
    button->click();
    EXPECT_EQ(ErrorBoxes(), std::vector<std::string>{});
    ASSERT_EQ(ui_.boxes.size(), 1u);  // the confirmation
    EXPECT_EQ(dialog_.LastError, 0);
    EXPECT_TRUE(dialog_.isVisible());
    const std::vector<testbed::ExtendedRequestRecord> requests = operations_->Requests();
    auto sent = std::find_if(requests.begin() + static_cast<std::ptrdiff_t>(earlier), requests.end(),
                             [&](const testbed::ExtendedRequestRecord& r) { return r.name == ldap::ExtOpName(change.request); });
    ASSERT_NE(sent, requests.end());
    EXPECT_EQ(Fields(sent->value, change.kinds), change.fields);
    EXPECT_EQ(sent->server, change.reaches);
    // The page was built anew; the entries show the new ring, and a new replica or a
    // split ring settles to on.
    ASSERT_EQ(static_cast<std::size_t>(dialog_.ListBoxPartServers->count()), change.shows.size());
    for (const std::string& entry : change.shows) EXPECT_TRUE(Lists(*dialog_.ListBoxPartServers, entry)) << entry;
    if (change.holder) {
      OpenServer(change.holder);
      EXPECT_TRUE(Lists(*dialog_.ListBoxSrvPart, change.holds));
    }
    EXPECT_TRUE(Eventually([&] {
      for (const std::string& line : Lines(change.partition, "Replica"))
        if (line.find("] [", line.find("[Nr: ")) != std::string::npos) return false;
      return true;
    }));
    EXPECT_TRUE(PartitionScanShows(Context(), change.scanned)) << change.scanned;
  }
}

TEST_F(LdapOperationsTest, ARingChangeTheServerRefusesShowsItsNdsErrorAndTheDialogStaysOpen) {
  operations_->FailNext(ldap::kAddReplicaOp, ERR_PARTITION_BUSY);
  OpenPartition("Sales.ACME");
  ui_.QueueChoice("FS2.HQ.ACME");
  ui_.QueueChoice("Secondary");
  dialog_.BitBtnAddReplica->click();
  EXPECT_EQ(ErrorBoxes(), std::vector<std::string>{"NWDSAddReplica returned error " + ErrorText(ERR_PARTITION_BUSY)});
  EXPECT_EQ(dialog_.LastError, ERR_PARTITION_BUSY);
  EXPECT_TRUE(dialog_.isVisible());
  EXPECT_EQ(Lines("Sales.ACME", "Replica").size(), 2u);
  EXPECT_NE(dialog_.LabelInfoPartSrv->text().toStdString().find("found on 2 Server(s), "), std::string::npos);
  Shoot(dialog_, "details-ring-changes");
}

}  // namespace
}  // namespace vestrel
