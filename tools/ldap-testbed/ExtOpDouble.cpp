#include "tools/ldap-testbed/ExtOpDouble.h"

#include <ldap.h>

#include <algorithm>
#include <array>
#include <ctime>

#include "directory/NTypes.h"
#include "platform/nwclient/Model.h"
#include "platform/nwclient/ldap/Ber.h"
#include "platform/nwclient/ldap/LdapExtOps.h"
#include "platform/nwclient/ldap/LdapHolders.h"
#include "platform/nwclient/ldap/LdapNames.h"
#include "platform/nwclient/ldap/LdapValues.h"

namespace vestrel::testbed {

namespace {

namespace ldap = nw::ldap;
using Values = std::vector<std::string>;

// ---- Requests ----

// The fields of each request, in order: 'D' a DN (OCTET STRING), 'I' an INTEGER.
struct RequestForm {
  int number;
  const char* fields;
};
constexpr RequestForm kForms[] = {
    {ldap::kJoinPartitionsOp, "ID"},     {ldap::kRemoveReplicaOp, "IDD"},    {ldap::kReplicaInfoOp, "DD"},
    {ldap::kListReplicasOp, "D"},        {ldap::kReceiveAllUpdatesOp, "DDD"}, {ldap::kSendAllUpdatesOp, "DD"},
    {ldap::kSyncPartitionOp, "DDI"},     {ldap::kSyncSchemaOp, "DI"},
    {ldap::kSplitPartitionOp, "ID"},     {ldap::kAddReplicaOp, "IIDD"},      {ldap::kChangeReplicaTypeOp, "IIDD"},
    {ldap::kAbortPartitionOperationOp, "ID"}, {ldap::kPartitionEntryCountOp, "D"},
};

const RequestForm* FormOf(std::string_view name) {
  const std::string_view prefix = ldap::kExtOpPrefix;
  if (name.substr(0, prefix.size()) != prefix) return nullptr;
  for (const RequestForm& form : kForms)
    if (name.substr(prefix.size()) == std::to_string(form.number)) return &form;
  return nullptr;
}

struct Field {
  std::string dn;
  std::uint32_t number = 0;
};

// Whether an INTEGER's content bytes are its shortest two's complement form.
bool Shortest(std::string_view content) {
  if (content.size() < 2) return !content.empty();
  const auto lead = static_cast<std::uint8_t>(content[0]);
  const auto next = static_cast<std::uint8_t>(content[1]);
  return !((lead == 0x00 && !(next & 0x80)) || (lead == 0xFF && (next & 0x80)));
}

// An integer field as eDirectory's C decoder takes it: a signed 32-bit value of at most
// four bytes in its shortest form (0xFFFFFFFF comes as -1).
bool IntegerField(ldap::BerReader& reader, std::uint32_t& number) {
  ldap::BerReader ahead = reader;
  std::string_view content;
  return ahead.Element(ldap::kBerInteger, content) && content.size() <= 4 && Shortest(content) && reader.U32(number);
}

// The fields one after another, nothing around them and nothing after them.
bool DecodeFields(std::string_view value, const char* kinds, std::vector<Field>& fields) {
  ldap::BerReader reader(value);
  for (const char* kind = kinds; *kind; ++kind) {
    Field field;
    ldap::Dn dn;
    if (*kind == 'I' ? !IntegerField(reader, field.number)
                     : !reader.OctetString(field.dn) || !ldap::ParseDn(field.dn, dn))
      return false;
    fields.push_back(std::move(field));
  }
  return reader.AtEnd();
}

// ---- Answers ----

struct NdsText {
  NWRCODE code;
  const char* text;
};
constexpr NdsText kNdsTexts[] = {
    {ERR_NO_SUCH_ENTRY, "no such entry"},         {ERR_NO_SUCH_PARTITION, "no such partition"},
    {ERR_ILLEGAL_REPLICA_TYPE, "illegal replica type"}, {ERR_SYSTEM_FAILURE, "system failure"},
    {ERR_UNREACHABLE_SERVER, "unreachable server"}, {ERR_INVALID_REQUEST, "invalid request"},
    {ERR_CRUCIAL_REPLICA, "crucial replica"},     {ERR_REPLICA_NOT_ON, "replica not on"},
    {ERR_NO_ACCESS, "no access"},                 {ERR_REPLICA_ALREADY_EXISTS, "replica already exists"},
    {ERR_PARTITION_BUSY, "partition busy"},       {ERR_PARTITION_ALREADY_EXISTS, "partition already exists"},
    {ERR_ENTRY_NOT_CONTAINER, "entry is not a container"},
};

ExtendedAnswer NdsError(int code) {
  const char* text = "error";
  for (const NdsText& known : kNdsTexts)
    if (known.code == code) text = known.text;
  const int result = code == ERR_NO_SUCH_ENTRY     ? LDAP_NO_SUCH_OBJECT
                     : code == ERR_INVALID_REQUEST ? LDAP_PROTOCOL_ERROR
                                                   : LDAP_OTHER;
  return {result, "NDS error: " + std::string(text) + " (" + std::to_string(code) + ")", "", ""};
}

std::uint32_t Now() { return static_cast<std::uint32_t>(std::time(nullptr)); }

// ---- The directory behind the proxy ----

struct Entry {
  std::string dn;
  std::map<std::string, Values> attributes;  // by lower-case name without options
  const Values& Of(const std::string& lowerName) const {
    static const Values none;
    auto found = attributes.find(lowerName);
    return found == attributes.end() ? none : found->second;
  }
};

std::string BaseName(std::string description) {
  description = description.substr(0, description.find(';'));
  for (char& c : description) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return description;
}

int Search(LDAP* ld, const std::string& base, int scope, const std::string& filter, std::vector<std::string> wanted,
           std::vector<Entry>& out) {
  std::vector<char*> attributes;
  for (std::string& name : wanted) attributes.push_back(name.data());
  attributes.push_back(nullptr);
  LDAPMessage* raw = nullptr;
  const int code = ldap_search_ext_s(ld, base.c_str(), scope, filter.c_str(), attributes.data(), 0, nullptr, nullptr,
                                     nullptr, 0, &raw);
  const ldap::Message result(raw);
  for (LDAPMessage* m = result ? ldap_first_entry(ld, result.get()) : nullptr; m; m = ldap_next_entry(ld, m)) {
    Entry entry;
    if (const ldap::Text dn(ldap_get_dn(ld, m)); dn) entry.dn = dn.get();
    BerElement* rawPosition = nullptr;
    ldap::Text name(ldap_first_attribute(ld, m, &rawPosition));
    const ldap::BerPosition position(rawPosition);
    for (; name; name.reset(ldap_next_attribute(ld, m, position.get()))) {
      Values& values = entry.attributes[BaseName(name.get())];
      const ldap::Values found(ldap_get_values_len(ld, m, name.get()));
      for (berval** v = found.get(); v && *v; ++v) values.emplace_back((*v)->bv_val, (*v)->bv_len);
    }
    out.push_back(std::move(entry));
  }
  return code;
}

struct Change {
  int operation;  // LDAP_MOD_REPLACE, LDAP_MOD_DELETE
  std::string attribute;
  Values values;  // none: the whole attribute
};

bool Modify(LDAP* ld, const std::string& dn, std::vector<Change> changes) {
  std::vector<std::vector<berval>> values(changes.size());
  std::vector<std::vector<berval*>> pointers(changes.size());
  std::vector<LDAPMod> mods(changes.size());
  std::vector<LDAPMod*> list;
  for (std::size_t i = 0; i < changes.size(); ++i) {
    for (std::string& value : changes[i].values) values[i].push_back({value.size(), value.data()});
    for (berval& value : values[i]) pointers[i].push_back(&value);
    pointers[i].push_back(nullptr);
    mods[i].mod_op = changes[i].operation | LDAP_MOD_BVALUES;
    mods[i].mod_type = changes[i].attribute.data();
    mods[i].mod_bvalues = pointers[i].data();
    list.push_back(&mods[i]);
  }
  list.push_back(nullptr);
  return ldap_modify_ext_s(ld, dn.c_str(), list.data(), nullptr, nullptr) == LDAP_SUCCESS;
}

bool HasClass(const Entry& entry, const char* wanted) {
  const Values& classes = entry.Of("objectclass");
  return std::any_of(classes.begin(), classes.end(), [&](const std::string& c) { return nw::EqualsNoCase(c, wanted); });
}

// ---- Replica rings ----

enum RingValues { kReplicaValues, kStatusValues, kTransitiveValues, kReceivedValues, kPurgeValues, kRingValueCount };
const char* const kRingAttributes[kRingValueCount] = {"Replica", "partitionStatus", "transitiveVector",
                                                      "localReceivedUpTo", "purgeVector"};
constexpr const char* kPartitionClass = "Partition";
constexpr std::uint32_t kReplicaOn = 0;  // the replica state of a replica information answer: on

// A partition root's replica values as the directory keeps them. The values of one
// replica carry its number: replica pointers as a field, status octets at 12, vectors at
// 0, purge time stamps as their second field.
struct Ring {
  std::string dn;
  std::array<Values, kRingValueCount> values;
};

std::uint32_t U32At(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<std::uint8_t>(bytes[at + i]);
  return value;
}

void PutU32(std::string& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

std::string AsString(const nw::Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

bool SameName(const std::string& a, const std::string& b) {
  ldap::Dn first, second;
  return ldap::ParseDn(a, first) && ldap::ParseDn(b, second) && ldap::SameDn(first, second);
}

bool SameServer(const nw::Value& pointer, const std::string& serverDn) { return SameName(pointer.text, serverDn); }

int FindServer(LDAP* ld, const std::string& dn) {
  std::vector<Entry> found;
  Search(ld, dn, LDAP_SCOPE_BASE, "(objectClass=ncpServer)", {"1.1"}, found);
  return found.empty() ? ERR_NO_SUCH_ENTRY : 0;
}

int FindRing(LDAP* ld, const std::string& dn, Ring& ring) {
  std::vector<std::string> wanted(std::begin(kRingAttributes), std::end(kRingAttributes));
  wanted.push_back("objectClass");
  std::vector<Entry> found;
  Search(ld, dn, LDAP_SCOPE_BASE, "(objectClass=*)", wanted, found);
  if (found.empty()) return ERR_NO_SUCH_ENTRY;
  const Values& classes = found.front().Of("objectclass");
  if (std::none_of(classes.begin(), classes.end(), [](const std::string& c) { return nw::EqualsNoCase(c, kPartitionClass); }))
    return ERR_NO_SUCH_PARTITION;
  ring.dn = dn;
  for (int i = 0; i < kRingValueCount; ++i) ring.values[i] = found.front().Of(BaseName(kRingAttributes[i]));
  return 0;
}

// The replica pointer of serverDn in the ring.
int FindReplica(const Ring& ring, const std::string& serverDn, nw::Value& pointer) {
  for (const std::string& bytes : ring.values[kReplicaValues]) {
    pointer = ldap::DecodeValue(SYN_REPLICA_POINTER, bytes);
    if (!pointer.malformed && SameServer(pointer, serverDn)) return 0;
  }
  return ERR_REPLICA_NOT_ON;
}

bool WriteRing(LDAP* ld, const Ring& ring, bool partitionRoot = true) {
  std::vector<Change> changes;
  for (int i = 0; i < kRingValueCount; ++i)
    changes.push_back({LDAP_MOD_REPLACE, i == kReplicaValues ? "Replica;binary" : kRingAttributes[i], ring.values[i]});
  if (!partitionRoot) changes.push_back({LDAP_MOD_DELETE, "objectClass", {kPartitionClass}});
  return Modify(ld, ring.dn, std::move(changes));
}

// The replica numbered `number` (every replica for 0) is in sync as of time.
void MarkInSync(Ring& ring, std::uint32_t number, std::uint32_t time) {
  const auto mine = [&](std::uint32_t n) { return number == 0 || n == number; };
  for (std::string& status : ring.values[kStatusValues])
    if (status.size() >= 20 && mine(U32At(status, 12))) {
      PutU32(status, 4, RS_IN_SYNC);
      PutU32(status, 8, time);
      PutU32(status, 16, 0);  // no error
    }
  for (int which : {kTransitiveValues, kReceivedValues})
    for (std::string& vector : ring.values[which])
      if (vector.size() >= 12 && mine(U32At(vector, 0))) PutU32(vector, 4, time);
  for (std::string& purge : ring.values[kPurgeValues]) {
    nw::Value stamp = ldap::DecodeValue(SYN_TIMESTAMP, purge);
    if (stamp.malformed || !mine(stamp.number2)) continue;
    stamp.number = time;
    purge = ldap::EncodeValue(SYN_TIMESTAMP, stamp);
  }
}

// Every value of the replica numbered `number` goes.
void DropReplica(Ring& ring, std::uint32_t number) {
  std::erase_if(ring.values[kReplicaValues], [&](const std::string& bytes) {
    const nw::Value pointer = ldap::DecodeValue(SYN_REPLICA_POINTER, bytes);
    return !pointer.malformed && pointer.number2 == number;
  });
  Values& status = ring.values[kStatusValues];
  const auto numbered = [&](const std::string& s) { return s.size() >= 16 && U32At(s, 12) == number; };
  const bool firstGoes = !status.empty() && numbered(status.front());
  std::erase_if(status, numbered);
  // The first status value has four bytes more before its server name.
  if (firstGoes && !status.empty() && status.front().size() >= 24) status.front().insert(24, 4, '\0');
  for (int which : {kTransitiveValues, kReceivedValues})
    std::erase_if(ring.values[which], [&](const std::string& v) { return v.size() >= 4 && U32At(v, 0) == number; });
  std::erase_if(ring.values[kPurgeValues], [&](const std::string& bytes) {
    const nw::Value stamp = ldap::DecodeValue(SYN_TIMESTAMP, bytes);
    return !stamp.malformed && stamp.number2 == number;
  });
}

// The state (0 on, 1 new, 2 dying, ...) that the Replica value numbered `number` holds.
std::uint32_t ReplicaState(const Ring& ring, std::uint32_t number) {
  for (const std::string& bytes : ring.values[kReplicaValues]) {
    ldap::BerReader value(bytes), fields("");
    std::string server;
    std::uint32_t type = 0, state = 0, rootId = 0, held = 0;
    if (value.Sequence(fields) && fields.OctetString(server) && fields.U32(type) && fields.U32(state) &&
        fields.U32(rootId) && fields.U32(held) && held == number)
      return state;
  }
  return 0;
}

// A new replica's values, in sync as of time.
void AddReplica(Ring& ring, nw::Value pointer, std::uint32_t time) {
  std::uint32_t number = 0;
  std::uint32_t event = 0;
  for (const std::string& bytes : ring.values[kReplicaValues]) {
    const nw::Value held = ldap::DecodeValue(SYN_REPLICA_POINTER, bytes);
    if (!held.malformed) number = std::max(number, held.number2);
  }
  for (const std::string& vector : ring.values[kTransitiveValues])
    if (vector.size() >= 12) event = std::max(event, U32At(vector, 8));
  ++number;
  ldap::Dn server;
  const std::string serverName = ldap::ParseDn(pointer.text, server) ? ldap::TypelessName(server) : pointer.text;
  pointer.number2 = number;
  ring.values[kReplicaValues].push_back(ldap::EncodeValue(SYN_REPLICA_POINTER, pointer));
  std::string status(24, '\0');
  PutU32(status, 4, RS_IN_SYNC);
  PutU32(status, 8, time);
  PutU32(status, 12, number);
  ring.values[kStatusValues].push_back(status + AsString(nw::Utf16Le(serverName, true)));
  const std::string vector = AsString(nw::VectorOctets(number, time, event, serverName));
  ring.values[kTransitiveValues].push_back(vector);
  ring.values[kReceivedValues].push_back(vector);
  nw::Value stamp;
  stamp.number = time;
  stamp.number2 = number;
  stamp.number3 = event;
  ring.values[kPurgeValues].push_back(ldap::EncodeValue(SYN_TIMESTAMP, stamp));
}

// The child's real replicas join the parent's ring: a server without a real replica of
// the parent gets one of the child's type (a master becomes a secondary).
void MergeRings(Ring& parent, const Ring& child, std::uint32_t time) {
  for (const std::string& bytes : child.values[kReplicaValues]) {
    nw::Value joining = ldap::DecodeValue(SYN_REPLICA_POINTER, bytes);
    if (joining.malformed || joining.number == RT_SUBREF) continue;
    const std::uint32_t type = joining.number == RT_MASTER ? RT_SECONDARY : joining.number;
    nw::Value held;
    if (FindReplica(parent, joining.text, held) != 0) {
      joining.number = type;
      AddReplica(parent, joining, time);
    } else if (held.number == RT_SUBREF) {
      DropReplica(parent, held.number2);
      held.number = type;
      AddReplica(parent, held, time);
    }
  }
}

// Whether serverDn holds the ring's master replica.
bool HoldsMaster(const Ring& ring, const std::string& serverDn) {
  nw::Value pointer;
  return FindReplica(ring, serverDn, pointer) == 0 && pointer.number == RT_MASTER;
}

// Every Replica value passes through change (which may alter its type and state).
void ChangePointers(Ring& ring, const std::function<void(nw::Value&)>& change) {
  for (std::string& bytes : ring.values[kReplicaValues]) {
    nw::Value pointer = ldap::DecodeValue(SYN_REPLICA_POINTER, bytes);
    if (pointer.malformed) continue;
    change(pointer);
    bytes = ldap::EncodeValue(SYN_REPLICA_POINTER, pointer);
  }
}

// Whether a replica of the ring is in a state other than on.
bool RingBusy(const Ring& ring) {
  for (const std::string& bytes : ring.values[kReplicaValues]) {
    const nw::Value pointer = ldap::DecodeValue(SYN_REPLICA_POINTER, bytes);
    if (!pointer.malformed && pointer.state != kReplicaOn) return true;
  }
  return false;
}

// A replica information answer (...100.18): fields one after another, 32-bit values as their
// unsigned numbers.
std::string ReplicaInfo(std::uint32_t partitionId, std::uint32_t state, std::uint32_t modified,
                        const std::string& partitionDn, std::uint32_t type) {
  using ldap::UnsignedField;
  return ldap::BerWriter()
      .Integer(UnsignedField(partitionId))
      .Integer(UnsignedField(state))
      .Integer(UnsignedField(modified))
      .Integer(0)  // purge time
      .Integer(0)  // local partition ID
      .OctetString(partitionDn)
      .Integer(UnsignedField(type))
      .Integer(0)  // flags
      .Bytes();
}

// The partition holding the entry above dn: the nearest partition root above it; false
// for the tree root's partition, which has no entry.
bool ParentRing(LDAP* ld, const std::string& dn, Ring& parent) {
  ldap::Dn name;
  if (!ldap::ParseDn(dn, name)) return false;
  for (std::size_t level = 1; level < name.size(); ++level)
    if (FindRing(ld, ldap::FormatDn(ldap::Dn(name.begin() + static_cast<std::ptrdiff_t>(level), name.end())), parent) == 0)
      return true;
  return false;
}

}  // namespace

ExtOpDouble::ExtOpDouble(std::string serverUrl, std::string adminDn, std::string password)
    : url_(std::move(serverUrl)), adminDn_(std::move(adminDn)), password_(std::move(password)) {}

ExtOpDouble::~ExtOpDouble() = default;

bool ExtOpDouble::Answers(std::string_view requestName) { return FormOf(requestName) != nullptr; }

LDAP* ExtOpDouble::Directory() {
  if (ld_) return ld_.get();
  LDAP* raw = nullptr;
  if (ldap_initialize(&raw, url_.c_str()) != LDAP_SUCCESS) return nullptr;
  ldap::Session ld(raw);
  const int version = LDAP_VERSION3;
  timeval timeout{5, 0};
  ldap_set_option(ld.get(), LDAP_OPT_PROTOCOL_VERSION, &version);
  ldap_set_option(ld.get(), LDAP_OPT_NETWORK_TIMEOUT, &timeout);
  ldap_set_option(ld.get(), LDAP_OPT_TIMEOUT, &timeout);
  berval password{password_.size(), password_.data()};
  if (ldap_sasl_bind_s(ld.get(), adminDn_.c_str(), LDAP_SASL_SIMPLE, &password, nullptr, nullptr, nullptr) !=
      LDAP_SUCCESS)
    return nullptr;
  ld_ = std::move(ld);
  return ld_.get();
}

void ExtOpDouble::FailNext(int requestNumber, int ndsCode) {
  std::lock_guard lock(mutex_);
  failures_[requestNumber] = ndsCode;
}

void ExtOpDouble::SetSettleSeconds(std::uint32_t seconds) {
  std::lock_guard serving(serving_);
  settleSeconds_ = seconds;
}

std::vector<ExtendedRequestRecord> ExtOpDouble::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::uint32_t ExtOpDouble::LastSchemaSync(const std::string& serverDn) const {
  std::lock_guard lock(mutex_);
  auto found = schemaSyncs_.find(nw::UpperAscii(serverDn));
  return found == schemaSyncs_.end() ? 0 : found->second;
}

void ExtOpDouble::Schedule(std::uint32_t delaySeconds, std::function<void()> run) {
  std::lock_guard lock(mutex_);
  scheduled_.push_back({Clock::now() + std::chrono::seconds(delaySeconds), std::move(run)});
}

int ExtOpDouble::RunDue() {
  std::vector<Scheduled> due;
  {
    std::lock_guard lock(mutex_);
    const Clock::time_point now = Clock::now();
    for (auto it = scheduled_.begin(); it != scheduled_.end();) {
      if (it->due <= now) {
        due.push_back(std::move(*it));
        it = scheduled_.erase(it);
      } else {
        ++it;
      }
    }
  }
  {
    std::lock_guard serving(serving_);
    for (Scheduled& job : due) job.run();
  }
  std::lock_guard lock(mutex_);
  if (scheduled_.empty()) return -1;
  Clock::time_point next = scheduled_.front().due;
  for (const Scheduled& job : scheduled_) next = std::min(next, job.due);
  const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(wait, 0, 60000));
}

void ExtOpDouble::SetRootRing(std::vector<RootReplica> ring) {
  std::lock_guard lock(serving_);
  rootRing_ = std::move(ring);
}

const RootReplica* ExtOpDouble::RootReplicaOn(const std::string& serverDn) const {
  for (const RootReplica& replica : rootRing_)
    if (SameName(replica.serverDn, serverDn)) return &replica;
  return nullptr;
}

bool ExtOpDouble::RootMasterIs(const std::string& serverDn) const {
  const RootReplica* replica = RootReplicaOn(serverDn);
  return replica && replica->type == RT_MASTER;
}

ExtendedAnswer ExtOpDouble::Answer(const std::string& requestName, std::string_view value,
                                   const std::string& connectedServer) {
  std::lock_guard serving(serving_);
  const RequestForm* form = FormOf(requestName);
  int failure = 0;
  {
    std::lock_guard lock(mutex_);
    requests_.push_back({requestName, std::string(value), connectedServer});
    if (auto found = form ? failures_.find(form->number) : failures_.end(); found != failures_.end()) {
      failure = found->second;
      failures_.erase(found);
    }
  }
  std::vector<Field> f;
  if (!form || !DecodeFields(value, form->fields, f)) return NdsError(ERR_INVALID_REQUEST);
  if (failure) return NdsError(failure);
  LDAP* ld = Directory();
  if (!ld) return NdsError(ERR_UNREACHABLE_SERVER);

  Ring ring;
  nw::Value pointer;
  std::string response;  // the list and information requests answer a value
  auto delay = [](const Field& field) { return std::min<std::uint32_t>(field.number, 86400 * 7); };
  switch (form->number) {
    case ldap::kSyncSchemaOp: {  // serverName, delay
      if (int code = FindServer(ld, f[0].dn)) return NdsError(code);
      Schedule(delay(f[1]), [this, key = nw::UpperAscii(f[0].dn)] {
        std::lock_guard lock(mutex_);
        schemaSyncs_[key] = Now();
      });
      break;
    }
    case ldap::kSyncPartitionOp: {  // serverName, partitionRoot, delay
      if (int code = FindServer(ld, f[0].dn)) return NdsError(code);
      if (int code = FindRing(ld, f[1].dn, ring)) return NdsError(code);
      if (int code = FindReplica(ring, f[0].dn, pointer)) return NdsError(code);
      Schedule(delay(f[2]), [this, dn = f[1].dn] {
        Ring due;
        LDAP* directory = Directory();
        if (!directory || FindRing(directory, dn, due) != 0) return;
        MarkInSync(due, 0, Now());
        WriteRing(directory, due);
      });
      break;
    }
    case ldap::kSendAllUpdatesOp:     // partitionRoot, originServer (not used: the server reached sends)
    case ldap::kReceiveAllUpdatesOp:  // partitionRoot, toServer (not used: the server reached receives), fromServer
    case ldap::kRemoveReplicaOp: {    // flags, serverName, partitionRoot
      const bool remove = form->number == ldap::kRemoveReplicaOp;
      const std::string& partition = remove ? f[2].dn : f[0].dn;
      const std::string& server = remove || connectedServer.empty() ? f[1].dn : connectedServer;
      if (int code = FindRing(ld, partition, ring)) return NdsError(code);
      if (int code = FindServer(ld, server)) return NdsError(code);
      if (int code = FindReplica(ring, server, pointer)) return NdsError(code);
      if (form->number == ldap::kSendAllUpdatesOp) {
        // A subordinate reference holds only the root object: it has nothing to send.
        if (pointer.number == RT_SUBREF) return NdsError(ERR_ILLEGAL_REPLICA_TYPE);
        MarkInSync(ring, 0, Now());
      } else if (form->number == ldap::kReceiveAllUpdatesOp) {
        // The master is where the updates come from.
        if (pointer.number == RT_MASTER) return NdsError(ERR_ILLEGAL_REPLICA_TYPE);
        MarkInSync(ring, pointer.number2, Now());
      } else {
        if (pointer.number == RT_MASTER) return NdsError(ERR_CRUCIAL_REPLICA);
        if (pointer.number == RT_SUBREF) return NdsError(ERR_ILLEGAL_REPLICA_TYPE);
        DropReplica(ring, pointer.number2);
      }
      if (!WriteRing(ld, ring)) return NdsError(ERR_SYSTEM_FAILURE);
      break;
    }
    case ldap::kJoinPartitionsOp: {  // flags, childPartitionRoot
      if (int code = FindRing(ld, f[1].dn, ring)) return NdsError(code);
      Ring parent;
      const bool hasParent = ParentRing(ld, ring.dn, parent);
      // Carried out by the server that holds the parent partition's master.
      if (!connectedServer.empty() && !(hasParent ? HoldsMaster(parent, connectedServer) : RootMasterIs(connectedServer)))
        return NdsError(ERR_INVALID_REQUEST);
      if (hasParent) {
        MergeRings(parent, ring, Now());
        if (!WriteRing(ld, parent)) return NdsError(ERR_SYSTEM_FAILURE);
      }
      for (Values& values : ring.values) values.clear();
      if (!WriteRing(ld, ring, false)) return NdsError(ERR_SYSTEM_FAILURE);
      break;
    }
    case ldap::kAddReplicaOp:           // flags, replicaType, serverName, partitionRoot
    case ldap::kChangeReplicaTypeOp: {  // flags, replicaType, serverName, partitionRoot
      const bool add = form->number == ldap::kAddReplicaOp;
      const std::uint32_t type = f[1].number;
      if (int code = FindRing(ld, f[3].dn, ring)) return NdsError(code);
      if (int code = FindServer(ld, f[2].dn)) return NdsError(code);
      // The ring's master carries out every change of the ring.
      if (!connectedServer.empty() && !HoldsMaster(ring, connectedServer)) return NdsError(ERR_INVALID_REQUEST);
      const int held = FindReplica(ring, f[2].dn, pointer);
      if (add) {
        if (type != RT_SECONDARY && type != RT_READONLY) return NdsError(ERR_ILLEGAL_REPLICA_TYPE);
        if (held == 0 && pointer.number != RT_SUBREF) return NdsError(ERR_REPLICA_ALREADY_EXISTS);
        if (held == 0) DropReplica(ring, pointer.number2);  // the reference becomes the replica
        pointer.text = f[2].dn;
        pointer.number = type;
        pointer.state = RS_NEW_REPLICA;
        AddReplica(ring, pointer, 0);  // nothing received yet
        // The new replica is on once the master has sent it the partition.
        Schedule(settleSeconds_, [this, dn = ring.dn] {
          Ring due;
          LDAP* directory = Directory();
          if (!directory || FindRing(directory, dn, due) != 0) return;
          ChangePointers(due, [](nw::Value& p) { if (p.state == RS_NEW_REPLICA) p.state = kReplicaOn; });
          WriteRing(directory, due);
        });
      } else {
        if (held) return NdsError(held);
        if (type != RT_MASTER && type != RT_SECONDARY && type != RT_READONLY) return NdsError(ERR_ILLEGAL_REPLICA_TYPE);
        if (pointer.number == RT_SUBREF) return NdsError(ERR_ILLEGAL_REPLICA_TYPE);
        if (pointer.number == RT_MASTER && type != RT_MASTER) return NdsError(ERR_CRUCIAL_REPLICA);
        if (RingBusy(ring)) return NdsError(ERR_PARTITION_BUSY);
        const std::uint32_t number = pointer.number2;
        ChangePointers(ring, [&](nw::Value& p) {
          if (p.number2 == number)
            p.number = type;
          else if (type == RT_MASTER && p.number == RT_MASTER)
            p.number = RT_SECONDARY;  // the old master
        });
      }
      if (!WriteRing(ld, ring)) return NdsError(ERR_SYSTEM_FAILURE);
      break;
    }
    case ldap::kSplitPartitionOp: {  // flags, container
      std::vector<Entry> found;
      Search(ld, f[1].dn, LDAP_SCOPE_BASE, "(objectClass=*)", {"objectClass"}, found);
      if (found.empty()) return NdsError(ERR_NO_SUCH_ENTRY);
      if (HasClass(found.front(), kPartitionClass)) return NdsError(ERR_PARTITION_ALREADY_EXISTS);
      if (!HasClass(found.front(), "organizationalUnit") && !HasClass(found.front(), "organization") &&
          !HasClass(found.front(), "country") && !HasClass(found.front(), "locality"))
        return NdsError(ERR_ENTRY_NOT_CONTAINER);
      Ring parent;
      std::vector<std::pair<std::string, std::uint32_t>> holders;  // server DN, type
      if (ParentRing(ld, f[1].dn, parent)) {
        if (!connectedServer.empty() && !HoldsMaster(parent, connectedServer)) return NdsError(ERR_INVALID_REQUEST);
        if (RingBusy(parent)) return NdsError(ERR_PARTITION_BUSY);
        for (const std::string& bytes : parent.values[kReplicaValues]) {
          const nw::Value held = ldap::DecodeValue(SYN_REPLICA_POINTER, bytes);
          if (!held.malformed && held.number != RT_SUBREF) holders.emplace_back(held.text, held.number);
        }
      } else {
        if (!connectedServer.empty() && !RootMasterIs(connectedServer)) return NdsError(ERR_INVALID_REQUEST);
        for (const RootReplica& replica : rootRing_)
          if (replica.type != RT_SUBREF) holders.emplace_back(replica.serverDn, replica.type);
      }
      // The container's ring: a replica on each server of the parent's, of the same type,
      // in the split state until the split is done.
      Ring split;
      split.dn = f[1].dn;
      for (const auto& [serverDn, type] : holders) {
        nw::Value held;
        held.text = serverDn;
        held.number = type;
        held.state = RS_SS_1;
        AddReplica(split, held, Now());
      }
      if (!Modify(ld, split.dn, {{LDAP_MOD_ADD, "objectClass", {kPartitionClass}}}) || !WriteRing(ld, split))
        return NdsError(ERR_SYSTEM_FAILURE);
      Schedule(settleSeconds_, [this, dn = split.dn] {
        Ring due;
        LDAP* directory = Directory();
        if (!directory || FindRing(directory, dn, due) != 0) return;
        ChangePointers(due, [](nw::Value& p) { p.state = kReplicaOn; });
        WriteRing(directory, due);
      });
      break;
    }
    case ldap::kAbortPartitionOperationOp: {  // flags, partitionRoot
      if (int code = FindRing(ld, f[1].dn, ring)) return NdsError(code);
      if (!connectedServer.empty() && !HoldsMaster(ring, connectedServer)) return NdsError(ERR_INVALID_REQUEST);
      if (!RingBusy(ring)) return NdsError(ERR_INVALID_REQUEST);  // nothing under way
      ChangePointers(ring, [](nw::Value& p) { p.state = kReplicaOn; });
      if (!WriteRing(ld, ring)) return NdsError(ERR_SYSTEM_FAILURE);
      break;
    }
    case ldap::kPartitionEntryCountOp: {  // partitionRoot -> count
      if (int code = FindRing(ld, f[0].dn, ring)) return NdsError(code);
      std::vector<Entry> entries, roots;
      Search(ld, f[0].dn, LDAP_SCOPE_SUBTREE, "(objectClass=*)", {"1.1"}, entries);
      Search(ld, f[0].dn, LDAP_SCOPE_SUBTREE, "(objectClass=" + std::string(kPartitionClass) + ")", {"1.1"}, roots);
      // An entry belongs to a partition below when one of the other roots is at or above it.
      const auto below = [&](const std::string& dn) {
        ldap::Dn name;
        if (!ldap::ParseDn(dn, name)) return false;
        for (const Entry& root : roots) {
          ldap::Dn rootName;
          if (SameName(root.dn, f[0].dn) || !ldap::ParseDn(root.dn, rootName) || rootName.size() > name.size()) continue;
          if (ldap::SameDn(ldap::Dn(name.end() - static_cast<std::ptrdiff_t>(rootName.size()), name.end()), rootName))
            return true;
        }
        return false;
      };
      const auto count = std::count_if(entries.begin(), entries.end(), [&](const Entry& e) { return !below(e.dn); });
      response = ldap::BerWriter().Integer(static_cast<std::int64_t>(count)).Bytes();
      break;
    }
    case ldap::kListReplicasOp: {  // serverName -> SEQUENCE OF partition DNs
      if (int code = FindServer(ld, f[0].dn)) return NdsError(code);
      std::vector<Entry> roots;
      Search(ld, "", LDAP_SCOPE_SUBTREE, "(Replica=*)", {"Replica"}, roots);
      ldap::BerWriter list;
      if (RootReplicaOn(f[0].dn)) list.OctetString("");  // [Root]
      for (const Entry& root : roots) {
        ring.values[kReplicaValues] = root.Of("replica");
        if (FindReplica(ring, f[0].dn, pointer) == 0) list.OctetString(root.dn);
      }
      response = ldap::BerWriter().Sequence(list).Bytes();
      break;
    }
    case ldap::kReplicaInfoOp: {  // serverName, partitionRoot -> the replica's information
      if (int code = FindServer(ld, f[0].dn)) return NdsError(code);
      if (f[1].dn.empty()) {  // [Root]
        const RootReplica* replica = RootReplicaOn(f[0].dn);
        if (!replica) return NdsError(ERR_REPLICA_NOT_ON);
        response = ReplicaInfo(0, kReplicaOn, 0, "", replica->type);
        break;
      }
      if (int code = FindRing(ld, f[1].dn, ring)) return NdsError(code);
      if (int code = FindReplica(ring, f[0].dn, pointer)) return NdsError(code);
      std::uint32_t modified = 0;
      for (const std::string& status : ring.values[kStatusValues])
        if (status.size() >= 16 && U32At(status, 12) == pointer.number2) modified = U32At(status, 8);
      // The partition ID: the replica's number stands in.
      response = ReplicaInfo(pointer.number2, ReplicaState(ring, pointer.number2), modified, f[1].dn, pointer.number);
      break;
    }
  }
  return {LDAP_SUCCESS, "", ldap::ExtOpName(form->number + 1), response};
}

}  // namespace vestrel::testbed
