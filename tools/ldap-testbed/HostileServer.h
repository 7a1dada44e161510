// A scripted LDAP server for tests of servers that misbehave: it listens on 127.0.0.1,
// gives each client connection a thread of its own and hands every complete request to
// the script, which answers with whatever bytes it likes, late, never, or without end.
// Requests the script leaves alone get a polite server's answer (a bind succeeds, the
// root DSE names the tree HOSTILE_TREE and offers paged results). It never speaks TLS:
// a client that starts TLS meets silence. Stopping it closes every connection and waits
// for their threads.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tools/ldap-testbed/LdapWire.h"

namespace vestrel::testbed {

inline constexpr const char* kHostileTree = "HOSTILE_TREE";

class HostileConnection {
 public:
  HostileConnection(int fd, const std::atomic<bool>& stopping) : fd_(fd), stopping_(stopping) {}
  // Sends bytes whole; false once the client has gone or the server stops.
  bool Send(std::string_view bytes);
  // Says nothing more until the client goes or the server stops.
  void Hold();
  bool Stopping() const { return stopping_; }

 private:
  int fd_;
  const std::atomic<bool>& stopping_;
};

// Answers one request; returns false to leave it to the polite answer.
using HostileScript = std::function<bool(HostileConnection& connection, const wire::Request& request)>;

// The polite server's root DSE entry and answers.
std::string PoliteRootDse(std::int64_t id);

class HostileServer {
 public:
  explicit HostileServer(HostileScript script);
  ~HostileServer();
  HostileServer(const HostileServer&) = delete;
  HostileServer& operator=(const HostileServer&) = delete;

  bool Listening() const { return port_ > 0; }
  int Port() const { return port_; }
  std::string Url() const { return "ldap://127.0.0.1:" + std::to_string(port_); }
  std::string TlsUrl() const { return "ldaps://127.0.0.1:" + std::to_string(port_); }
  int Accepted() const { return accepted_; }
  void Stop();

 private:
  HostileScript script_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> accepted_{0};
  std::thread acceptor_;
  std::mutex mutex_;
  std::vector<int> clients_;
  std::vector<std::thread> sessions_;

  void Accept();
  void Serve(int fd);
};

}  // namespace vestrel::testbed
