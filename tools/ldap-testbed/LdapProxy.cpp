#include "tools/ldap-testbed/LdapProxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/nwclient/ldap/Ber.h"
#include "tools/ldap-testbed/ExtOpDouble.h"

namespace vestrel::testbed {

namespace {

namespace ldap = nw::ldap;

constexpr std::uint8_t kSearchResultEntry = 0x64;
constexpr std::uint8_t kExtendedRequest = 0x77;
constexpr std::uint8_t kExtendedResponse = 0x78;
constexpr std::uint8_t kEnumerated = 0x0A;
constexpr std::uint8_t kRequestName = 0x80;
constexpr std::uint8_t kRequestValue = 0x81;
constexpr std::uint8_t kResponseName = 0x8A;
constexpr std::uint8_t kResponseValue = 0x8B;

struct Link {
  int client = -1;
  int server = -1;
  std::string fromClient;  // bytes of a message not complete yet
  std::string fromServer;
};

void CloseLink(Link& link) {
  if (link.client >= 0) close(link.client);
  if (link.server >= 0) close(link.server);
  link.client = link.server = -1;
}

bool SendAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t sent = send(fd, data, size, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

// The size of the LDAP message at the start of bytes (0 while it is not complete); false
// when its length cannot be an LDAP message's.
bool MessageSize(const std::string& bytes, std::size_t& size) {
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

std::uint8_t OperationTag(std::string_view message) {
  ldap::BerReader reader(message);
  ldap::BerReader inner("");
  std::int64_t id = 0;
  std::uint8_t tag = 0;
  return reader.Sequence(inner) && inner.Integer(id) && inner.PeekTag(tag) ? tag : 0;
}

struct ExtendedCall {
  std::int64_t id = 0;
  std::string name;
  std::string value;
};

// An ExtendedRequest: SEQUENCE { messageID, [APPLICATION 23] { [0] name, [1] value OPTIONAL } }.
bool ParseExtendedRequest(std::string_view message, ExtendedCall& call) {
  ldap::BerReader reader(message);
  ldap::BerReader inner("");
  std::string_view operation, name, value;
  if (!reader.Sequence(inner) || !inner.Integer(call.id) || !inner.Element(kExtendedRequest, operation)) return false;
  ldap::BerReader fields(operation);
  if (!fields.Element(kRequestName, name)) return false;
  fields.Element(kRequestValue, value);
  call.name.assign(name);
  call.value.assign(value);
  return true;
}

// An ExtendedResponse: SEQUENCE { messageID, [APPLICATION 24] { resultCode, matchedDN,
// diagnosticMessage, [10] name OPTIONAL, [11] value OPTIONAL } }.
std::string ExtendedResponse(std::int64_t id, const ExtendedAnswer& answer) {
  ldap::BerWriter result;
  result.Element(kEnumerated, std::string(1, static_cast<char>(answer.result))).OctetString("").OctetString(answer.diagnostic);
  if (!answer.name.empty()) result.Element(kResponseName, answer.name);
  if (!answer.value.empty()) result.Element(kResponseValue, answer.value);
  return ldap::BerWriter().Sequence(ldap::BerWriter().Integer(id).Element(kExtendedResponse, result.Bytes())).Bytes();
}

// Passes on the client's complete messages, each after the delay: eDirectory's extended
// requests to the double when there is one, everything else to the server. False when
// the link must close.
bool PassClientMessages(Link& link, int delayMs, ExtOpDouble* operations) {
  for (std::size_t size; MessageSize(link.fromClient, size);) {
    if (size == 0) return true;
    const std::string message = link.fromClient.substr(0, size);
    link.fromClient.erase(0, size);
    if (delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    ExtendedCall call;
    if (operations && ParseExtendedRequest(message, call) && ExtOpDouble::Answers(call.name)) {
      const std::string response = ExtendedResponse(call.id, operations->Answer(call.name, call.value));
      if (!SendAll(link.client, response.data(), response.size())) return false;
    } else if (!SendAll(link.server, message.data(), message.size())) {
      return false;
    }
  }
  return false;  // no LDAP message is that long
}

// Each message goes out at once: the proxy writes whole messages, and waiting for the
// peer's acknowledgement of the last one would add its delayed-ack time to every request.
int NoDelay(int fd) {
  const int on = 1;
  if (fd >= 0) setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return fd;
}

int ConnectLoopback(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return NoDelay(fd);
  if (fd >= 0) close(fd);
  return -1;
}

}  // namespace

LdapProxy::LdapProxy(int upstreamPort, ExtOpDouble* operations)
    : upstreamPort_(upstreamPort), operations_(operations) {
  listener_ = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener_, 16) != 0 || getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      pipe(wake_) != 0)
    return;
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { Run(); });
}

void LdapProxy::Wake() {
  const char signal = 1;
  if (write(wake_[1], &signal, 1) != 1) {
    // The pipe is full: the thread wakes anyway.
  }
}

LdapProxy::~LdapProxy() {
  if (thread_.joinable()) {
    stop_ = true;
    Wake();
    thread_.join();
  }
  for (int fd : {listener_, wake_[0], wake_[1]})
    if (fd >= 0) close(fd);
}

void LdapProxy::Run() {
  std::vector<Link> links;
  while (true) {
    std::vector<pollfd> fds = {{wake_[0], POLLIN, 0}, {listener_, POLLIN, 0}};
    for (const Link& link : links) {
      fds.push_back({link.client, POLLIN, 0});
      fds.push_back({link.server, static_cast<short>(link.server >= 0 ? POLLIN : 0), 0});
    }
    // Scheduled operations of the double run when they fall due.
    const int timeout = operations_ ? operations_->RunDue() : -1;
    if (poll(fds.data(), fds.size(), timeout) < 0) continue;
    if (fds[0].revents) {
      char signals[64];
      if (read(wake_[0], signals, sizeof signals) < 0) continue;
      if (stop_) break;
      if (drop_.exchange(false)) {
        for (Link& link : links) CloseLink(link);
        links.clear();
      }
      continue;
    }
    if (fds[1].revents & POLLIN) {
      const int client = NoDelay(accept(listener_, nullptr, nullptr));
      if (client >= 0) {
        ++accepted_;
        links.push_back({client, upstreamPort_ ? ConnectLoopback(upstreamPort_) : -1, {}, {}});
      }
    }
    char buffer[65536];
    for (std::size_t i = 0; i < links.size() && 2 + 2 * i + 1 < fds.size(); ++i) {
      Link& link = links[i];
      const short fromClient = fds[2 + 2 * i].revents;
      const short fromServer = fds[2 + 2 * i + 1].revents;
      if (fromClient) {
        const ssize_t n = read(link.client, buffer, sizeof buffer);
        if (n <= 0) {
          CloseLink(link);
          continue;
        }
        // Without a server the request is read and forgotten: nobody answers.
        if (link.server >= 0) {
          link.fromClient.append(buffer, static_cast<std::size_t>(n));
          if (!PassClientMessages(link, delayMs_, operations_)) {
            CloseLink(link);
            continue;
          }
        }
      }
      if (fromServer && link.server >= 0) {
        const ssize_t n = read(link.server, buffer, sizeof buffer);
        if (n <= 0) {
          CloseLink(link);
          continue;
        }
        link.fromServer.append(buffer, static_cast<std::size_t>(n));
        for (std::size_t size; MessageSize(link.fromServer, size) && size > 0;) {
          const std::string message = link.fromServer.substr(0, size);
          link.fromServer.erase(0, size);
          if (silent_) continue;
          if (OperationTag(message) == kSearchResultEntry && entriesLeft_ >= 0 && entriesLeft_-- == 0) {
            CloseLink(link);
            break;
          }
          if (!SendAll(link.client, message.data(), message.size())) {
            CloseLink(link);
            break;
          }
        }
      }
    }
    std::erase_if(links, [](const Link& link) { return link.client < 0; });
  }
  for (Link& link : links) CloseLink(link);
}

}  // namespace vestrel::testbed
