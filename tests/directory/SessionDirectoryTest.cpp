// The session against the embedded directory: start-up, trees, tree changes, flags,
// names and object information.
#include <cmath>

#include "TestTrees.h"

namespace vestrel::testing {
namespace {

using SessionStartTest = DirectoryTest;

TEST_F(SessionStartTest, OpensTheConnectionOnceAndKeepsIt) {
  EXPECT_EQ(InitNetWare(), 0);
  EXPECT_NE(ClientConnection, kNoClientConnection);
  const NWCONN_HANDLE opened = ClientConnection;
  EXPECT_EQ(InitNetWare(), 0);
  EXPECT_EQ(OpenClientConnection(), 0);
  EXPECT_EQ(ClientConnection, opened);
  EXPECT_EQ(nwtest::CallCount("ClientInitialize"), 1u);
  EXPECT_EQ(nwtest::CallCount("ConnOpenByReference"), 1u);
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(SessionStartTest, ClientThatCannotStartIsReportedWithItsOwnLabel) {
  SetErrorTextLibraryPath("/nonexistent/libnwerr32.so");
  nwtest::FailOperation("ClientInitialize", ERR_CLIENT_NOT_INITIALIZED);
  EXPECT_EQ(InitNetWare(), 0xFFFF);
  EXPECT_EQ(ClientConnection, kNoClientConnection);
  EXPECT_EQ(nwtest::CallCount("ConnScanNext"), 0u);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].kind, DialogKind::Error);
  EXPECT_EQ(ui.boxes[0].text, "Could not initialize NetWare Client. InitNetWare returned error 0xFFFF");
  SetErrorTextLibraryPath("");
}

TEST_F(SessionStartTest, NoConnectionIsReportedWithTheConnectionLabel) {
  SetErrorTextLibraryPath("/nonexistent/libnwerr32.so");
  nwtest::FailOperation("ConnScanNext", ERR_NO_MORE_CONNECTIONS);
  EXPECT_EQ(InitNetWare(), ERR_NO_MORE_CONNECTIONS);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, "Could not find server/tree connection. InitNetWare returned error 0x880F");

  // A code whose low 16 bits are all set counts as a client that cannot start.
  nwtest::ClearFailures();
  nwtest::FailOperation("ConnOpenByReference", -1, nwtest::CallCount("ConnOpenByReference"), 1);
  EXPECT_EQ(InitNetWare(), 0xFFFF);
  ASSERT_EQ(ui.boxes.size(), 2u);
  EXPECT_EQ(ui.boxes[1].text, "Could not initialize NetWare Client. InitNetWare returned error 0xFFFFFFFF");
  SetErrorTextLibraryPath("");
}

TEST_F(SessionStartTest, FailedOpenLeavesNoHandleSoALaterStartCanSucceed) {
  nwtest::FailOperation("ConnOpenByReference", ERR_INVALID_CONNECTION, 0, 1);
  EXPECT_EQ(OpenClientConnection(), ERR_INVALID_CONNECTION);
  EXPECT_EQ(ClientConnection, kNoClientConnection);
  EXPECT_EQ(OpenClientConnection(), 0);
  EXPECT_NE(ClientConnection, kNoClientConnection);
}

using TreeListTest = DirectoryTest;

TEST_F(TreeListTest, EachTreeOnceWithoutPaddingAndWithItsConnection) {
  TextList trees;
  ListTrees(trees);
  ASSERT_EQ(trees.ToVector(), (std::vector<std::string>{"CORP_TREE", "LAB_TREE"}));
  EXPECT_EQ(trees.Objects(0), 1);  // the first connection to CORP_TREE
  EXPECT_EQ(trees.Objects(1), 3);
  EXPECT_EQ(ui.processMessagesCalls, 3);  // once per connection
  EXPECT_EQ(ConnTreeName(1), "CORP_TREE");
  EXPECT_EQ(ConnTreeName(99), "");
}

TEST_F(TreeListTest, KeepsTheCallersEntriesAndSkipsUnreadableNames) {
  TextList trees;
  trees.Add("corp_tree", 42);
  nwtest::FailOperation("ConnReferenceInfo", ERR_INVALID_CONNECTION, 2, 1);  // the third connection
  ListTrees(trees);
  ASSERT_EQ(trees.ToVector(), (std::vector<std::string>{"corp_tree"}));
  EXPECT_EQ(trees.Objects(0), 42);
}

TEST_F(TreeListTest, PreferredTreeIsThatOfThePrimaryConnection) {
  EXPECT_EQ(PreferredTreeName(), "CORP_TREE");
  nwtest::FailOperation("ConnPrimaryReference", ERR_NO_PRIMARY_CONNECTION);
  EXPECT_EQ(PreferredTreeName(), "");
}

class TreeChangeTest : public DirectoryTest {
 protected:
  // How many settings of any context the action writes.
  template <class Action>
  static std::uint64_t SettingWritesOf(Action action) {
    nwtest::ResetCallCounts();
    action();
    return nwtest::CallCount("DSContextSetValue");
  }
};

TEST_F(TreeChangeTest, SameTreeWritesNoTreeButResetsTheNameContext) {
  ASSERT_EQ(SetNameContext(context, "East.CORP"), 0);
  const std::uint64_t writesToFindContainer = SettingWritesOf([this] { DefaultNameContext(context); });
  const std::uint64_t writesToChange =
      SettingWritesOf([this] { EXPECT_EQ(DSChangeCurrentTree(context, "corp_tree", true), 0); });
  EXPECT_EQ(writesToChange, writesToFindContainer + 1);  // the name context only
  EXPECT_EQ(nwtest::CallCount("DSTreeMakePreferred"), 0u);
  EXPECT_EQ(NameContext(), "CORP");  // the container of the user, admin.CORP
  EXPECT_EQ(ContextTreeName(context), "CORP_TREE");
}

TEST_F(TreeChangeTest, OtherTreeIsSetAndMadePreferredOnRequest) {
  const std::uint64_t writesToFindContainer = SettingWritesOf([this] { DefaultNameContext(context); });
  const std::uint64_t writesToChange =
      SettingWritesOf([this] { EXPECT_EQ(DSChangeCurrentTree(context, "LAB_TREE", false), 0); });
  // The tree and the name context (LAB_TREE has no user, so nothing else is read).
  EXPECT_LE(writesToChange, writesToFindContainer + 2);
  EXPECT_GE(writesToChange, 2u);
  EXPECT_EQ(ContextTreeName(context), "LAB_TREE");
  EXPECT_EQ(nwtest::CallCount("DSTreeMakePreferred"), 0u);
  // Nobody is logged in to LAB_TREE: the name context falls back to the root.
  EXPECT_EQ(NameContext(), "[Root]");

  EXPECT_EQ(DSChangeCurrentTree(context, "CORP_TREE", true), 0);
  EXPECT_EQ(nwtest::CallCount("DSTreeMakePreferred"), 1u);
  EXPECT_EQ(NameContext(), "CORP");
}

TEST_F(TreeChangeTest, FailingTreeSettingIsReturnedAndChangesNothingElse) {
  ASSERT_EQ(SetNameContext(context, "Sales.CORP"), 0);
  nwtest::ResetCallCounts();
  EXPECT_EQ(DSChangeCurrentTree(context, "NO_SUCH_TREE", true), ERR_NO_CONNECTION);
  EXPECT_EQ(nwtest::CallCount("DSContextSetValue"), 1u);
  EXPECT_EQ(nwtest::CallCount("DSTreeMakePreferred"), 0u);
  EXPECT_EQ(ContextTreeName(context), "CORP_TREE");
  EXPECT_EQ(NameContext(), "Sales.CORP");
}

TEST_F(TreeChangeTest, NameContextLosesOneLeadingDot) {
  EXPECT_EQ(SetNameContext(context, ".Sales.CORP"), 0);
  EXPECT_EQ(NameContext(), "Sales.CORP");
  EXPECT_EQ(SetNameContext(context, "[Root]"), 0);
  EXPECT_EQ(NameContext(), "[Root]");
  EXPECT_EQ(nwtest::CallCount("DSTreeMakePreferred"), 0u);
}

TEST_F(TreeChangeTest, ContextFlagsAreSetClearedOrWrittenBackUnchanged) {
  const nuint32 before = Flags();
  ModifyContextFlags(context, '+', DCV_CANONICALIZE_NAMES);
  ModifyContextFlags(context, '+', DCV_CANONICALIZE_NAMES);
  EXPECT_EQ(Flags(), before | DCV_CANONICALIZE_NAMES);
  ModifyContextFlags(context, '-', DCV_TYPELESS_NAMES);
  EXPECT_EQ(Flags(), (before | DCV_CANONICALIZE_NAMES) & ~DCV_TYPELESS_NAMES);

  const nuint32 now = Flags();
  nwtest::ResetCallCounts();
  ModifyContextFlags(context, '*', 0xFFFFFFFFu);
  EXPECT_EQ(nwtest::CallCount("DSContextSetValue"), 1u);
  EXPECT_EQ(Flags(), now);
}

TEST_F(TreeChangeTest, UnreadableFlagsAreNotOverwritten) {
  const nuint32 before = Flags();
  nwtest::FailOperation("DSContextGetValue", ERR_BAD_CONTEXT, nwtest::CallCount("DSContextGetValue"), 1);
  ModifyContextFlags(context, '+', DCV_CANONICALIZE_NAMES);
  EXPECT_EQ(nwtest::CallCount("DSContextSetValue"), 0u);
  EXPECT_EQ(Flags(), before);
}

using SessionNamesDirectoryTest = DirectoryTest;

TEST_F(SessionNamesDirectoryTest, UserAndDefaultNameContext) {
  EXPECT_EQ(CurrentUserName(context), "admin.CORP");
  EXPECT_EQ(DefaultNameContext(context), ".CORP");

  FailFromNowOn("DSObjectInfoRead", ERR_NO_SUCH_ENTRY);
  EXPECT_EQ(DefaultNameContext(context), "[Root]");
  nwtest::ClearFailures();

  nwtest::ResetCallCounts();
  FailFromNowOn("DSWhoAmI", ERR_NOT_LOGGED_IN);
  EXPECT_EQ(CurrentUserName(context), "");
  EXPECT_EQ(DefaultNameContext(context), "[Root]");
  // Without a user there is no container to look up.
  EXPECT_EQ(nwtest::CallCount("DSObjectInfoRead"), 0u);
}

TEST_F(SessionNamesDirectoryTest, CanonicalNameFollowsTheNameContextAndKeepsTheNameOnFailure) {
  ASSERT_EQ(SetNameContext(context, "Sales.CORP"), 0);
  ModifyContextFlags(context, '+', DCV_CANONICALIZE_NAMES);
  EXPECT_EQ(CanonicalName(context, "jdoe"), "jdoe.Sales.CORP");
  FailFromNowOn("DSNameCanonical", ERR_INVALID_OBJECT_NAME);
  EXPECT_EQ(CanonicalName(context, "jdoe"), "jdoe");
}

TEST_F(SessionNamesDirectoryTest, ObjectInformationTexts) {
  ASSERT_EQ(SetNameContext(context, "Sales.CORP"), 0);
  NWRCODE code = -1;
  EXPECT_EQ(ObjectFullName(context, "jdoe", code), ".jdoe.Sales.CORP");
  EXPECT_EQ(code, 0);
  EXPECT_EQ(ObjectParentName(context, "jdoe", code), ".Sales.CORP");
  EXPECT_EQ(ObjectRDN(context, ".admin.CORP", code), "admin");
  EXPECT_EQ(ObjectBaseClass(context, ".admin.CORP", code), "User");
  EXPECT_EQ(ObjectBaseClass(context, ".FS1.Servers.CORP", code), "NCP Server");
  EXPECT_EQ(ObjectParentName(context, ".CORP"), "[Root]");  // special: no dot

  EXPECT_EQ(ObjectFullName(context, "nobody", code), "");
  EXPECT_EQ(code, ERR_NO_SUCH_ENTRY);
}

TEST_F(SessionNamesDirectoryTest, ObjectInformationWorksOnAClone) {
  const nuint32 flagsBefore = Flags();
  nuint32 selectionBefore = 0;
  ASSERT_EQ(DSContextGetValue(context, DCK_DSI_FLAGS, sizeof selectionBefore, &selectionBefore), 0);
  NWRCODE code = -1;
  ObjectFullName(context, ".admin.CORP", code);
  ObjectCreationTime(context, ".admin.CORP");
  EXPECT_EQ(code, 0);
  nuint32 selectionAfter = 0;
  ASSERT_EQ(DSContextGetValue(context, DCK_DSI_FLAGS, sizeof selectionAfter, &selectionAfter), 0);
  EXPECT_EQ(selectionAfter, selectionBefore);
  EXPECT_EQ(Flags(), flagsBefore);
}

TEST_F(SessionNamesDirectoryTest, EachFailingStepOfATextReadGivesItsCode) {
  NWRCODE code = 0;
  for (const char* operation : {"DSContextClone", "DSBufferAlloc", "DSObjectInfoRead", "DSObjectInfoField"}) {
    SCOPED_TRACE(operation);
    nwtest::FailOperation(operation, ERR_SYSTEM_FAILURE, nwtest::CallCount(operation), 1);
    EXPECT_EQ(ObjectBaseClass(context, ".admin.CORP", code), "");
    EXPECT_EQ(code, ERR_SYSTEM_FAILURE);
  }
  EXPECT_EQ(ObjectBaseClass(context, ".admin.CORP", code), "User");
  EXPECT_EQ(code, 0);
}

TEST_F(SessionNamesDirectoryTest, ObjectTimesAsDaysWithoutZoneShift) {
  // 2021-01-04 09:00:00 UTC is day 44200.375; 2024-04-30 12:00:00 UTC is 45412.5.
  EXPECT_DOUBLE_EQ(ObjectCreationTime(context, "admin.CORP"), 44200.375);
  EXPECT_DOUBLE_EQ(ObjectModificationTime(context, "admin.CORP"), 45412.5);
  // The name is passed as given: relative to the context's name context.
  ASSERT_EQ(SetNameContext(context, "CORP"), 0);
  EXPECT_DOUBLE_EQ(ObjectCreationTime(context, "admin"), 44200.375);
}

TEST_F(SessionNamesDirectoryTest, UnreadableOrZeroTimesGiveZero) {
  EXPECT_EQ(ObjectCreationTime(context, "jdoe.Sales.CORP"), 0.0);  // stored as 0
  EXPECT_EQ(ObjectCreationTime(context, "nobody.CORP"), 0.0);
  for (const char* operation : {"DSContextCopy", "DSContextSetValue", "DSObjectInfoRead", "DSObjectInfoField"}) {
    SCOPED_TRACE(operation);
    nwtest::FailOperation(operation, ERR_SYSTEM_FAILURE, nwtest::CallCount(operation), 1);
    EXPECT_EQ(ObjectModificationTime(context, "admin.CORP"), 0.0);
  }
  EXPECT_GT(ObjectModificationTime(context, "admin.CORP"), 0.0);
}

}  // namespace
}  // namespace vestrel::testing
