#include "platform/nwclient/ldap/LdapSource.h"

#include <ldap.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <deque>
#include <optional>

#include "platform/nwclient/Engine.h"
#include "platform/nwclient/ldap/LdapErrors.h"
#include "platform/nwclient/ldap/LdapExtOps.h"
#include "platform/nwclient/ldap/LdapFilter.h"
#include "platform/nwclient/ldap/LdapSchema.h"
#include "platform/nwclient/ldap/LdapValues.h"

namespace vestrel::nw::ldap {

namespace {

constexpr const char* kPagedResultsControl = "1.2.840.113556.1.4.319";
// What the root DSE may tell (eDirectory's names; a server without them is asked nothing more).
constexpr const char* kTreeNameAttribute = "directoryTreeName";
constexpr const char* kCurrentTimeAttribute = "currentTime";
constexpr std::size_t kListPageSize = 500;
constexpr std::size_t kSearchPageSize = 500;
// Kept values no read has used for this long belong to a scan that is over.
constexpr std::chrono::seconds kKeptWhileUsed{5};

// A Partition Status value's fields: unused, state, sync time, replica number, last error.
constexpr std::size_t kStatusFieldBytes = 20;

// Entry flags of the object information.
constexpr nuint32 kAliasEntry = 0x01;
constexpr nuint32 kPartitionRoot = 0x02;
constexpr nuint32 kContainerEntry = 0x04;

// What a search fetches with its entries: what the rows of the window's scans read of
// the objects it finds (their object information, the server columns, the partition
// columns and the replicas' status for the error report).
const std::vector<std::string>& ReadAheadAttributes() {
  static const std::vector<std::string> attributes = [] {
    std::vector<std::string> names = {kStructuralClass, kObjectClass, kModifyTime, kCreateTime, kSubordinateCount};
    for (const char* name : {"Version", "DS Revision", "Network Address", "Replica", "Partition Status",
                             "Local Received Up To", "Purge Vector", "Transitive Vector"})
      names.push_back(LdapAttributeName(name));
    return names;
  }();
  return attributes;
}

bool ReadAhead(const std::vector<std::string>& wanted) {
  const std::vector<std::string>& fetched = ReadAheadAttributes();
  return !wanted.empty() && std::all_of(wanted.begin(), wanted.end(), [&](const std::string& name) {
    return std::any_of(fetched.begin(), fetched.end(), [&](const std::string& f) { return SameAttribute(f, name); });
  });
}

// One key for the spellings of a DN: types in lower case, values in upper case.
std::string DnKey(const Dn& dn) {
  std::string key;
  for (const Rdn& rdn : dn) {
    key += '/';
    for (const Ava& ava : rdn) key += LdapType(ava.type) + "=" + NameKey(ava.value) + "+";
  }
  return key;
}

// A name for a message: whole when short, else its start.
std::string Shortened(const std::string& name) {
  constexpr std::size_t kShown = 80;
  return name.size() <= kShown ? name : name.substr(0, kShown) + "...";
}

bool HasValue(const LdapEntry& entry, std::string_view attribute, std::string_view value) {
  const LdapAttribute* found = entry.Find(attribute);
  if (!found) return false;
  return std::any_of(found->values.begin(), found->values.end(),
                     [&](const std::string& v) { return EqualsNoCase(v, value); });
}

std::string FirstValue(const LdapEntry& entry, std::string_view attribute) {
  const LdapAttribute* found = entry.Find(attribute);
  return found && !found->values.empty() ? found->values.front() : std::string();
}

nuint32 TimeValue(const LdapEntry& entry, std::string_view attribute) {
  nuint32 seconds = 0;
  return ParseGeneralizedTime(FirstValue(entry, attribute), seconds) ? seconds : 0;
}

// The base class: the structural class the server names, else the first class that is
// not "top".
std::string BaseClassOf(const LdapEntry& entry) {
  std::string structural = FirstValue(entry, kStructuralClass);
  if (structural.empty()) {
    if (const LdapAttribute* classes = entry.Find(kObjectClass))
      for (const std::string& cls : classes->values)
        if (!EqualsNoCase(cls, "top")) {
          structural = cls;
          break;
        }
  }
  return DirectoryClassName(structural);
}

bool IsAlias(const LdapEntry& entry) {
  static const std::string aliasClass = LdapClassName("Alias");
  return HasValue(entry, kObjectClass, aliasClass);
}

Object_Info_T InfoOf(const LdapEntry& entry, const Dn& dn) {
  Object_Info_T info{};
  if (IsAlias(entry)) info.objectFlags |= kAliasEntry;
  if (HasValue(entry, kObjectClass, kPartitionClass)) info.objectFlags |= kPartitionRoot;
  nuint32 subordinates = 0;
  std::int64_t count = 0;
  const std::string countText = FirstValue(entry, kSubordinateCount);
  if (!countText.empty() && countText.size() < 10 && countText.find_first_not_of("0123456789") == std::string::npos)
    count = std::stoll(countText);
  subordinates = static_cast<nuint32>(count);
  if (subordinates > 0 || (!dn.empty() && !EqualsNoCase(dn.front().front().type, "cn"))) info.objectFlags |= kContainerEntry;
  info.subordinateCount = subordinates;
  info.modificationTime = TimeValue(entry, kModifyTime);
  const std::string baseClass = BaseClassOf(entry);
  std::memcpy(info.baseClass, baseClass.data(), std::min(baseClass.size(), sizeof(info.baseClass) - 1));
  return info;
}

// The replica number of server's replica among a partition root's Replica values.
std::optional<nuint32> ReplicaNumberOf(const LdapEntry& entry, const std::string& replicaName,
                                       const std::string& serverDn) {
  Dn server;
  const LdapAttribute* replicas = entry.Find(replicaName);
  if (!replicas || !ParseDn(serverDn, server)) return std::nullopt;
  for (const std::string& bytes : replicas->values) {
    const Value pointer = DecodeValue(SYN_REPLICA_POINTER, bytes);
    Dn holder;
    if (!pointer.malformed && ParseDn(pointer.text, holder) && SameDn(holder, server)) return pointer.number2;
  }
  return std::nullopt;
}

// The little-endian 32-bit number at offset of octets (the caller checked their size).
nuint32 LittleEndianU32(const std::string& octets, std::size_t offset) {
  nuint32 value = 0;
  for (std::size_t i = 0; i < 4; ++i) value |= static_cast<nuint32>(static_cast<unsigned char>(octets[offset + i])) << (8 * i);
  return value;
}

// The IP address of a TCP or UDP network address (type 9 or 8: port, then four bytes);
// "" for any other.
std::string IpAddressText(const Value& address) {
  constexpr nuint32 kUdp = 8, kTcp = 9;
  if (address.malformed || (address.number != kUdp && address.number != kTcp) || address.bytes.size() < 6) return "";
  return std::to_string(address.bytes[2]) + "." + std::to_string(address.bytes[3]) + "." +
         std::to_string(address.bytes[4]) + "." + std::to_string(address.bytes[5]);
}

// The syntax of an attribute the schema does not know, from its values: text when they read as text.
nuint32 GuessSyntax(const LdapAttribute& attribute) {
  for (const std::string& value : attribute.values)
    for (char c : value) {
      const auto byte = static_cast<unsigned char>(c);
      if ((byte < 0x20 && c != '\t' && c != '\r' && c != '\n') || byte == 0x7F) return SYN_OCTET_STRING;
    }
  return SYN_CI_STRING;
}

bool HoldsNames(nuint32 syntax) {
  return syntax == SYN_DIST_NAME || syntax == SYN_REPLICA_POINTER || syntax == SYN_OBJECT_ACL ||
         syntax == SYN_BACK_LINK || syntax == SYN_TYPED_NAME || syntax == SYN_HOLD;
}

bool Refused(int result) {
  return result == LDAP_PROTOCOL_ERROR || result == LDAP_UNAVAILABLE_CRITICAL_EXTENSION ||
         result == LDAP_UNWILLING_TO_PERFORM || result == LDAP_INSUFFICIENT_ACCESS;
}

// A search under way: pages of many of the program's steps, given out as they fit; the
// values each entry came with are kept for the reads that follow.
class LdapSearchCursor : public SearchCursor {
 public:
  LdapSearchCursor(LdapSource& source, LdapSearch search) : source_(source), search_(std::move(search)) {}
  ~LdapSearchCursor() override {
    // The server keeps a paged search until its last page; one given up is released.
    if (!done_) source_.Link().AbandonPages(search_);
  }

  NWRCODE Step(const Context& context, nuint32 maxObjects, std::size_t room, std::vector<FoundObject>& out,
               nuint32& searched, bool& finished) override {
    searched = 0;
    if (pending_.empty() && !done_) {
      if (NWRCODE code = FetchPage(searched)) return code;
    }
    if (pending_.empty() && pendingCode_) {
      const NWRCODE code = pendingCode_;
      pendingCode_ = 0;
      return code;
    }
    std::size_t used = 4;
    while (!pending_.empty() && (maxObjects == 0 || out.size() < maxObjects)) {
      std::string name = OutputName(source_, context, pending_.front().name);
      const std::size_t bytes = SearchReplyBytes(name);
      if (used + bytes > room) {
        if (out.empty()) return ERR_INSUFFICIENT_BUFFER;
        break;  // the next step starts with this object
      }
      used += bytes;
      out.push_back({std::move(name), pending_.front().info});
      pending_.pop_front();
    }
    finished = pending_.empty() && done_ && !pendingCode_;
    return 0;
  }

 private:
  LdapSource& source_;
  LdapSearch search_;
  std::deque<FoundObject> pending_;  // full names, not yet in the context's form
  bool done_ = false;
  NWRCODE pendingCode_ = 0;  // a size limit's code, given once the entries before it are out

  NWRCODE FetchPage(nuint32& searched) {
    // Pages larger than the program's steps: a round trip brings many steps' objects.
    if (source_.PagedResults()) search_.pageSize = kSearchPageSize;
    std::vector<LdapEntry> entries;
    const NWRCODE code = source_.Link().Search(search_, entries);
    if (code && entries.empty()) {
      done_ = true;
      return code;
    }
    pendingCode_ = code;
    done_ = code != 0 || search_.pageSize == 0 || search_.cookie.empty();
    for (LdapEntry& entry : entries) {
      Dn dn;
      std::string name;
      if (!ParseDn(entry.dn, dn))
        return Give(source_.Link().Refuse(ERR_INVALID_SERVER_RESPONSE, "the server sent a malformed name: " + Shortened(entry.dn)));
      if (NWRCODE refused = source_.Learn(dn, name)) return Give(refused);
      pending_.push_back({std::move(name), InfoOf(entry, dn)});
      source_.Keep(dn, std::move(entry));
    }
    searched = static_cast<nuint32>(entries.size());
    return 0;
  }

  // The search ends with code; what came before it is not given out.
  NWRCODE Give(NWRCODE code) {
    pending_.clear();
    done_ = true;
    pendingCode_ = 0;
    return code;
  }
};

}  // namespace

std::unique_ptr<LdapSource> LdapSource::Open(LdapSettings settings) {
  std::unique_ptr<LdapSource> source(new LdapSource(std::move(settings)));
  const LdapSettings& used = source->link_.Settings();
  if (source->link_.Connect()) throw LoadError(used.Label() + ": " + source->link_.FailureMessage());
  source->ReadRootDse();
  if (source->treeName_.empty())
    throw LoadError(used.Label() + ": the server reports no tree name; give the connection a \"tree\"");
  if (!used.bindDn.empty()) {
    Dn bindName;
    if (ParseDn(used.bindDn, bindName) && !bindName.empty()) source->Learn(bindName, source->user_);
  }
  return source;
}

void LdapSource::ReadRootDse() {
  LdapSearch search;
  search.attributes = {"supportedControl", kTreeNameAttribute, kCurrentTimeAttribute};
  std::vector<LdapEntry> entries;
  const LdapSettings& settings = link_.Settings();
  if (link_.Search(search, entries) || entries.empty())
    throw LoadError(settings.Label() + ": " + (entries.empty() && link_.FailureMessage().empty()
                                                  ? std::string("the server shows no root DSE")
                                                  : link_.FailureMessage()));
  const LdapEntry& root = entries.front();
  pagedResults_ = HasValue(root, "supportedControl", kPagedResultsControl);
  serverClock_ = !FirstValue(root, kCurrentTimeAttribute).empty();
  treeName_ = !settings.treeName.empty() ? settings.treeName : FirstValue(root, kTreeNameAttribute).substr(0, 32);
}

NWRCODE LdapSource::Learn(const Dn& dn, std::string& name) {
  name = TypelessName(dn);
  // Checked before anything is kept: a server may send names of any depth.
  if (name.size() > MAX_DN_CHARS)
    return link_.Refuse(ERR_DN_TOO_LONG, "the server sent a name longer than " + std::to_string(MAX_DN_CHARS) +
                                             " characters: " + Shortened(FormatDn(dn)));
  names_.Learn(dn);
  return 0;
}

bool LdapSource::KnownName(const std::string& fullName, std::vector<std::string>& typed, std::string& spelling) const {
  std::string_view name = fullName;
  if (!name.empty() && name[0] == '.') name.remove_prefix(1);
  Dn dn;
  KnownNames::Entry known;
  if (!ParseDottedName(name, dn) || !names_.Find(dn, known)) return false;
  typed = std::move(known.typed);
  spelling = std::move(known.spelling);
  return true;
}

NWRCODE LdapSource::DnOf(const Context& context, const char* name, std::string& dn) {
  std::string fullName;
  if (NWRCODE code = FullInputName(context, name, fullName)) return code;
  if (fullName == "[Root]") {
    dn.clear();
    return 0;
  }
  Dn parsed;
  if (fullName[0] == '[') return ERR_NO_SUCH_ENTRY;  // [Public], [Supervisor]: no LDAP objects
  if (!ParseDottedName(fullName, parsed)) return ERR_INVALID_OBJECT_NAME;
  KnownNames::Entry known;
  if (names_.Find(parsed, known)) {
    dn = std::move(known.dn);
    return 0;
  }
  return ResolveLevels(parsed, dn);
}

NWRCODE LdapSource::ResolveLevels(const Dn& name, std::string& dn) {
  // From the deepest container the source knows already.
  std::string parentDn;
  std::size_t level = names_.DeepestContainer(name, parentDn);
  // One level at a time: the child whose name has this value, whatever its naming attribute.
  while (level-- > 0) {
    const Rdn& wanted = name[level];
    LdapSearch search;
    search.base = parentDn;
    search.scope = Scope::OneLevel;
    search.filter = "(|";
    for (const std::string& attr : NamingAttributes())
      search.filter += "(" + attr + "=" + EscapeFilterValue(wanted.front().value, false) + ")";
    search.filter += ")";
    std::vector<LdapEntry> entries;
    if (NWRCODE code = link_.Search(search, entries)) return code;
    const LdapEntry* match = nullptr;
    Dn found;
    for (const LdapEntry& entry : entries) {
      if (ParseDn(entry.dn, found) && !found.empty() && found.front().size() == wanted.size() &&
          std::equal(wanted.begin(), wanted.end(), found.front().begin(),
                     [](const Ava& a, const Ava& b) { return EqualsNoCase(a.value, b.value); })) {
        match = &entry;
        break;
      }
    }
    if (!match) return ERR_NO_SUCH_ENTRY;
    names_.Learn(found);  // no longer than the name asked for
    parentDn = FormatDn(found);
  }
  dn = parentDn;
  return 0;
}

void LdapSource::Keep(const Dn& dn, LdapEntry entry) {
  if (keptSession_ != link_.Session()) kept_.clear();
  keptSession_ = link_.Session();
  keptUsed_ = std::chrono::steady_clock::now();
  kept_[DnKey(dn)] = std::move(entry);
}

NWRCODE LdapSource::ReadEntry(const Context& context, const std::string& dn, std::vector<std::string> attributes,
                              LdapEntry& entry) {
  // The values the last search brought, when they are all that is asked for and the
  // session that brought them still stands (an alias followed is read anew).
  const auto now = std::chrono::steady_clock::now();
  if (keptSession_ != link_.Session() || now - keptUsed_ > kKeptWhileUsed) kept_.clear();
  Dn parsed;
  if (!kept_.empty() && ReadAhead(attributes) && ParseDn(dn, parsed))
    if (auto kept = kept_.find(DnKey(parsed)); kept != kept_.end()) {
      const bool followAlias = (context.flags & DCV_DEREF_ALIASES) && IsAlias(kept->second);
      if (!followAlias) {
        keptUsed_ = now;
        entry = kept->second;
        return 0;
      }
    }
  LdapSearch search;
  search.base = dn;
  search.attributes = std::move(attributes);
  search.derefAliases = (context.flags & DCV_DEREF_ALIASES) != 0;
  std::vector<LdapEntry> entries;
  if (NWRCODE code = link_.Search(search, entries)) return code;
  if (entries.empty()) return ERR_NO_SUCH_ENTRY;
  entry = std::move(entries.front());
  return 0;
}

NWRCODE LdapSource::Summary(const Context& context, const char* name, ObjectSummary& out) {
  std::string dn;
  if (NWRCODE code = DnOf(context, name, dn)) return code;
  if (dn.empty()) {  // [Root]: the root DSE, which tells nothing of its own
    if (NWRCODE code = link_.Connect()) return code;
    out = ObjectSummary{"[Root]", "[Root]", "", "", "Tree Root", 0, 0};
    return 0;
  }
  LdapEntry entry;
  if (NWRCODE code = ReadEntry(context, dn, {kStructuralClass, kObjectClass, kCreateTime, kModifyTime}, entry))
    return code;
  Dn parsed;
  if (!ParseDn(entry.dn, parsed) || parsed.empty()) return ERR_INVALID_SERVER_RESPONSE;
  if (NWRCODE code = Learn(parsed, out.fullName)) return code;
  out.rdn = TypelessName({parsed.front()});
  out.rdnType = DottedType(parsed.front().front().type);
  out.parentFullName = TypelessName(Dn(parsed.begin() + 1, parsed.end()));
  out.baseClass = BaseClassOf(entry);
  out.created = TimeValue(entry, kCreateTime);
  out.modified = TimeValue(entry, kModifyTime);
  return 0;
}

void LdapSource::NameValues(Attribute& attr) {
  if (!HoldsNames(attr.syntax) || KeepsLdapNames(attr.name)) return;
  for (Value& value : attr.values) {
    Dn dn;
    if (value.malformed) continue;
    std::string name;
    if (!ParseDn(value.text, dn) || Learn(dn, name)) {
      value = Value{};
      value.malformed = true;
    } else {
      value.text = std::move(name);
    }
  }
}

NWRCODE LdapSource::ReadAttributes(const Context& context, const char* name, bool allAttrs,
                                   const std::vector<std::string>& names, std::vector<Attribute>& out) {
  std::string dn;
  if (NWRCODE code = DnOf(context, name, dn)) return code;
  if (dn.empty()) return ERR_NOT_AVAILABLE_FOR_TREE;  // [Root] is the root DSE: none of its values are there
  // The attributes asked for: their LDAP names, and the names the reply gives them.
  std::vector<std::string> ldapNames;
  std::vector<std::string> replyNames;
  if (allAttrs) {
    ldapNames = OperationalAttributes();
    ldapNames.insert(ldapNames.begin(), "*");
  } else {
    for (const std::string& wanted : names) {
      std::string ldapName = LdapAttributeName(wanted);
      if (std::any_of(ldapNames.begin(), ldapNames.end(), [&](const std::string& n) { return SameAttribute(n, ldapName); }))
        continue;  // each attribute once, even when asked twice
      replyNames.push_back(CanonicalAttributeName(wanted));
      ldapNames.push_back(std::move(ldapName));
    }
  }
  LdapEntry entry;
  if (NWRCODE code = ReadEntry(context, dn, ldapNames, entry)) return code;

  auto add = [&](const std::string& attrName, const LdapAttribute& values) {
    Attribute* attr = nullptr;
    for (Attribute& existing : out)
      if (EqualsNoCase(existing.name, attrName)) attr = &existing;  // "Replica" and "Replica;binary" are one
    if (!attr) {
      out.push_back({attrName, 0, {}});
      attr = &out.back();
      if (!AttributeSyntax(attrName, attr->syntax)) attr->syntax = GuessSyntax(values);
    }
    for (const std::string& value : values.values) attr->values.push_back(DecodeValue(attr->syntax, value));
  };
  if (allAttrs) {
    for (const LdapAttribute& values : entry.attributes) add(DirectoryAttributeName(values.description), values);
  } else {
    for (std::size_t i = 0; i < ldapNames.size(); ++i)
      for (const LdapAttribute& values : entry.attributes)
        if (SameAttribute(values.description, ldapNames[i])) add(replyNames[i], values);
  }
  std::erase_if(out, [](const Attribute& attr) { return attr.values.empty(); });
  if (out.empty()) return ERR_NO_SUCH_ATTRIBUTE;
  for (Attribute& attr : out) {
    NameValues(attr);
    LocalizeValueNames(*this, context, attr);
  }
  return 0;
}

NWRCODE LdapSource::StartSearch(const Context& context, const SearchRequest& request,
                                std::unique_ptr<SearchCursor>& cursor) {
  LdapSearch search;
  if (NWRCODE code = DnOf(context, request.base, search.base)) return code;
  search.scope = request.scope == DS_SEARCH_ENTRY ? Scope::Base
                 : request.scope == DS_SEARCH_SUBORDINATES ? Scope::OneLevel
                                                           : Scope::Subtree;
  search.derefAliases = request.searchAliases;
  if (request.filter) {
    search.filter = LdapFilterText(*request.filter, [&](const std::string& value, std::string& dn) {
      return DnOf(context, value.c_str(), dn) == 0;
    });
  }
  if (request.modifiedSince)
    search.filter = "(&" + search.filter + "(" + kModifyTime + ">=" + GeneralizedTime(request.modifiedSince) + "))";
  search.attributes = ReadAheadAttributes();
  kept_.clear();  // a new search: the values of the last one are no longer kept
  cursor = std::make_unique<LdapSearchCursor>(*this, std::move(search));
  return 0;
}

bool LdapSource::SyntaxOf(const std::string& attrName, nuint32& syntax) const { return AttributeSyntax(attrName, syntax); }

NWRCODE LdapSource::ListByExtendedOperations(const std::string& serverDn,
                                             std::vector<std::pair<std::string, nuint32>>& found) {
  std::string response;
  if (NWRCODE code = link_.Extended(ExtOpName(kListReplicasOp), ListReplicasRequest(serverDn),
                                    ExtOpResponseName(kListReplicasOp), response))
    return code;
  std::vector<std::string> partitions;
  if (!ParseListReplicasResponse(response, partitions))
    return link_.Refuse(ERR_INVALID_SERVER_RESPONSE, "the server's list of replicas cannot be read");
  // One replica-info request per partition, all on their way together.
  std::vector<std::string> requests, answers;
  for (const std::string& partitionDn : partitions) requests.push_back(ReplicaInfoRequest(serverDn, partitionDn));
  if (NWRCODE code =
          link_.ExtendedTogether(ExtOpName(kReplicaInfoOp), requests, ExtOpResponseName(kReplicaInfoOp), answers))
    return code;
  for (std::size_t i = 0; i < partitions.size(); ++i) {
    ReplicaInfo info;
    if (!ParseReplicaInfoResponse(answers[i], info))
      return link_.Refuse(ERR_INVALID_SERVER_RESPONSE,
                          "the server's information on a replica of " + Shortened(partitions[i]) + " cannot be read");
    found.emplace_back(partitions[i], info.replicaType);
  }
  return 0;
}

NWRCODE LdapSource::ListByReplicaValues(const Dn& server, std::vector<std::pair<std::string, nuint32>>& found) {
  LdapSearch search;
  search.scope = Scope::Subtree;
  search.filter = "(" + LdapAttributeName("Replica") + "=*)";
  search.attributes = {LdapAttributeName("Replica")};
  do {
    if (pagedResults_) search.pageSize = kListPageSize;
    std::vector<LdapEntry> entries;
    if (NWRCODE code = link_.Search(search, entries)) return code;
    for (const LdapEntry& entry : entries) {
      const LdapAttribute* replicas = entry.Find(LdapAttributeName("Replica"));
      for (const std::string& bytes : replicas ? replicas->values : std::vector<std::string>{}) {
        const Value pointer = DecodeValue(SYN_REPLICA_POINTER, bytes);
        Dn holder;
        if (!pointer.malformed && ParseDn(pointer.text, holder) && SameDn(holder, server))
          found.emplace_back(entry.dn, pointer.number);
      }
    }
  } while (search.pageSize > 0 && !search.cookie.empty());
  return 0;
}

NWRCODE LdapSource::ServerPartitions(const Context& context, const char* server, std::string& serverName,
                                     std::vector<PartitionEntry>& entries) {
  std::string serverDn;
  if (NWRCODE code = DnOf(context, server, serverDn)) return code;
  Dn serverParsed;
  if (!ParseDn(serverDn, serverParsed)) return ERR_INVALID_OBJECT_NAME;
  std::vector<std::pair<std::string, nuint32>> found;
  NWRCODE code = ERR_INVALID_REQUEST;
  if (!replicaListRefused_) {
    code = ListByExtendedOperations(serverDn, found);
    // A server that does not answer the request tells it once; its partition roots' values tell the same.
    if (code && Refused(link_.LastResult())) replicaListRefused_ = true;
  }
  if (replicaListRefused_) {
    found.clear();
    code = ListByReplicaValues(serverParsed, found);
  }
  if (code) return code;
  std::string fullName;
  if (NWRCODE refused = Learn(serverParsed, fullName)) return refused;
  serverName = OutputName(*this, context, fullName);
  for (const auto& [partitionDn, type] : found) {
    Dn partition;
    if (!ParseDn(partitionDn, partition))
      return link_.Refuse(ERR_INVALID_SERVER_RESPONSE, "the server sent a malformed name: " + Shortened(partitionDn));
    if (NWRCODE refused = Learn(partition, fullName)) return refused;
    entries.push_back({OutputName(*this, context, fullName), type});
  }
  return 0;
}

NWRCODE LdapSource::ReplicaSyncErrors(const Context& context, const char* server, const char* partition,
                                      std::vector<NWRCODE>& errors) {
  // No request gives a replica's list of sync errors: its own Partition Status value
  // carries its last one, the value whose replica number is the replica's.
  std::string partitionDn, serverDn;
  if (NWRCODE code = DnOf(context, partition, partitionDn)) return code;
  if (partitionDn.empty()) return ERR_NOT_AVAILABLE_FOR_TREE;  // [Root]: the root DSE holds no ring
  if (NWRCODE code = DnOf(context, server, serverDn)) return code;
  const std::string replicaName = LdapAttributeName("Replica");
  const std::string statusName = LdapAttributeName("Partition Status");
  LdapEntry entry;
  if (NWRCODE code = ReadEntry(context, partitionDn, {replicaName, statusName}, entry)) return code;
  std::optional<nuint32> number = ReplicaNumberOf(entry, replicaName, serverDn);
  if (!number) return ERR_REPLICA_NOT_ON;
  errors.clear();
  if (const LdapAttribute* statuses = entry.Find(statusName))
    for (const std::string& status : statuses->values)
      if (status.size() >= kStatusFieldBytes && LittleEndianU32(status, 12) == *number) {
        if (const nuint32 error = LittleEndianU32(status, 16)) errors.push_back(static_cast<NWRCODE>(error));
        return 0;
      }
  return 0;
}

NWRCODE LdapSource::ServerTime(nuint32& now) {
  if (NWRCODE code = link_.Connect()) return code;
  if (serverClock_) {
    LdapSearch search;
    search.attributes = {kCurrentTimeAttribute};
    std::vector<LdapEntry> entries;
    if (NWRCODE code = link_.Search(search, entries)) return code;
    if (!entries.empty() && ParseGeneralizedTime(FirstValue(entries.front(), kCurrentTimeAttribute), now)) return 0;
  }
  // A server that does not tell its time: the workstation's clock stands in.
  now = static_cast<nuint32>(std::time(nullptr));
  return 0;
}

NWRCODE LdapSource::OperationRequest(const Context& context, const OperationArgs& args, ExtendedCall& call) {
  const char* const* names = args.names;
  std::string first, second;
  auto dns = [&](std::size_t count) -> NWRCODE {
    if (NWRCODE code = DnOf(context, names[0], first)) return code;
    return count > 1 ? DnOf(context, names[1], second) : 0;
  };
  switch (args.operation) {
    case Operation::SyncSchema:  // server
      call.number = kSyncSchemaOp;
      if (NWRCODE code = dns(1)) return code;
      call.value = SyncSchemaRequest(first, args.seconds);
      return 0;
    case Operation::SyncPartition:  // server, partition
      call.number = kSyncPartitionOp;
      if (NWRCODE code = dns(2)) return code;
      call.value = SyncPartitionRequest(first, second, args.seconds);
      return 0;
    case Operation::SendAllUpdates:  // partition, server
      call.number = kSendAllUpdatesOp;
      if (NWRCODE code = dns(2)) return code;
      // The server the request reaches is the one that sends, whatever the request names.
      call.value = SendAllUpdatesRequest(first, second);
      call.server = second;
      return 0;
    case Operation::ReceiveAllUpdates:  // partition, server
      call.number = kReceiveAllUpdatesOp;
      if (NWRCODE code = dns(2)) return code;
      // The server the request reaches is the one that receives, whatever the request
      // names; the source it names is not used: the receiver itself stands there.
      call.value = ReceiveAllUpdatesRequest(first, second, second);
      call.server = second;
      return 0;
    case Operation::RemoveReplica:  // server, partition
      call.number = kRemoveReplicaOp;
      if (NWRCODE code = dns(2)) return code;
      call.value = RemoveReplicaRequest(0, first, second);  // the server's own rule about silent ring members
      return 0;
    case Operation::JoinPartitions:  // partition
      call.number = kJoinPartitionsOp;
      if (NWRCODE code = dns(1)) return code;
      call.value = JoinPartitionsRequest(args.flags, first);
      // A join is carried out by the server that holds the parent partition's master.
      return ParentMaster(first, call.server);
    // The ring changes go to the server that holds the partition's master replica, as the
    // directory's own client sends them; a split, to the master of the partition that
    // holds the container.
    case Operation::AddReplica:  // server, partition
      call.number = kAddReplicaOp;
      if (NWRCODE code = dns(2)) return code;
      call.value = AddReplicaRequest(0, args.replicaType, first, second);
      return PartitionMaster(second, call.server);
    case Operation::ChangeReplicaType:  // partition, server
      call.number = kChangeReplicaTypeOp;
      if (NWRCODE code = dns(2)) return code;
      call.value = ChangeReplicaTypeRequest(0, args.replicaType, second, first);
      return PartitionMaster(first, call.server);
    case Operation::SplitPartition:  // container
      call.number = kSplitPartitionOp;
      if (NWRCODE code = dns(1)) return code;
      call.value = SplitPartitionRequest(args.flags, first);
      return ParentMaster(first, call.server);
    case Operation::AbortPartitionOperation:  // partition
      call.number = kAbortPartitionOperationOp;
      if (NWRCODE code = dns(1)) return code;
      call.value = AbortPartitionOperationRequest(0, first);
      return PartitionMaster(first, call.server);
    case Operation::PartitionEntryCount:  // partition
      call.number = kPartitionEntryCountOp;
      if (NWRCODE code = dns(1)) return code;
      call.value = PartitionEntryCountRequest(first);
      return PartitionMaster(first, call.server);
    case Operation::SyncReplicaToServer:
    case Operation::RemovePartition:
    case Operation::RepairTimeStamps:
    case Operation::ReloadDS:
      break;
  }
  return ERR_NOT_AVAILABLE_FOR_TREE;
}

NWRCODE LdapSource::Operate(const Context& context, const OperationArgs& args) {
  kept_.clear();  // what an operation changes is read anew
  ExtendedCall call;
  if (NWRCODE code = OperationRequest(context, args, call)) return code;
  LdapConnection* link = &link_;
  // Nothing goes to another server instead when the one that carries it cannot be reached.
  if (!call.server.empty())
    if (NWRCODE code = ServerLink(call.server, link)) return code;
  std::string response;  // the operations answer no value, but for the entry count
  if (NWRCODE code = link->Extended(ExtOpName(call.number), call.value, ExtOpResponseName(call.number), response))
    return code;
  if (args.operation != Operation::PartitionEntryCount) return 0;
  if (!args.count || !ParsePartitionEntryCountResponse(response, *args.count))
    return link->Refuse(ERR_INVALID_SERVER_RESPONSE, "the server's count of a partition's entries cannot be read");
  return 0;
}

std::uint64_t LdapSource::RequestCount() const {
  std::uint64_t requests = link_.Requests();
  for (const auto& [name, link] : serverLinks_) requests += link->Requests();
  return requests;
}

std::string LdapSource::LinkFailure() const {
  const LdapConnection* last = &link_;
  for (const auto& [name, link] : serverLinks_)
    if (link->FailureStamp() > last->FailureStamp()) last = link.get();
  return last->FailureMessage();
}

NWRCODE LdapSource::ServerLink(const std::string& serverDn, LdapConnection*& link) {
  Dn server;
  if (!ParseDn(serverDn, server) || server.empty()) return ERR_INVALID_OBJECT_NAME;
  const std::string key = NameKey(TypelessName(server));
  auto found = serverLinks_.find(key);
  if (found == serverLinks_.end()) {
    LdapSettings settings = link_.Settings();
    if (NWRCODE code = ServerUrl(server, settings.url)) return code;
    std::string urlKey;
    if (std::string refused = TakeUrl(settings, urlKey); !refused.empty())
      return link_.Refuse(ERR_UNREACHABLE_SERVER, TypelessName(server) + ": " + refused);
    found = serverLinks_.emplace(key, std::make_unique<LdapConnection>(std::move(settings))).first;
  }
  link = found->second.get();
  return 0;
}

NWRCODE LdapSource::ServerUrl(const Dn& server, std::string& url) {
  const LdapSettings& tree = link_.Settings();
  for (const auto& [name, serverUrl] : tree.servers) {
    Dn named;
    if (ParseDottedName(name, named) && NameKey(TypelessName(named)) == NameKey(TypelessName(server))) {
      url = serverUrl;
      return 0;
    }
  }
  // Else the server's own TCP or UDP address, with the tree connection's scheme and port.
  LdapSearch search;
  search.base = FormatDn(server);
  const std::string addressName = LdapAttributeName("Network Address");
  search.attributes = {addressName};
  std::vector<LdapEntry> entries;
  if (NWRCODE code = link_.Search(search, entries)) return code;
  const LdapAttribute* addresses = entries.empty() ? nullptr : entries.front().Find(addressName);
  for (const std::string& bytes : addresses ? addresses->values : std::vector<std::string>{}) {
    const std::string host = IpAddressText(DecodeValue(SYN_NET_ADDRESS, bytes));
    if (host.empty()) continue;
    url = (tree.ldaps ? "ldaps://" : "ldap://") + host + (tree.port ? ":" + std::to_string(tree.port) : "");
    return 0;
  }
  return link_.Refuse(ERR_UNREACHABLE_SERVER, TypelessName(server) +
                                                  " has no TCP or UDP address to reach it at; name its LDAP "
                                                  "server's URL in the connection's \"servers\"");
}

NWRCODE LdapSource::PartitionMaster(const std::string& partitionDn, std::string& serverDn) {
  Dn partition;
  if (!ParseDn(partitionDn, partition)) return ERR_INVALID_OBJECT_NAME;
  if (partition.empty()) return RootMaster(serverDn);
  return MasterAbove(partition, 0, true, serverDn);
}

NWRCODE LdapSource::ParentMaster(const std::string& partitionDn, std::string& serverDn) {
  Dn partition;
  if (!ParseDn(partitionDn, partition) || partition.empty()) return ERR_INVALID_OBJECT_NAME;
  return MasterAbove(partition, 1, false, serverDn);
}

NWRCODE LdapSource::MasterAbove(const Dn& partition, std::size_t from, bool rootOnly, std::string& serverDn) {
  const std::string replicaName = LdapAttributeName("Replica");
  // The nearest container from there up that holds a ring is the partition's root.
  for (std::size_t level = from; level < partition.size(); ++level) {
    LdapSearch search;
    search.base = FormatDn(Dn(partition.begin() + static_cast<std::ptrdiff_t>(level), partition.end()));
    search.attributes = {replicaName};
    std::vector<LdapEntry> entries;
    if (NWRCODE code = link_.Search(search, entries)) return code;
    const LdapAttribute* replicas = entries.empty() ? nullptr : entries.front().Find(replicaName);
    if (!replicas || replicas->values.empty()) {
      if (rootOnly) return ERR_NO_SUCH_PARTITION;  // the name is no partition root
      continue;
    }
    for (const std::string& bytes : replicas->values) {
      const Value pointer = DecodeValue(SYN_REPLICA_POINTER, bytes);
      if (!pointer.malformed && pointer.number == RT_MASTER) {
        serverDn = pointer.text;
        return 0;
      }
    }
    return ERR_NO_SUCH_PARTITION;  // a ring without a master
  }
  return RootMaster(serverDn);
}

NWRCODE LdapSource::RootMaster(std::string& serverDn) {
  // [Root]'s ring is nowhere to read: the servers' own partition lists name it.
  LdapSearch search;
  search.scope = Scope::Subtree;
  search.filter = "(objectClass=" + LdapClassName("NCP Server") + ")";
  do {
    if (pagedResults_) search.pageSize = kListPageSize;
    std::vector<LdapEntry> servers;
    if (NWRCODE code = link_.Search(search, servers)) return code;
    for (const LdapEntry& server : servers) {
      std::vector<std::pair<std::string, nuint32>> held;
      if (NWRCODE code = ListByExtendedOperations(server.dn, held)) return code;
      for (const auto& [partition, type] : held)
        if (partition.empty() && type == RT_MASTER) {
          serverDn = server.dn;
          return 0;
        }
    }
  } while (search.pageSize > 0 && !search.cookie.empty());
  return ERR_NOT_AVAILABLE_FOR_TREE;
}

}  // namespace vestrel::nw::ldap
