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
#include "tools/ldap-testbed/LdapWire.h"

namespace vestrel::testbed {

namespace {

using wire::MessageSize;

constexpr std::uint8_t kRequestName = 0x80;
constexpr std::uint8_t kRequestValue = 0x81;

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

struct ExtendedCall {
  std::int64_t id = 0;
  std::string name;
  std::string value;
};

std::uint8_t OperationTag(std::string_view message) {
  wire::Request request;
  return wire::ParseRequest(message, request) ? request.operation : 0;
}

// An ExtendedRequest: SEQUENCE { messageID, [APPLICATION 23] { [0] name, [1] value OPTIONAL } }.
bool ParseExtendedRequest(std::string_view message, ExtendedCall& call) {
  wire::Request request;
  if (!wire::ParseRequest(message, request) || request.operation != wire::kExtendedRequest) return false;
  nw::ldap::BerReader fields(request.body);
  std::string_view name, value;
  if (!fields.Element(kRequestName, name)) return false;
  fields.Element(kRequestValue, value);
  call.id = request.id;
  call.name.assign(name);
  call.value.assign(value);
  return true;
}

std::string ExtendedResponse(std::int64_t id, const ExtendedAnswer& answer) {
  return wire::ExtendedResponse(id, answer.result, answer.diagnostic, answer.name, answer.value);
}

// Passes on the client's complete messages, each after the delay: eDirectory's extended
// requests to the double when there is one, everything else to the server. False when
// the link must close.
bool PassClientMessages(Link& link, int delayMs, ExtOpDouble* operations, const std::string& server) {
  for (std::size_t size; MessageSize(link.fromClient, size);) {
    if (size == 0) return true;
    const std::string message = link.fromClient.substr(0, size);
    link.fromClient.erase(0, size);
    if (delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    ExtendedCall call;
    if (operations && ParseExtendedRequest(message, call) && ExtOpDouble::Answers(call.name)) {
      const std::string response = ExtendedResponse(call.id, operations->Answer(call.name, call.value, server));
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

LdapProxy::LdapProxy(int upstreamPort, ExtOpDouble* operations, std::string server)
    : upstreamPort_(upstreamPort), operations_(operations), server_(std::move(server)) {
  int port = 0;
  listener_ = wire::ListenOnLoopback(port);
  if (listener_ < 0 || pipe(wake_) != 0) return;
  port_ = port;
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
          if (!PassClientMessages(link, delayMs_, operations_, server_)) {
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
          if (OperationTag(message) == wire::kSearchResultEntry && entriesLeft_ >= 0 && entriesLeft_-- == 0) {
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
