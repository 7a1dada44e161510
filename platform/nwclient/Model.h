// The embedded directory: trees of objects, servers, partitions with their replica
// rings, stream attributes and the schema, as loaded from a JSON tree file.
//
// The client library serves every operation from this model. The NDS values that a
// real server would keep ("Replica", "Partition Status", "Network Address", ...) are not
// stored: they are derived from the servers and partitions whenever they are read
// (DerivedAttributes), so an operation that changes a ring changes them at once.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "directory/NTypes.h"

namespace vestrel::nw {

// A tree file (or connections file) that cannot be used; what() names the file and the
// problem, e.g. "acme.json: objects[3].class: expected a text".
class LoadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

using Bytes = std::vector<std::uint8_t>;

// One attribute value in a neutral form; which fields a syntax uses:
//   1-5, 10, 20  text                        6      texts (list)
//   7            number (0/1)                8, 22, 27  number (signed, as u32)
//   9            bytes                       11     text (telephone number), bytes (fax bits)
//   12           number (address type), bytes (address)
//   13           octets (list of byte strings)
//   14           number (type), text (address)
//   15           number (name space), texts[0] volume, texts[1] path
//   16           text (server name), number (type), number2 (replica number), bytes (hint
//                address), number3 (hint address type), state (the replica's state)
//   17           texts[0] protected attribute, text (subject name), number (privileges)
//   18           texts (six lines)
//   19           number (seconds), number2 (replica number), number3 (event)
//   21           bytes (the stream's content)
//   23           number (remote id), text (object name)
//   24           number (seconds)
//   25           text (object name), number (level), number2 (interval)
//   26           text (object name), number (amount)
//   0, >= 28     bytes (the raw value)
// Names (syntaxes 1, 16, 17 subject, 23, 25, 26) are kept as full dotted names without
// types and leading dot; the library puts them into the context's name form.
// A value a directory server sent that could not be decoded is malformed: its value
// memory is one byte that no record of its syntax fits, which the program's value reader
// shows as "Range check error".
struct Value {
  std::string text;
  std::vector<std::string> texts;
  Bytes bytes;
  std::vector<Bytes> octets;
  nuint32 number = 0;
  nuint32 number2 = 0;
  nuint32 number3 = 0;
  nuint32 state = 0;
  bool malformed = false;
  // Value details (read with information type 3).
  nuint32 flags = 0;
  TimeStamp_T modTime{};
};

struct Attribute {
  std::string name;
  nuint32 syntax = 0;
  std::vector<Value> values;
};

// Naming types of name components ("CN=", "OU=", ...).
enum class NameType { CN, OU, O, C, L, S };
const char* NameTypeText(NameType type);  // "CN", "OU", ...
bool ParseNameType(const std::string& text, NameType& type);  // case-insensitive

struct Server;
struct Partition;

struct Object {
  std::string rdn;                 // relative name, without type
  NameType nameType = NameType::CN;
  std::string baseClass;
  std::vector<std::string> auxClasses;
  Object* parent = nullptr;        // nullptr only for [Root]
  std::vector<Object*> children;   // in file order
  std::vector<Attribute> attributes;  // raw attributes of the file
  nuint32 created = 0;             // directory times
  nuint32 modified = 0;
  std::string creator;             // full names of creator and last modifier (may be empty)
  std::string modifier;
  std::string aliasTarget;         // full name of the aliased object, empty if not an alias
  Server* server = nullptr;        // set when the object is an NCP server
  Partition* partition = nullptr;  // set when the object is a partition root

  bool IsRoot() const { return parent == nullptr; }
  bool IsAlias() const { return !aliasTarget.empty(); }
  std::string FullName() const;       // "admin.Sales.ACME"; "[Root]" for the root
  std::string TypedFullName() const;  // "CN=admin.OU=Sales.O=ACME"
  const Attribute* RawAttribute(const std::string& name) const;  // case-insensitive
};

struct NetAddress {
  nuint32 type = 0;
  Bytes address;
};

struct Server {
  Object* object = nullptr;
  std::string version;       // "Version"
  nuint32 dsRevision = 0;    // "DS Revision"
  std::vector<NetAddress> addresses;
  bool reachable = true;     // an unreachable server answers no request
};

struct Replica {
  Server* server = nullptr;
  nuint32 type = RT_MASTER;
  nuint32 number = 1;
  nuint32 state = RS_IN_SYNC;     // RS_LOCAL_ERROR, RS_REMOTE_ERROR, RS_IN_SYNC or other
  nuint32 ringState = RS_ON;      // RS_ON, RS_NEW_REPLICA, the split and join states, ...
  nuint32 lastSync = 0;           // directory time
  nuint32 event = 1;              // event counter shown in the vectors
  std::vector<NWRCODE> errors;    // sync errors; may hold more than 32
  NWRCODE statusError = 0;        // error code of "Partition Status"
};

struct Partition {
  Object* root = nullptr;
  std::vector<Replica> ring;
  const Replica* ReplicaOn(const Server* server) const;
  Replica* ReplicaOn(const Server* server);
};

class Tree {
 public:
  std::string name;          // "ACME_TREE"
  std::string file;          // where it was loaded from (or a label)
  nuint32 clock = 0;         // "clock" of the file: the engine clock's start, 0 = not given
  nuint32 partitionBatch = 3;  // partitions per DSServerPartitionsList reply
  std::string defaultCreator;  // full name used for creatorsName/modifiersName
  std::map<std::string, nuint32> schema;  // upper-case attribute name -> syntax id
  std::vector<std::unique_ptr<Server>> servers;
  std::vector<std::unique_ptr<Partition>> partitions;

  Tree();
  Tree(const Tree&) = delete;
  Tree& operator=(const Tree&) = delete;

  Object& Root() { return *root_; }
  const Object& Root() const { return *root_; }
  // Looks an object up by its full name (types and a leading dot allowed, case-insensitive).
  Object* Find(const std::string& fullName) const;
  // Creates an object below parent; throws LoadError when the name is taken.
  Object& AddObject(Object& parent, const std::string& rdn, NameType type, const std::string& baseClass);
  // Every object, parents before children, in file order (the root first).
  const std::vector<Object*>& Objects() const { return order_; }
  // Syntax of an attribute (built-in schema, then the file's); false when unknown.
  bool SyntaxOf(const std::string& attrName, nuint32& syntax) const;
  // The partition whose root holds obj or its nearest ancestor root.
  Partition* PartitionHolding(const Object& obj) const;
  // Rebuilds Object::partition after partitions were added or removed.
  void ReindexPartitions();
  Server* FindServer(const std::string& fullName) const;

 private:
  std::vector<std::unique_ptr<Object>> store_;
  std::vector<Object*> order_;
  std::unordered_map<std::string, Object*> index_;  // upper-case full name -> object
  Object* root_ = nullptr;
};

// ---- Names ----
// Splits "CN=a.OU=b" into components without types; returns false for an empty
// component. types receives each component's type when it had one (else nullptr entry
// semantics: hasType false).
struct NamePart {
  std::string text;
  bool hasType = false;
  NameType type = NameType::CN;
};
bool SplitName(const std::string& name, std::vector<NamePart>& parts);
std::string UpperAscii(std::string text);
bool EqualsNoCase(std::string_view a, std::string_view b);  // ASCII case ignored

// ---- Derived values ----
// Every attribute of an object as a read sees it: the raw attributes of the file, plus
// the values derived from the object's role (server, partition root, alias, class, name,
// creator), a raw attribute replacing a derived one of the same name.
std::vector<Attribute> EffectiveAttributes(const Tree& tree, const Object& obj);
// One attribute of EffectiveAttributes, or false.
bool FindEffectiveAttribute(const Tree& tree, const Object& obj, const std::string& name, Attribute& out);
// Object classes of a base class, most specific first, ending with "Top".
std::vector<std::string> ClassChain(const std::string& baseClass);

// Octet layouts of the derived replica values.
Bytes PartitionStatusOctets(const Replica& replica, bool firstValue);
Bytes VectorOctets(nuint32 a, nuint32 b, nuint32 c, const std::string& text);  // u32 x3, UTF-16 at 12
Bytes Utf16Le(const std::string& utf8, bool withTerminator);
// "cn=admin,ou=Sales,o=ACME"
std::string LdapName(const Tree& tree, const std::string& fullName);

// ---- Loading ----
// Parses a tree file's JSON text; label names the file in error messages.
std::unique_ptr<Tree> LoadTreeText(const std::string& text, const std::string& label);
std::unique_ptr<Tree> LoadTreeFile(const std::string& path);
// "2024-03-01T12:00:00Z" or a number of seconds -> directory time.
bool ParseDirTime(const std::string& text, nuint32& seconds);

}  // namespace vestrel::nw
