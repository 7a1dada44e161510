#include "tools/ldap-testbed/LdapWire.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/nwclient/ldap/Ber.h"

namespace vestrel::testbed::wire {

namespace {

namespace ldap = nw::ldap;

constexpr std::uint8_t kEnumerated = 0x0A;
constexpr std::uint8_t kBoolean = 0x01;
constexpr std::uint8_t kSet = 0x31;
constexpr std::uint8_t kControls = 0xA0;
constexpr std::uint8_t kExtendedRequestName = 0x80;
constexpr std::uint8_t kExtendedResponseName = 0x8A;
constexpr std::uint8_t kExtendedResponseValue = 0x8B;

std::string Enumerated(int value) {
  return ldap::BerWriter().Element(kEnumerated, std::string(1, static_cast<char>(value))).Bytes();
}

// The cookie of a paged-results request control among the message's controls.
void ReadPagedControl(std::string_view controls, Request& request) {
  ldap::BerReader list(controls);
  ldap::BerReader control("");
  while (list.Sequence(control)) {
    std::string oid, value;
    std::string_view critical;
    if (!control.OctetString(oid) || oid != kPagedResultsOid) continue;
    control.Element(kBoolean, critical);
    ldap::BerReader fields("");
    std::int64_t size = 0;
    if (control.OctetString(value) && ldap::BerReader(value).Sequence(fields) && fields.Integer(size) &&
        fields.OctetString(request.cookie))
      request.paged = true;
  }
}

}  // namespace

int ListenOnLoopback(int& port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 16) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    if (fd >= 0) close(fd);
    return -1;
  }
  port = ntohs(address.sin_port);
  return fd;
}

int ConnectLoopback(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
  if (fd >= 0) close(fd);
  return -1;
}

bool MessageSize(std::string_view bytes, std::size_t& size) {
  size = 0;
  if (bytes.size() < 2) return true;
  std::size_t at = 1;
  std::size_t length = static_cast<std::uint8_t>(bytes[at++]);
  if (length & 0x80) {
    const std::size_t count = length & 0x7F;
    if (count == 0 || count > 4) return false;
    if (bytes.size() < at + count) return true;
    length = 0;
    for (std::size_t i = 0; i < count; ++i) length = (length << 8) | static_cast<std::uint8_t>(bytes[at++]);
  }
  if (bytes.size() >= at + length) size = at + length;
  return true;
}

bool ParseRequest(std::string_view message, Request& request) {
  ldap::BerReader reader(message);
  ldap::BerReader inner("");
  std::string_view body;
  if (!reader.Sequence(inner) || !inner.Integer(request.id) || !inner.PeekTag(request.operation)) return false;
  if (!inner.Element(request.operation, body)) return false;
  request.body.assign(body);
  std::string_view controls;
  if (inner.Element(kControls, controls)) ReadPagedControl(controls, request);
  if (request.operation == kSearchRequest) {
    ldap::BerReader fields(body);
    std::string_view scope;
    if (!fields.OctetString(request.base) || !fields.Element(kEnumerated, scope) || scope.size() != 1) return false;
    request.scope = static_cast<std::uint8_t>(scope[0]);
  } else if (request.operation == kExtendedRequest) {
    std::string_view name;
    if (ldap::BerReader(body).Element(kExtendedRequestName, name)) request.extendedName.assign(name);
  }
  return true;
}

std::string Message(std::int64_t id, std::uint8_t operation, std::string_view content, std::string_view controls) {
  ldap::BerWriter inner;
  inner.Integer(id).Element(operation, content);
  std::string bytes = inner.Bytes();
  bytes.append(controls);
  return ldap::BerWriter().Element(ldap::kBerSequence, bytes).Bytes();
}

std::string Result(int code, std::string_view diagnostic) {
  return Enumerated(code) + ldap::BerWriter().OctetString("").OctetString(diagnostic).Bytes();
}

std::string BindResponse(std::int64_t id, int code) { return Message(id, kBindResponse, Result(code)); }

std::string SearchEntry(std::int64_t id, std::string_view dn, const std::vector<Attribute>& attributes) {
  ldap::BerWriter list;
  for (const auto& [name, values] : attributes) {
    ldap::BerWriter set;
    for (const std::string& value : values) set.OctetString(value);
    list.Sequence(ldap::BerWriter().OctetString(name).Element(kSet, set.Bytes()));
  }
  return Message(id, kSearchResultEntry, ldap::BerWriter().OctetString(dn).Sequence(list).Bytes());
}

std::string SearchDone(std::int64_t id, int code, std::string_view controls, std::string_view diagnostic) {
  return Message(id, kSearchResultDone, Result(code, diagnostic), controls);
}

std::string ExtendedResponse(std::int64_t id, int code, std::string_view diagnostic, std::string_view name,
                             std::string_view value) {
  std::string content = Result(code, diagnostic);
  if (!name.empty()) content += ldap::BerWriter().Element(kExtendedResponseName, name).Bytes();
  if (!value.empty()) content += ldap::BerWriter().Element(kExtendedResponseValue, value).Bytes();
  return Message(id, kExtendedResponse, content);
}

std::string Controls(std::string_view oid, const std::string* value) {
  ldap::BerWriter control;
  control.OctetString(oid);
  if (value) control.OctetString(*value);
  return ldap::BerWriter().Element(kControls, ldap::BerWriter().Sequence(control).Bytes()).Bytes();
}

std::string PagedControls(std::string_view cookie) {
  const std::string value = ldap::BerWriter().Sequence(ldap::BerWriter().Integer(0).OctetString(cookie)).Bytes();
  return Controls(kPagedResultsOid, &value);
}

}  // namespace vestrel::testbed::wire
