// A loopback proxy in front of an LDAP server, for tests of a link that goes wrong and of
// the requests slapd cannot answer: it forwards whole LDAP messages both ways and, when
// told, closes a connection in the middle of a search's answer or stops answering while
// keeping the connection open. With an extended-operation double, eDirectory's extended
// requests go to the double instead of the server. It may stand for a slow link: every
// message, either way, leaves half the link's delay after it came, in order, while the
// messages behind it are already on their way, so requests in flight overlap as on a real
// link.
// Without a server behind it, it accepts connections and never answers at all.
// It listens on 127.0.0.1 only and runs in a thread of its own.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

namespace vestrel::testbed {

class ExtOpDouble;

class LdapProxy {
 public:
  // upstreamPort: the server on 127.0.0.1 to forward to; 0: none (a server that never answers).
  // operations: answers eDirectory's extended requests (null: they go to the server too).
  // server: the DN of the directory server whose LDAP endpoint the proxy stands for; the
  // double acts on it ("" for none in particular).
  explicit LdapProxy(int upstreamPort, ExtOpDouble* operations = nullptr, std::string server = "");
  ~LdapProxy();
  LdapProxy(const LdapProxy&) = delete;
  LdapProxy& operator=(const LdapProxy&) = delete;

  bool Listening() const { return port_ > 0; }
  int Port() const { return port_; }
  std::string Url() const { return "ldap://127.0.0.1:" + std::to_string(port_); }

  // From now on, the connection that receives the next search entry after `entries` more
  // have passed is closed instead (-1: never).
  void CloseAfterEntries(int entries) { entriesLeft_ = entries; }
  // Closes every connection now, as a server does with connections that sat idle.
  void DropConnections() { drop_ = true; Wake(); }
  // From now on nothing the server sends reaches the client; the connections stay open.
  void StopAnswering(bool stop) { silent_ = stop; }
  // From now on the link adds this long to a request and its answer: each message, either
  // way, takes half of it.
  void DelayMessages(std::chrono::milliseconds delay) { delayUs_ = delay.count() * 1000; }
  // Connections accepted so far.
  int Accepted() const { return accepted_; }

 private:
  int upstreamPort_;
  ExtOpDouble* operations_;
  std::string server_;
  int listener_ = -1;
  int port_ = 0;
  int wake_[2] = {-1, -1};
  std::atomic<int> entriesLeft_{-1};
  std::atomic<bool> silent_{false};
  std::atomic<std::int64_t> delayUs_{0};
  std::atomic<int> accepted_{0};
  std::atomic<bool> drop_{false};
  std::atomic<bool> stop_{false};
  std::thread thread_;

  struct Link;  // a client's connection and the server's behind it
  void Run();
  void Wake();
  std::chrono::microseconds OneWay() const { return std::chrono::microseconds(delayUs_ / 2); }
  // Each false when the link must close.
  bool ReceiveFromClient(Link& link);
  bool ReceiveFromServer(Link& link);
  bool DeliverToServer(Link& link);
  bool DeliverToClient(Link& link);
};

}  // namespace vestrel::testbed
