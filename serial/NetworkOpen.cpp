// Opening a network link: the name is resolved, the socket connected and, for
// rfc2217://, the telnet options negotiated, all within one deadline and on
// the opening thread, before the I/O thread starts.
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <boost/asio/connect.hpp>
#include <boost/asio/write.hpp>
#include <boost/system/system_error.hpp>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstring>

#include "serial/AsyncSerial.h"
#include "serial/AsyncSerialImpl.h"
#include "serial/LinkError.h"
#include "serial/PortAddress.h"

namespace asio = boost::asio;
using boost::asio::ip::tcp;
using Clock = std::chrono::steady_clock;

namespace {

[[noreturn]] void Throw(LinkError error) { throw boost::system::system_error(MakeLinkError(error)); }
[[noreturn]] void Throw(const boost::system::error_code& error) {
  throw boost::system::system_error(NetworkReason(error));
}

// Names under .invalid never exist (RFC 6761); they are answered here, without
// asking a name server.
bool NeverExists(std::string host) {
  std::transform(host.begin(), host.end(), host.begin(), [](unsigned char c) { return std::tolower(c); });
  if (!host.empty() && host.back() == '.') host.pop_back();
  const std::string suffix = ".invalid";
  return host == "invalid" ||
         (host.size() > suffix.size() && host.compare(host.size() - suffix.size(), suffix.size(), suffix) == 0);
}

// The lookup runs on a thread of its own, so that a name server that does not
// answer cannot hold the open past its deadline; a lookup given up on ends in
// the background and frees what it shares.
std::vector<tcp::endpoint> Resolve(const std::string& host, uint16_t port, Clock::time_point deadline) {
  if (NeverExists(host)) Throw(LinkError::NameNotFound);
  struct Lookup {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    int status = 0;
    int systemError = 0;
    std::vector<tcp::endpoint> endpoints;
  };
  auto lookup = std::make_shared<Lookup>();
  std::thread([lookup, host, port] {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const int status = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    const int systemError = errno;
    std::vector<tcp::endpoint> endpoints;
    for (const addrinfo* a = found; status == 0 && a; a = a->ai_next) {
      if ((a->ai_family != AF_INET && a->ai_family != AF_INET6) || a->ai_addrlen > sizeof(sockaddr_in6)) continue;
      tcp::endpoint endpoint;
      std::memcpy(endpoint.data(), a->ai_addr, a->ai_addrlen);
      endpoints.push_back(endpoint);
    }
    if (found) freeaddrinfo(found);
    std::lock_guard<std::mutex> lock(lookup->mutex);
    lookup->status = status;
    lookup->systemError = systemError;
    lookup->endpoints = std::move(endpoints);
    lookup->finished = true;
    lookup->done.notify_all();
  }).detach();
  std::unique_lock<std::mutex> lock(lookup->mutex);
  if (!lookup->done.wait_until(lock, deadline, [&] { return lookup->finished; })) Throw(LinkError::TimedOut);
  if (lookup->status == EAI_SYSTEM)
    throw boost::system::system_error(lookup->systemError, boost::system::system_category());
  if (lookup->status != 0 || lookup->endpoints.empty()) Throw(LinkError::NameNotFound);
  return lookup->endpoints;
}

// Runs the context on this thread until `done` holds; false once the deadline
// has passed first.
bool RunUntil(asio::io_context& io, const std::function<bool()>& done, Clock::time_point deadline) {
  io.restart();
  while (!done()) {
    if (io.run_one_until(deadline) == 0) {
      if (Clock::now() >= deadline) return false;
      io.restart();
    }
  }
  return true;
}

// A peer that goes silent (a Wi-Fi link that fades) is noticed within 3 +
// 3 x 2 = 9 s when idle, and within 9 s when our bytes go unacknowledged.
void KeepAlive(int fd) {
  const int on = 1, idle = 3, interval = 2, count = 3;
  const unsigned userTimeoutMs = 9000;
  setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
  setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeoutMs, sizeof userTimeoutMs);
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);  // commands go out at once
}

}  // namespace

void AsyncSerial::openNetwork(const PortAddress& address, uint32_t baudRate) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kNetworkOpenTimeoutMs);
  tcp::socket& socket = pimpl->socket;
  asio::io_context& io = pimpl->ioService;
  // Whatever fails below leaves the socket closed and no handler pending.
  auto abandon = [&] {
    boost::system::error_code ignored;
    socket.close(ignored);
    pimpl->telnet.reset();
    io.restart();
    io.run();
    io.restart();
  };

  const std::vector<tcp::endpoint> endpoints = Resolve(address.host, address.port, deadline);
  boost::system::error_code result;
  bool connected = false;
  asio::async_connect(socket, endpoints, [&](const boost::system::error_code& error, const tcp::endpoint&) {
    result = error;
    connected = true;
  });
  if (!RunUntil(
          io, [&] { return connected; }, deadline)) {
    abandon();
    Throw(LinkError::TimedOut);
  }
  if (result) {
    abandon();
    Throw(result);
  }
  KeepAlive(socket.native_handle());

  if (address.kind == PortAddress::Kind::Rfc2217) {
    std::vector<char> opening;
    pimpl->telnet = std::make_unique<ComPortTelnet>(baudRate, opening);
    boost::system::error_code failure;
    asio::write(socket, asio::buffer(opening), failure);
    std::function<void()> readMore = [&] {
      socket.async_read_some(asio::buffer(pimpl->readBuffer, readSize),
                             [&](const boost::system::error_code& error, size_t n) {
                               if (error) {
                                 if (!failure) failure = error;
                                 return;
                               }
                               std::vector<char> reply;
                               pimpl->decoded.clear();
                               pimpl->telnet->Receive(pimpl->readBuffer, n, pimpl->decoded, reply);
                               if (!reply.empty()) asio::write(socket, asio::buffer(reply), failure);
                               deliver(pimpl->decoded.data(), pimpl->decoded.size());
                               if (!failure && pimpl->telnet->GetState() == ComPortTelnet::State::Negotiating)
                                 readMore();
                             });
    };
    if (!failure) readMore();
    const bool answered = RunUntil(
        io, [&] { return failure || pimpl->telnet->GetState() != ComPortTelnet::State::Negotiating; }, deadline);
    const ComPortTelnet::State state = pimpl->telnet->GetState();
    if (state == ComPortTelnet::State::Failed) {
      const LinkError reason = pimpl->telnet->Failure();
      abandon();
      Throw(reason);
    }
    if (failure) {
      abandon();
      Throw(failure);
    }
    if (!answered) {
      abandon();
      Throw(LinkError::Rfc2217Silent);
    }
  }
  io.restart();
}
