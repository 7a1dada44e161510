// LDAP messages as bytes on the wire, for the test bed's servers: where one message ends
// in a stream, what a client's request holds, and the responses a server sends. Written
// from RFC 4511 with the client library's BER reader and writer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vestrel::testbed::wire {

// Protocol operation tags ([APPLICATION n]).
constexpr std::uint8_t kBindRequest = 0x60;
constexpr std::uint8_t kBindResponse = 0x61;
constexpr std::uint8_t kUnbindRequest = 0x42;
constexpr std::uint8_t kSearchRequest = 0x63;
constexpr std::uint8_t kSearchResultEntry = 0x64;
constexpr std::uint8_t kSearchResultDone = 0x65;
constexpr std::uint8_t kSearchResultReference = 0x73;
constexpr std::uint8_t kAbandonRequest = 0x50;
constexpr std::uint8_t kExtendedRequest = 0x77;
constexpr std::uint8_t kExtendedResponse = 0x78;

constexpr const char* kPagedResultsOid = "1.2.840.113556.1.4.319";
constexpr const char* kStartTlsOid = "1.3.6.1.4.1.1466.20037";

// A socket listening on 127.0.0.1 at a free port (port receives it); -1 when it cannot.
int ListenOnLoopback(int& port);
// A connection to 127.0.0.1:port, or -1.
int ConnectLoopback(int port);

// The size of the LDAP message at the start of bytes (0 while it is not complete); false
// when its length cannot be an LDAP message's.
bool MessageSize(std::string_view bytes, std::size_t& size);

// What a client's message holds: its id, operation tag and the operation's content, and
// for searches the base, scope and the paged-results cookie when the request carries one.
struct Request {
  std::int64_t id = 0;
  std::uint8_t operation = 0;
  std::string body;
  std::string base;  // searches
  int scope = 0;     // searches: 0 base, 1 one level, 2 subtree
  bool paged = false;
  std::string cookie;  // the paged-results cookie sent
  std::string extendedName;  // extended requests
};
bool ParseRequest(std::string_view message, Request& request);

// An LDAPMessage: SEQUENCE { messageID, protocolOp [, controls [0]] }.
std::string Message(std::int64_t id, std::uint8_t operation, std::string_view content, std::string_view controls = {});
// LDAPResult fields: resultCode, matchedDN, diagnosticMessage.
std::string Result(int code, std::string_view diagnostic = {});

using Attribute = std::pair<std::string, std::vector<std::string>>;
std::string BindResponse(std::int64_t id, int code = 0);
std::string SearchEntry(std::int64_t id, std::string_view dn, const std::vector<Attribute>& attributes);
std::string SearchDone(std::int64_t id, int code = 0, std::string_view controls = {}, std::string_view diagnostic = {});
std::string ExtendedResponse(std::int64_t id, int code, std::string_view diagnostic, std::string_view name = {},
                             std::string_view value = {});
// Controls [0] holding one control; without a value when value is null.
std::string Controls(std::string_view oid, const std::string* value);
// The paged-results response control: SEQUENCE { size INTEGER, cookie OCTET STRING }.
std::string PagedControls(std::string_view cookie);

}  // namespace vestrel::testbed::wire
