// Contexts and their settings, name resolution against the name context, name forms,
// the authenticated user and object information.
#include "NwTestSupport.h"

namespace vestrel::testing {
namespace {

class Contexts : public NwTest {
 protected:
  void SetUp() override {
    NwTest::SetUp();
    ConnectDemo();
  }
  static std::string Canonical(NWDSContextHandle c, const char* name, NWRCODE expected = 0) {
    char out[MAX_DN_BYTES] = {};
    EXPECT_EQ(DSNameCanonical(c, name, out), expected) << name;
    return out;
  }
  static std::string InfoText(NWDSContextHandle c, const char* name, nuint32 item, NWRCODE* code = nullptr) {
    nuint32 selection = item;
    EXPECT_EQ(DSContextSetValue(c, DCK_DSI_FLAGS, &selection), 0);
    Buf_T* buffer = nullptr;
    EXPECT_EQ(DSBufferAlloc(DEFAULT_MESSAGE_LEN, &buffer), 0);
    char text[8192] = {};
    NWRCODE result = DSObjectInfoRead(c, name, buffer);
    if (result == 0) result = DSObjectInfoField(c, buffer, item, sizeof text, text);
    DSBufferFree(buffer);
    if (code) *code = result;
    else EXPECT_EQ(result, 0) << name;
    return text;
  }
  static nuint32 InfoTime(NWDSContextHandle c, const char* name, nuint32 item) {
    NWDSContextHandle copy = DSContextCopy(c);
    EXPECT_NE(copy, ERR_CONTEXT_CREATION);
    EXPECT_EQ(DSContextSetValue(copy, DCK_DSI_FLAGS, &item), 0);
    Buf_T* buffer = nullptr;
    EXPECT_EQ(DSBufferAlloc(DEFAULT_MESSAGE_LEN, &buffer), 0);
    nuint32 time = 0;
    EXPECT_EQ(DSObjectInfoRead(copy, name, buffer), 0);
    EXPECT_EQ(DSObjectInfoField(copy, buffer, item, sizeof time, &time), 0);
    DSBufferFree(buffer);
    DSContextFree(copy);
    return time;
  }
};

TEST_F(Contexts, NewContextsUseThePreferredTreeAndKeepTheirOwnSettings) {
  NWDSContextHandle c = 0;
  ASSERT_EQ(DSContextCreate(&c), 0);
  char tree[MAX_TREE_NAME_BYTES];
  ASSERT_EQ(DSContextGetValue(c, DCK_TREE_NAME, sizeof tree, tree), 0);
  EXPECT_STREQ(tree, "ACME_TREE");
  ASSERT_EQ(DSTreeMakePreferred(8, "lab_tree"), 0);
  NWDSContextHandle second = 0;
  ASSERT_EQ(DSContextCreate(&second), 0);
  ASSERT_EQ(DSContextGetValue(second, DCK_TREE_NAME, sizeof tree, tree), 0);
  EXPECT_STREQ(tree, "LAB_TREE");
  EXPECT_EQ(DSTreeMakePreferred(4, "NONE"), ERR_NO_CONNECTION);

  // A clone starts equal and then lives on its own.
  nuint32 flags = DCV_TYPELESS_NAMES;
  ASSERT_EQ(DSContextSetValue(c, DCK_FLAGS, &flags), 0);
  NWDSContextHandle clone = 0;
  ASSERT_EQ(DSContextClone(c, &clone), 0);
  nuint32 cloneFlags = 0;
  ASSERT_EQ(DSContextGetValue(clone, DCK_FLAGS, sizeof cloneFlags, &cloneFlags), 0);
  EXPECT_EQ(cloneFlags, DCV_TYPELESS_NAMES);
  cloneFlags |= DCV_CANONICALIZE_NAMES;
  ASSERT_EQ(DSContextSetValue(clone, DCK_FLAGS, &cloneFlags), 0);
  ASSERT_EQ(DSContextGetValue(c, DCK_FLAGS, sizeof flags, &flags), 0);
  EXPECT_EQ(flags, DCV_TYPELESS_NAMES);

  EXPECT_EQ(DSContextSetValue(c, DCK_TREE_NAME, "NO_SUCH_TREE"), ERR_NO_CONNECTION);
  EXPECT_EQ(DSContextSetValue(c, 77, &flags), ERR_BAD_KEY);
  char small[4];
  EXPECT_EQ(DSContextGetValue(c, DCK_TREE_NAME, sizeof small, small), ERR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(DSContextFree(clone), 0);
  EXPECT_EQ(DSContextFree(clone), ERR_BAD_CONTEXT);
  EXPECT_EQ(DSContextCopy(clone), ERR_CONTEXT_CREATION);
  DSContextFree(c);
  DSContextFree(second);
  EXPECT_EQ(nwtest::OpenContexts(), 0u);
}

TEST_F(Contexts, NameContextIsStoredWithoutDotAndTypes) {
  NWDSContextHandle c = Context();
  ASSERT_EQ(DSContextSetValue(c, DCK_NAME_CONTEXT, ".OU=Sales.O=ACME"), 0);
  char text[MAX_DN_BYTES];
  ASSERT_EQ(DSContextGetValue(c, DCK_NAME_CONTEXT, sizeof text, text), 0);
  EXPECT_STREQ(text, "Sales.ACME");
  nuint32 typed = DCV_DEREF_ALIASES;
  ASSERT_EQ(DSContextSetValue(c, DCK_FLAGS, &typed), 0);
  ASSERT_EQ(DSContextGetValue(c, DCK_NAME_CONTEXT, sizeof text, text), 0);
  EXPECT_STREQ(text, "OU=Sales.O=ACME");
  ASSERT_EQ(DSContextSetValue(c, DCK_NAME_CONTEXT, ""), 0);
  ASSERT_EQ(DSContextGetValue(c, DCK_NAME_CONTEXT, sizeof text, text), 0);
  EXPECT_STREQ(text, "[Root]");
  EXPECT_EQ(DSContextSetValue(c, DCK_NAME_CONTEXT, "a..b"), ERR_INVALID_OBJECT_NAME);
}

TEST_F(Contexts, NamesResolveAgainstTheNameContext) {
  NWDSContextHandle c = Context();
  ASSERT_EQ(DSContextSetValue(c, DCK_NAME_CONTEXT, "Berlin.Sales.ACME"), 0);
  EXPECT_EQ(Canonical(c, "mmeyer"), "mmeyer.Berlin.Sales.ACME");
  EXPECT_EQ(Canonical(c, "CN=mmeyer"), "mmeyer.Berlin.Sales.ACME");
  EXPECT_EQ(Canonical(c, ".admin.ACME"), "admin.ACME");
  EXPECT_EQ(Canonical(c, "jdoe."), "jdoe.Sales.ACME");    // one level up per trailing dot
  EXPECT_EQ(Canonical(c, "admin.."), "admin.ACME");
  Canonical(c, "x....", ERR_INVALID_OBJECT_NAME);
  EXPECT_EQ(Canonical(c, "[Root]"), "[Root]");
  EXPECT_EQ(Canonical(c, ".[Root]"), "[Root]");
  EXPECT_EQ(Canonical(c, "[This]"), "Berlin.Sales.ACME");
  Canonical(c, ".a.b.", ERR_INVALID_OBJECT_NAME);
  Canonical(c, "", ERR_INVALID_OBJECT_NAME);
  Canonical(c, std::string(300, 'a').c_str(), ERR_DN_TOO_LONG);
  // Names the tree does not hold are still put into canonical form.
  EXPECT_EQ(Canonical(c, "ghost"), "ghost.Berlin.Sales.ACME");
}

TEST_F(Contexts, TypedNamesWhenTheTypelessFlagIsClear) {
  NWDSContextHandle c = Context("ACME_TREE", 0);
  nuint32 flags = DCV_DEREF_ALIASES;
  ASSERT_EQ(DSContextSetValue(c, DCK_FLAGS, &flags), 0);
  EXPECT_EQ(Canonical(c, "FS1.HQ.ACME"), "CN=FS1.OU=HQ.O=ACME");
  EXPECT_EQ(Canonical(c, "ghost.Unit.Org"), "CN=ghost.OU=Unit.O=Org");
  char me[MAX_DN_BYTES];
  ASSERT_EQ(DSWhoAmI(c, me), 0);
  EXPECT_STREQ(me, "CN=admin.O=ACME");
  EXPECT_EQ(InfoText(c, "admin.ACME", DSI_ENTRY_RDN), "CN=admin");
}

TEST_F(Contexts, OutputNamesAreAbbreviatedBelowTheNameContext) {
  NWDSContextHandle c = Context("ACME_TREE", DCV_TYPELESS_NAMES | DCV_CANONICALIZE_NAMES);
  ASSERT_EQ(DSContextSetValue(c, DCK_NAME_CONTEXT, "Sales.ACME"), 0);
  char me[MAX_DN_BYTES];
  ASSERT_EQ(DSWhoAmI(c, me), 0);
  EXPECT_STREQ(me, ".admin.ACME");  // outside the name context: absolute
  ASSERT_EQ(DSContextSetValue(c, DCK_NAME_CONTEXT, "ACME"), 0);
  ASSERT_EQ(DSWhoAmI(c, me), 0);
  EXPECT_STREQ(me, "admin");
  EXPECT_EQ(Canonical(c, me), "admin.ACME");  // and back
}

TEST_F(Contexts, WhoAmIGivesTheUserOfTheContextsTree) {
  char me[MAX_DN_BYTES];
  ASSERT_EQ(DSWhoAmI(Context(), me), 0);
  EXPECT_STREQ(me, "admin.ACME");
  ASSERT_EQ(DSWhoAmI(Context("LAB_TREE"), me), 0);
  EXPECT_STREQ(me, "admin.LAB");
  ASSERT_EQ(nwtest::ConnectTreeJson(R"({"tree":"ANON"})", "", false), "");
  EXPECT_EQ(DSWhoAmI(Context("ANON"), me), ERR_NOT_LOGGED_IN);
}

TEST_F(Contexts, ObjectInformationItems) {
  NWDSContextHandle c = Context("ACME_TREE", DCV_TYPELESS_NAMES | DCV_CANONICALIZE_NAMES);
  EXPECT_EQ(InfoText(c, "FS1.HQ.ACME", DSI_BASE_CLASS), "NCP Server");
  EXPECT_EQ(InfoText(c, "FS1.HQ.ACME", DSI_ENTRY_RDN), "FS1");
  EXPECT_EQ(InfoText(c, ".FS1.HQ.ACME", DSI_ENTRY_DN), "FS1.HQ.ACME");
  EXPECT_EQ(InfoText(c, "FS1.HQ.ACME", DSI_PARENT_DN), "HQ.ACME");
  EXPECT_EQ(InfoText(c, "ACME", DSI_PARENT_DN), "[Root]");
  EXPECT_EQ(InfoText(c, "[Root]", DSI_ENTRY_DN), "[Root]");
  EXPECT_EQ(InfoText(c, "[Root]", DSI_PARENT_DN), "");
  EXPECT_EQ(InfoTime(c, "admin.ACME", DSI_CREATION_TIME), 1234776600u);     // 2009-02-16 09:30:00
  EXPECT_EQ(InfoTime(c, "admin.ACME", DSI_MODIFICATION_TIME), 1714981272u); // 2024-05-06 07:41:12
  NWRCODE code = 0;
  InfoText(c, "nobody.ACME", DSI_BASE_CLASS, &code);
  EXPECT_EQ(code, ERR_NO_SUCH_ENTRY);
  // An item that was not selected is not in the buffer.
  nuint32 selection = DSI_BASE_CLASS;
  ASSERT_EQ(DSContextSetValue(c, DCK_DSI_FLAGS, &selection), 0);
  Buf_T* buffer = nullptr;
  ASSERT_EQ(DSBufferAlloc(DEFAULT_MESSAGE_LEN, &buffer), 0);
  char text[MAX_DN_BYTES];
  EXPECT_EQ(DSObjectInfoField(c, buffer, DSI_BASE_CLASS, sizeof text, text), ERR_BUFFER_EMPTY);
  ASSERT_EQ(DSObjectInfoRead(c, "admin.ACME", buffer), 0);
  EXPECT_EQ(DSObjectInfoField(c, buffer, DSI_ENTRY_DN, sizeof text, text), ERR_INVALID_REQUEST);
  EXPECT_EQ(DSObjectInfoField(c, buffer, DSI_BASE_CLASS, 3, text), ERR_INSUFFICIENT_BUFFER);
  DSBufferFree(buffer);
}

TEST_F(Contexts, AliasesAreFollowedOnlyWithTheFlag) {
  NWDSContextHandle c = Context();
  EXPECT_EQ(InfoText(c, "Administrator.Sales.ACME", DSI_BASE_CLASS), "User");
  nuint32 flags = DCV_TYPELESS_NAMES;  // follow aliases cleared
  ASSERT_EQ(DSContextSetValue(c, DCK_FLAGS, &flags), 0);
  EXPECT_EQ(InfoText(c, "Administrator.Sales.ACME", DSI_BASE_CLASS), "Alias");
}

TEST_F(Contexts, AnAliasRingDoesNotHang) {
  ASSERT_EQ(nwtest::ConnectTreeJson(R"({"tree":"RING","objects":[
      {"name":"o","class":"Organization"},{"name":"a.o","aliasOf":"b.o"},{"name":"b.o","aliasOf":"a.o"}]})", "", false), "");
  NWRCODE code = 0;
  InfoText(Context("RING"), "a.o", DSI_BASE_CLASS, &code);
  EXPECT_EQ(code, ERR_NO_SUCH_ENTRY);
}

TEST_F(Contexts, CallsOnAContextWithoutConnectionFail) {
  nwtest::Reset();
  NWDSContextHandle c = 0;
  ASSERT_EQ(DSContextCreate(&c), 0);
  char me[MAX_DN_BYTES];
  EXPECT_EQ(DSWhoAmI(c, me), ERR_NO_CONNECTION);
  EXPECT_EQ(DSWhoAmI(c + 100, me), ERR_BAD_CONTEXT);
  DSContextFree(c);
}

}  // namespace
}  // namespace vestrel::testing
