#include "tools/ldap-testbed/LdapProxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/nwclient/ldap/Ber.h"

namespace vestrel::testbed {

namespace {

constexpr std::uint8_t kSearchResultEntry = 0x64;

struct Link {
  int client = -1;
  int server = -1;
  std::string fromServer;  // bytes of a message not complete yet
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

// The size of the LDAP message at the start of bytes; 0 while it is not complete.
std::size_t MessageSize(const std::string& bytes) {
  if (bytes.size() < 2) return 0;
  std::size_t at = 1;
  std::size_t length = static_cast<std::uint8_t>(bytes[at++]);
  if (length & 0x80) {
    const std::size_t count = length & 0x7F;
    if (bytes.size() < at + count) return 0;
    length = 0;
    for (std::size_t i = 0; i < count; ++i) length = (length << 8) | static_cast<std::uint8_t>(bytes[at++]);
  }
  return bytes.size() >= at + length ? at + length : 0;
}

std::uint8_t OperationTag(std::string_view message) {
  nw::ldap::BerReader reader(message);
  nw::ldap::BerReader inner("");
  std::int64_t id = 0;
  std::uint8_t tag = 0;
  return reader.Sequence(inner) && inner.Integer(id) && inner.PeekTag(tag) ? tag : 0;
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

}  // namespace

LdapProxy::LdapProxy(int upstreamPort) : upstreamPort_(upstreamPort) {
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
    if (poll(fds.data(), fds.size(), -1) < 0) continue;
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
      const int client = accept(listener_, nullptr, nullptr);
      if (client >= 0) {
        ++accepted_;
        links.push_back({client, upstreamPort_ ? ConnectLoopback(upstreamPort_) : -1, {}});
      }
    }
    char buffer[65536];
    for (std::size_t i = 0; i < links.size() && 2 + 2 * i + 1 < fds.size(); ++i) {
      Link& link = links[i];
      const short fromClient = fds[2 + 2 * i].revents;
      const short fromServer = fds[2 + 2 * i + 1].revents;
      if (fromClient) {
        const ssize_t n = read(link.client, buffer, sizeof buffer);
        // Without a server the request is read and forgotten: nobody answers.
        if (n <= 0 || (link.server >= 0 && !SendAll(link.server, buffer, static_cast<std::size_t>(n)))) {
          CloseLink(link);
          continue;
        }
      }
      if (fromServer && link.server >= 0) {
        const ssize_t n = read(link.server, buffer, sizeof buffer);
        if (n <= 0) {
          CloseLink(link);
          continue;
        }
        link.fromServer.append(buffer, static_cast<std::size_t>(n));
        for (std::size_t size; (size = MessageSize(link.fromServer)) > 0;) {
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
