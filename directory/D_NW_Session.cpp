#include "directory/D_NW_Session.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "directory/D_NW_Errors.h"
#include "directory/NETWIN32.h"
#include "directory/calwin32.h"
#include "directory/clxwin32.h"
#include "util/D_Util.h"
#include "util/UiSeam.h"
#include "directory/D_NW_Buffer.h"

namespace vestrel {

NWCONN_HANDLE ClientConnection = kNoClientConnection;
NWDSContextHandle MainContext = 0;
NWRCODE LastDSError = 0;

namespace {

constexpr const char* kRootName = "[Root]";
constexpr std::size_t kTreeNameChars = 32;
constexpr std::size_t kInfoTextBytes = 8192;
constexpr std::size_t kReasonBytes = 1024;
constexpr double kSecondsPerDay = 86400.0;
constexpr double kUnixEpochDay = 25569.0;  // 1 January 1970 in days since 30 December 1899

// A text the library wrote into a caller buffer: never read past the buffer, whether or
// not the library terminated it.
template <std::size_t N>
std::string BufferText(const std::array<char, N>& buffer) {
  return std::string(buffer.data(), strnlen(buffer.data(), N));
}

bool StartsWithDot(const std::string& name) { return !name.empty() && name.front() == '.'; }

}  // namespace

// ---- Start-up and trees ----

void AskPasswordsThroughUi() {
  ClientSetPasswordPrompt([](const std::string& connection, const std::string& account, const std::string& refusal,
                              std::string& password) { return Ui().AskPassword(connection, account, refusal, password); });
}

NWRCODE OpenClientConnection() {
  if (ClientConnection != kNoClientConnection) return 0;
  NWRCODE code = ClientInitialize(0, 0);
  if (code != 0) return code;

  nuint32 scanIterator = 0;
  NWCONN_REF connRef = 0;
  code = ConnScanNext(&scanIterator, &connRef);
  if (code != 0) return code;

  NWCONN_REF primaryRef = 0;
  if (ConnPrimaryReference(&primaryRef) == 0) connRef = primaryRef;

  // The handle is kept only when the open succeeded, so a failed start can be retried.
  NWCONN_HANDLE handle = kNoClientConnection;
  code = ConnOpenByReference(connRef, 1, 0, &handle);
  if (code == 0) ClientConnection = handle;
  return code;
}

std::uint16_t InitNetWare() {
  const NWRCODE code = OpenClientConnection();
  const auto lowWord = static_cast<std::uint16_t>(code & 0xFFFF);
  if (lowWord != 0) {
    ReportError(code, lowWord == 0xFFFF ? "Could not initialize NetWare Client. InitNetWare"
                                        : "Could not find server/tree connection. InitNetWare");
  }
  return lowWord;
}

void ListTrees(TextList& list) {
  nuint32 scanIterator = 0;
  NWCONN_REF connRef = 0;
  while (ConnScanNext(&scanIterator, &connRef) == 0) {
    ProcessMessages();
    const std::string tree = ConnTreeName(connRef);
    if (!tree.empty() && list.IndexOf(tree) < 0) list.Add(tree, static_cast<std::intptr_t>(connRef));
  }
}

std::string TreeLinkFailure(const std::string& tree) {
  TextList trees;
  ListTrees(trees);
  const int index = trees.IndexOf(tree);
  std::string words;
  if (index < 0 || ConnLinkFailure(static_cast<NWCONN_REF>(trees.Objects(index)), words) != 0) return "";
  return words;
}

std::string PreferredTreeName() {
  NWCONN_REF connRef = 0;
  if (ConnPrimaryReference(&connRef) != 0) return {};
  return ConnTreeName(connRef);
}

std::string ConnTreeName(NWCONN_REF connRef) {
  std::array<char, CONN_INFO_TEXT_BYTES> buffer{};
  if (ConnReferenceInfo(connRef, CONN_INFO_TREE_NAME, buffer.size(), buffer.data()) != 0) return {};
  return TreeNameText(BufferText(buffer));
}

NWRCODE DSChangeCurrentTree(NWDSContextHandle context, const std::string& tree, bool makePreferred) {
  return SetTreeAndContext(context, tree, std::string(), makePreferred);
}

NWRCODE SetNameContext(NWDSContextHandle context, const std::string& nameContext) {
  return SetTreeAndContext(context, std::string(), nameContext, false);
}

NWRCODE SetTreeAndContext(NWDSContextHandle context, const std::string& tree, std::string nameContext,
                          bool makePreferred) {
  NWRCODE code = 0;
  // The tree setting is written only when it changes; the name context always is.
  if (!tree.empty() && UpperCaseAscii(tree) != UpperCaseAscii(ContextTreeName(context))) {
    code = DSContextSetValue(context, DCK_TREE_NAME, tree.c_str());
    if (code == 0 && makePreferred) {
      DSTreeMakePreferred(static_cast<nuint32>(tree.size()), tree.c_str());
    }
  }
  if (code != 0) return code;
  if (nameContext.empty()) nameContext = DefaultNameContext(context);
  if (StartsWithDot(nameContext)) nameContext.erase(0, 1);
  return DSContextSetValue(context, DCK_NAME_CONTEXT, nameContext.c_str());
}

std::string ContextTreeName(NWDSContextHandle context) {
  std::array<char, MAX_DN_BYTES> buffer{};
  if (DSContextGetValue(context, DCK_TREE_NAME, buffer.size(), buffer.data()) != 0) return {};
  return ReplaceInText(BufferText(buffer), "CN=", "", false);
}

void ModifyContextFlags(NWDSContextHandle context, char operation, nuint32 bits) {
  nuint32 flags = 0;
  // Writing back a value that could not be read would wipe the context's other flags.
  if (DSContextGetValue(context, DCK_FLAGS, sizeof flags, &flags) != 0) return;
  if (operation == '+') {
    flags |= bits;
  } else if (operation == '-') {
    flags &= ~bits;
  }
  DSContextSetValue(context, DCK_FLAGS, &flags);
}

bool OperationCarried(NWDSContextHandle context, const std::string& call, std::string& reason) {
  bool carried = true;
  std::array<char, kReasonBytes> text{};
  if (DSOperationCarried(context, call.c_str(), &carried, text.data(), text.size()) != 0) carried = true;
  reason = carried ? std::string() : BufferText(text);
  return carried;
}

// ---- Names ----

std::string CurrentUserName(NWDSContextHandle context) {
  std::array<char, MAX_DN_BYTES> buffer{};
  if (DSWhoAmI(context, buffer.data()) != 0) return {};
  return BufferText(buffer);
}

std::string DefaultNameContext(NWDSContextHandle context) {
  const std::string user = CurrentUserName(context);
  // Nobody authenticated: there is no own container to read, and an empty name must not
  // be resolved to whatever the context currently points at.
  const std::string parent = user.empty() ? std::string() : ObjectParentName(context, user);
  return parent.empty() ? kRootName : parent;
}

std::string CanonicalName(NWDSContextHandle context, const std::string& name) {
  std::array<char, MAX_DN_BYTES> buffer{};
  if (DSNameCanonical(context, name.c_str(), buffer.data()) != 0) return name;
  return BufferText(buffer);
}

bool IsSpecialName(const std::string& name) {
  return name == "[Root]" || name == "[This]" || name == "[Public]" || name == "[Supervisor]";
}

std::string AbsoluteName(const std::string& name) {
  if (name.empty() || StartsWithDot(name) || IsSpecialName(name)) return name;
  return "." + name;
}

std::string RelativeName(const std::string& name) {
  return StartsWithDot(name) ? name.substr(1) : name;
}

std::string TreeNameText(const std::string& name) {
  std::string text = name.substr(0, std::min(name.size(), kTreeNameChars));
  const std::size_t last = text.find_last_not_of('_');
  text.erase(last == std::string::npos ? 0 : last + 1);
  return text;
}

// ---- Object information ----

namespace {

// Reads one item of an object's information on a context that is already prepared.
NWRCODE ReadInfoField(NWDSContextHandle context, const std::string& name, nuint32 item,
                      nuint32 length, void* value) {
  LibraryBuffer buffer(DEFAULT_MESSAGE_LEN);
  if (buffer.Code() != 0) return buffer.Code();
  const NWRCODE code = DSObjectInfoRead(context, name.c_str(), buffer.Get());
  if (code != 0) return code;
  return DSObjectInfoField(context, buffer.Get(), item, length, value);
}

NWRCODE SelectInfoItem(NWDSContextHandle context, nuint32 item) {
  nuint32 selection = 0;
  const NWRCODE code = DSContextGetValue(context, DCK_DSI_FLAGS, sizeof selection, &selection);
  if (code != 0) return code;
  selection |= item;
  return DSContextSetValue(context, DCK_DSI_FLAGS, &selection);
}

}  // namespace

NWRCODE ReadObjectInfoText(NWDSContextHandle context, const std::string& name, nuint32 item,
                           std::string& text) {
  text.clear();
  NWDSContextHandle clone = 0;
  NWRCODE code = DSContextClone(context, &clone);
  if (code != 0) return code;

  ModifyContextFlags(clone, '+', DCV_CANONICALIZE_NAMES | DCV_TYPELESS_NAMES);
  const std::string fullName = AbsoluteName(CanonicalName(clone, name));
  code = SelectInfoItem(clone, item);
  if (code == 0) {
    std::array<char, kInfoTextBytes> value{};
    code = ReadInfoField(clone, fullName, item, value.size(), value.data());
    if (code == 0) text = BufferText(value);
  }
  DSContextFree(clone);
  return code;
}

namespace {

std::string InfoText(NWDSContextHandle context, const std::string& name, nuint32 item, NWRCODE& code) {
  std::string text;
  code = ReadObjectInfoText(context, name, item, text);
  return text;
}

}  // namespace

std::string ObjectBaseClass(NWDSContextHandle context, const std::string& name, NWRCODE& code) {
  return InfoText(context, name, DSI_BASE_CLASS, code);
}

std::string ObjectRDN(NWDSContextHandle context, const std::string& name, NWRCODE& code) {
  return InfoText(context, name, DSI_ENTRY_RDN, code);
}

std::string ObjectFullName(NWDSContextHandle context, const std::string& name, NWRCODE& code) {
  return AbsoluteName(InfoText(context, name, DSI_ENTRY_DN, code));
}

std::string ObjectParentName(NWDSContextHandle context, const std::string& name, NWRCODE& code) {
  return AbsoluteName(InfoText(context, name, DSI_PARENT_DN, code));
}

std::string ObjectParentName(NWDSContextHandle context, const std::string& name) {
  NWRCODE code = 0;
  return ObjectParentName(context, name, code);
}

double ReadObjectInfoTime(NWDSContextHandle context, const std::string& name, nuint32 item) {
  const NWDSContextHandle copy = DSContextCopy(context);
  if (copy == ERR_CONTEXT_CREATION) return 0;
  nuint32 time = 0;
  NWRCODE code = DSContextSetValue(copy, DCK_DSI_FLAGS, &item);
  if (code == 0) code = ReadInfoField(copy, name, item, sizeof time, &time);
  DSContextFree(copy);
  return code == 0 && time != 0 ? DirTimeToDateTime(time) : 0;
}

double ObjectCreationTime(NWDSContextHandle context, const std::string& name) {
  return ReadObjectInfoTime(context, name, DSI_CREATION_TIME);
}

double ObjectModificationTime(NWDSContextHandle context, const std::string& name) {
  return ReadObjectInfoTime(context, name, DSI_MODIFICATION_TIME);
}

double DirTimeToDateTime(nuint32 directoryTime) {
  const long double days = static_cast<long double>(directoryTime) / kSecondsPerDay + kUnixEpochDay;
  return static_cast<double>(days);
}

}  // namespace vestrel
