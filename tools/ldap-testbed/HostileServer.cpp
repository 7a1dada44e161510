#include "tools/ldap-testbed/HostileServer.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace vestrel::testbed {

namespace {

constexpr int kPollMs = 50;
constexpr std::size_t kLongestRequest = 1 << 20;

// Waits until fd is ready for events or the server stops; false when it stops.
bool WaitFor(int fd, short events, const std::atomic<bool>& stopping) {
  while (!stopping) {
    pollfd wait{fd, events, 0};
    if (poll(&wait, 1, kPollMs) > 0) return true;
  }
  return false;
}

}  // namespace

bool HostileConnection::Send(std::string_view bytes) {
  while (!bytes.empty()) {
    if (!WaitFor(fd_, POLLOUT, stopping_)) return false;
    const ssize_t sent = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

void HostileConnection::Hold() {
  char buffer[4096];
  while (WaitFor(fd_, POLLIN, stopping_))
    if (recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT) == 0) return;
}

std::string PoliteRootDse(std::int64_t id) {
  return wire::SearchEntry(id, "",
                           {{"supportedControl", {wire::kPagedResultsOid}},
                            {"directoryTreeName", {kHostileTree}},
                            {"currentTime", {"20240506080000Z"}}}) +
         wire::SearchDone(id);
}

HostileServer::HostileServer(HostileScript script) : script_(std::move(script)) {
  int port = 0;
  listener_ = wire::ListenOnLoopback(port);
  if (listener_ < 0) return;
  port_ = port;
  acceptor_ = std::thread([this] { Accept(); });
}

HostileServer::~HostileServer() { Stop(); }

void HostileServer::Stop() {
  stopping_ = true;
  if (acceptor_.joinable()) acceptor_.join();
  std::vector<std::thread> sessions;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    sessions.swap(sessions_);
  }
  for (std::thread& session : sessions) session.join();
  if (listener_ >= 0) close(listener_);
  listener_ = -1;
}

void HostileServer::Accept() {
  while (WaitFor(listener_, POLLIN, stopping_)) {
    const int fd = accept(listener_, nullptr, nullptr);
    if (fd < 0) continue;
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ++accepted_;
    std::lock_guard<std::mutex> lock(mutex_);
    sessions_.emplace_back([this, fd] { Serve(fd); });
  }
}

void HostileServer::Serve(int fd) {
  HostileConnection connection(fd, stopping_);
  std::string pending;
  char buffer[65536];
  while (WaitFor(fd, POLLIN, stopping_)) {
    const ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) break;
    if (n > 0) pending.append(buffer, static_cast<std::size_t>(n));
    std::size_t size = 0;
    bool open = true;
    while (open && wire::MessageSize(pending, size) && size > 0 && size <= kLongestRequest) {
      wire::Request request;
      const bool parsed = wire::ParseRequest(std::string_view(pending).substr(0, size), request);
      pending.erase(0, size);
      if (!parsed) {
        connection.Hold();  // bytes that are no LDAP (a TLS greeting): silence
        open = false;
      } else if (request.operation == wire::kUnbindRequest) {
        open = false;
      } else if (!script_(connection, request)) {
        if (request.operation == wire::kBindRequest)
          open = connection.Send(wire::BindResponse(request.id));
        else if (request.operation == wire::kSearchRequest && request.base.empty() && request.scope == 0)
          open = connection.Send(PoliteRootDse(request.id));
        else if (request.operation == wire::kSearchRequest)
          open = connection.Send(wire::SearchDone(request.id, 32));  // noSuchObject
        else if (request.operation == wire::kExtendedRequest)
          open = connection.Send(wire::ExtendedResponse(request.id, 2, "unsupported extended operation"));
      }
    }
    if (!open || size > kLongestRequest) break;
  }
  shutdown(fd, SHUT_RDWR);
  close(fd);
}

}  // namespace vestrel::testbed
