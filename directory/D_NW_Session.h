// The directory session: client start-up, the trees of the workstation's connections,
// the one context of the program, name helpers and object information readers.
#pragma once

#include <cstdint>
#include <string>

#include "directory/NTypes.h"
#include "util/TextList.h"

namespace vestrel {

// Globals of the session (user-interface thread only).
extern NWCONN_HANDLE ClientConnection;  // 0xFFFF until InitNetWare has opened it
extern NWDSContextHandle MainContext;   // created by the main window, freed when it closes
extern NWRCODE LastDSError;             // code of the last start-up or tree change

constexpr NWCONN_HANDLE kNoClientConnection = 0xFFFF;

// ---- Start-up and trees ----
// The window's sign-in: a connection that names an account and no password source asks
// the user (through the UI seam) when the client loads the connections, and asks again
// with the server's refusal after a wrong password. Call before the first call that
// loads them.
void AskPasswordsThroughUi();
std::uint16_t InitNetWare();  // shows its own message on failure
NWRCODE OpenClientConnection();
void ListTrees(TextList& list);  // each tree once, object = connection reference
// What the client said of the last failure on the link to a tree ("no answer within
// 60 s"); empty when nothing failed, the tree is held in memory, or is not connected.
std::string TreeLinkFailure(const std::string& tree);
std::string PreferredTreeName();
std::string ConnTreeName(NWCONN_REF connRef);
NWRCODE DSChangeCurrentTree(NWDSContextHandle context, const std::string& tree, bool makePreferred);
NWRCODE SetNameContext(NWDSContextHandle context, const std::string& nameContext);
NWRCODE SetTreeAndContext(NWDSContextHandle context, const std::string& tree,
                          std::string nameContext, bool makePreferred);
std::string ContextTreeName(NWDSContextHandle context);
void ModifyContextFlags(NWDSContextHandle context, char operation, nuint32 bits);
// Whether the tree of context carries a partition or replica operation, named by its
// library call ("NWDSRemovePartition"); when it does not, reason says why and what does
// it instead. A question the library cannot answer counts as carried: the operation
// itself then says what is wrong.
bool OperationCarried(NWDSContextHandle context, const std::string& call, std::string& reason);

// ---- Names ----
std::string CurrentUserName(NWDSContextHandle context);
std::string DefaultNameContext(NWDSContextHandle context);
std::string CanonicalName(NWDSContextHandle context, const std::string& name);
bool IsSpecialName(const std::string& name);
std::string AbsoluteName(const std::string& name);
std::string RelativeName(const std::string& name);
std::string TreeNameText(const std::string& name);

// ---- Object information ----
NWRCODE ReadObjectInfoText(NWDSContextHandle context, const std::string& name, nuint32 item,
                           std::string& text);
std::string ObjectBaseClass(NWDSContextHandle context, const std::string& name, NWRCODE& code);
std::string ObjectRDN(NWDSContextHandle context, const std::string& name, NWRCODE& code);
std::string ObjectFullName(NWDSContextHandle context, const std::string& name, NWRCODE& code);
std::string ObjectParentName(NWDSContextHandle context, const std::string& name, NWRCODE& code);
std::string ObjectParentName(NWDSContextHandle context, const std::string& name);

double ReadObjectInfoTime(NWDSContextHandle context, const std::string& name, nuint32 item);
double ObjectCreationTime(NWDSContextHandle context, const std::string& name);
double ObjectModificationTime(NWDSContextHandle context, const std::string& name);

// Directory time (seconds since 1970 UTC) to days since 30 December 1899; no zone shift.
double DirTimeToDateTime(nuint32 directoryTime);

}  // namespace vestrel
