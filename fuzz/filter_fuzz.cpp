// Arbitrary filter texts through SearchObjects against a small embedded tree. The first
// byte picks the scope and a maximum; the rest is the filter. After every search no
// buffer, iteration or filter expression may be left in the library.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "directory/D_NW.h"
#include "platform/nwclient/FilterSearch.h"
#include "platform/nwclient/NwTestHooks.h"
#include "util/UiSeam.h"

namespace {

using namespace vestrel;

constexpr const char* kTree = R"json({
  "tree": "FUZZ_TREE", "clock": "2024-05-06T08:00:00Z", "defaultCreator": "admin.ORG",
  "schema": { "a": 3, "Badge": 9 },
  "objects": [
    { "name": "ORG", "class": "Organization" },
    { "name": "Sales.ORG", "class": "Organizational Unit" },
    { "name": "admin.ORG", "class": "User",
      "attributes": { "Surname": "Admin", "Login Disabled": false, "Login Grace Limit": 6, "Badge": "0A 0B",
        "Language": [["English", "German"]], "Last Login Time": "2024-05-01T10:00:00Z",
        "Group Membership": "Staff.ORG", "a": "b=c",
        "Home Directory": {"nameSpace": 0, "volume": "SYS", "path": "HOME"},
        "Typed Name": {"object": "admin.ORG", "level": 1, "interval": 60} } },
    { "name": "jdoe.Sales.ORG", "class": "User", "attributes": { "Surname": "Doe", "Login Grace Limit": -3 } },
    { "name": "Staff.ORG", "class": "Group", "attributes": { "Member": ["admin.ORG", "jdoe.Sales.ORG"] } },
    { "name": "Boss.Sales.ORG", "aliasOf": "admin.ORG" }
  ],
  "servers": [ { "name": "SRV1.ORG", "version": "6.5", "dsRevision": 1 } ],
  "partitions": [ { "root": "[Root]", "replicas": [ { "server": "SRV1.ORG" } ] },
                  { "root": "Sales.ORG", "replicas": [ { "server": "SRV1.ORG" } ] } ]
})json";

// Error boxes of unreadable objects: counted, never shown.
class QuietUi : public UiSeam {
 public:
  DialogResult MessageBox(DialogKind, const std::string&, DialogButtons) override { return DialogResult::Ok; }
  CursorKind Cursor() const override { return CursorKind::Default; }
  void SetCursor(CursorKind) override {}
  void ProcessMessages() override {}
};

NWDSContextHandle SetUpDirectory() {
  static QuietUi ui;
  InstallUiSeam(&ui);
  nwtest::Reset();
  if (!nwtest::ConnectTreeJson(kTree, "admin.ORG", true).empty()) std::abort();
  NWDSContextHandle context = 0;
  if (DSContextCreate(&context) != 0 || DSContextSetValue(context, DCK_TREE_NAME, "FUZZ_TREE") != 0) std::abort();
  nuint32 flags = DCV_DEREF_ALIASES | DCV_TYPELESS_NAMES;
  DSContextSetValue(context, DCK_FLAGS, &flags);
  return context;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const NWDSContextHandle context = SetUpDirectory();
  if (size == 0) return 0;
  const nuint32 scope = data[0] % 3;
  const std::int32_t maximum = (data[0] >> 2) % 4;
  const std::string filter(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::uint8_t abortFlag = 0;
  std::int32_t counter = 0;
  TextList rows;
  SearchObjects(context, "[Root]", filter, 0, abortFlag, nullptr, counter, maximum, "#NAME# #CLASS# #[CN]#", &rows,
                scope);
  if (maximum > 0 && counter > maximum) std::abort();
  if (nwtest::OpenBuffers() != 0 || nwtest::OpenIterations() != 0 || nw::LiveFilterCursorCount() != 0) std::abort();
  return 0;
}
