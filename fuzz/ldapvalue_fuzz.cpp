// Values as an LDAP server sends them, through the whole way to their text: the first
// byte picks the syntax (its low five bits), the rest is the value. The value is decoded
// by the LDAP codec, its names parsed as DNs, its record written into memory of exactly
// the reported size and formatted as the program shows it. The same bytes also go
// through the replica list and replica info responses.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "directory/D_NW_Format.h"
#include "platform/nwclient/Engine.h"
#include "platform/nwclient/ldap/LdapExtOps.h"
#include "platform/nwclient/ldap/LdapNames.h"
#include "platform/nwclient/ldap/LdapValues.h"
#include "util/D_Util.h"
#include "util/TextList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vestrel;
  if (size < 1) return 0;
  nuint32 syntax = data[0] % 32;
  if (syntax == SYN_STREAM) syntax = SYN_OCTET_STRING;  // streams are read through a handle
  const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);

  nw::Attribute attr{"Partition Status", syntax, {nw::ldap::DecodeValue(syntax, bytes)}};
  nw::ldap::Dn dn;
  nw::ldap::ParseDn(attr.values.front().text, dn);
  nw::ldap::TypelessName(dn);
  const std::size_t valueSize = nw::ValueSize(attr, attr.values.front());
  std::unique_ptr<std::uint8_t[]> memory(new std::uint8_t[valueSize + 1]);
  nw::WriteValue(attr, attr.values.front(), memory.get());
  TextList lines;
  try {
    FormatAttrValue(0, "obj", attr.name, lines, memory.get(), valueSize, syntax, 1);
  } catch (const RangeCheckError&) {
    // How the reader shows a value that cannot be decoded.
  }

  std::vector<std::string> partitions;
  nw::ldap::ParseListReplicasResponse(bytes, partitions);
  nw::ldap::ReplicaInfo info;
  nw::ldap::ParseReplicaInfoResponse(bytes, info);
  nuint32 count = 0;
  nw::ldap::ParsePartitionEntryCountResponse(bytes, count);
  return 0;
}
