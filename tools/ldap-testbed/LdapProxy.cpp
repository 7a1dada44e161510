#include "tools/ldap-testbed/LdapProxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <deque>
#include <string>
#include <vector>

#include "platform/nwclient/ldap/Ber.h"
#include "tools/ldap-testbed/ExtOpDouble.h"
#include "tools/ldap-testbed/LdapWire.h"

namespace vestrel::testbed {

namespace {

using wire::MessageSize;
using Clock = std::chrono::steady_clock;

// One direction of a link: messages leave in the order they came, each when it falls due.
class Lane {
 public:
  void Push(Clock::time_point due, std::string bytes) {
    // A delay shortened meanwhile never lets a message overtake the ones before it.
    if (!queue_.empty()) due = std::max(due, queue_.back().due);
    queue_.push_back({due, std::move(bytes)});
  }
  bool Empty() const { return queue_.empty(); }
  bool Due(Clock::time_point now) const { return !queue_.empty() && queue_.front().due <= now; }
  Clock::time_point NextDue() const { return queue_.front().due; }
  std::string Pop() {
    std::string bytes = std::move(queue_.front().bytes);
    queue_.pop_front();
    return bytes;
  }

 private:
  struct InFlight {
    Clock::time_point due;
    std::string bytes;
  };
  std::deque<InFlight> queue_;
};

}  // namespace

struct LdapProxy::Link {
  int client = -1;
  int server = -1;
  std::string fromClient;  // bytes of a message not complete yet
  std::string fromServer;
  Lane toServer;              // the client's messages on their way
  Lane toClient;              // the server's and the double's
  bool serverClosed = false;  // what it sent still arrives, then the link closes

  void Close() {
    if (client >= 0) close(client);
    if (server >= 0) close(server);
    client = server = -1;
  }
};

namespace {

constexpr std::uint8_t kRequestName = 0x80;
constexpr std::uint8_t kRequestValue = 0x81;

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

// Cuts the complete messages off the front of bytes into the lane, each due at `due`;
// false when bytes cannot be LDAP messages.
bool TakeMessages(std::string& bytes, Lane& lane, Clock::time_point due) {
  for (std::size_t size; MessageSize(bytes, size);) {
    if (size == 0) return true;
    lane.Push(due, bytes.substr(0, size));
    bytes.erase(0, size);
  }
  return false;  // no LDAP message is that long
}

// Reads what the socket has into bytes; false when the peer has gone.
bool ReadInto(int fd, std::string& bytes) {
  char buffer[65536];
  const ssize_t n = read(fd, buffer, sizeof buffer);
  if (n <= 0) return false;
  bytes.append(buffer, static_cast<std::size_t>(n));
  return true;
}

// Each message goes out at once: the proxy writes whole messages, and waiting for the
// peer's acknowledgement of the last one would add its delayed-ack time to every request.
int NoDelay(int fd) {
  const int on = 1;
  if (fd >= 0) setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return fd;
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

bool LdapProxy::DeliverToServer(Link& link) {
  while (link.toServer.Due(Clock::now())) {
    const std::string message = link.toServer.Pop();
    ExtendedCall call;
    if (operations_ && ParseExtendedRequest(message, call) && ExtOpDouble::Answers(call.name)) {
      // The double stands at the far end: its answer starts back when it is given.
      const std::string response = ExtendedResponse(call.id, operations_->Answer(call.name, call.value, server_));
      link.toClient.Push(Clock::now() + OneWay(), response);
    } else if (link.server >= 0 && !SendAll(link.server, message.data(), message.size())) {
      return false;
    }
  }
  return true;
}

bool LdapProxy::DeliverToClient(Link& link) {
  while (link.toClient.Due(Clock::now())) {
    const std::string message = link.toClient.Pop();
    if (silent_) continue;
    if (OperationTag(message) == wire::kSearchResultEntry && entriesLeft_ >= 0 && entriesLeft_-- == 0) return false;
    if (!SendAll(link.client, message.data(), message.size())) return false;
  }
  // A server that closed its end is gone once the client has what it sent before.
  return !(link.serverClosed && link.toClient.Empty());
}

bool LdapProxy::ReceiveFromClient(Link& link) {
  if (!ReadInto(link.client, link.fromClient)) return false;
  if (link.server < 0) {  // nobody behind the proxy: the request is read and forgotten
    link.fromClient.clear();
    return true;
  }
  return TakeMessages(link.fromClient, link.toServer, Clock::now() + OneWay());
}

bool LdapProxy::ReceiveFromServer(Link& link) {
  if (!ReadInto(link.server, link.fromServer)) {
    close(link.server);
    link.server = -1;
    link.serverClosed = true;
    return true;
  }
  return TakeMessages(link.fromServer, link.toClient, Clock::now() + OneWay());
}

namespace {

// The timeout for ppoll: null to wait for ever.
const timespec* Timeout(Clock::duration wait, timespec& timeout) {
  if (wait == Clock::duration::max()) return nullptr;
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
  timeout = {static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
  return &timeout;
}

}  // namespace

void LdapProxy::Run() {
  std::vector<Link> links;
  while (true) {
    std::vector<pollfd> fds = {{wake_[0], POLLIN, 0}, {listener_, POLLIN, 0}};
    for (const Link& link : links) {
      fds.push_back({link.client, POLLIN, 0});
      fds.push_back({link.server, POLLIN, 0});  // -1 once closed: poll passes it over
    }
    // Scheduled operations of the double run when they fall due; the wait ends then or
    // when the next message on its way falls due.
    const int scheduledMs = operations_ ? operations_->RunDue() : -1;
    Clock::duration wait =
        scheduledMs < 0 ? Clock::duration::max() : Clock::duration(std::chrono::milliseconds(scheduledMs));
    const Clock::time_point now = Clock::now();
    for (const Link& link : links)
      for (const Lane* lane : {&link.toServer, &link.toClient})
        if (!lane->Empty()) wait = std::min(wait, std::max(Clock::duration::zero(), lane->NextDue() - now));
    timespec timeout{};
    if (ppoll(fds.data(), fds.size(), Timeout(wait, timeout), nullptr) < 0) continue;
    if (fds[0].revents) {
      char signals[64];
      if (read(wake_[0], signals, sizeof signals) < 0) continue;
      if (stop_) break;
      if (drop_.exchange(false)) {
        for (Link& link : links) link.Close();
        links.clear();
      }
      continue;
    }
    if (fds[1].revents & POLLIN) {
      const int client = NoDelay(accept(listener_, nullptr, nullptr));
      if (client >= 0) {
        ++accepted_;
        Link& link = links.emplace_back();
        link.client = client;
        link.server = upstreamPort_ ? NoDelay(wire::ConnectLoopback(upstreamPort_)) : -1;
      }
    }
    for (std::size_t i = 0; i < links.size() && 2 + 2 * i + 1 < fds.size(); ++i) {
      Link& link = links[i];
      const bool open = (!fds[2 + 2 * i].revents || ReceiveFromClient(link)) &&
                        (!fds[2 + 2 * i + 1].revents || link.server < 0 || ReceiveFromServer(link));
      if (!open) link.Close();
    }
    for (Link& link : links)
      if (link.client >= 0 && !(DeliverToServer(link) && DeliverToClient(link))) link.Close();
    std::erase_if(links, [](const Link& link) { return link.client < 0; });
  }
  for (Link& link : links) link.Close();
}

}  // namespace vestrel::testbed
