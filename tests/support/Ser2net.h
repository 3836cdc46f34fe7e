#pragma once

// A real ser2net serving one serial device (a pseudo-terminal, lds-sim's link)
// on 127.0.0.1, as on a robot: a generated configuration in a folder of the
// test's, a free port, and ser2net in the foreground as a child process that
// the test can kill and start again on the same port.
//
//   Ser2net server(dir, simLink, Ser2net::Accepter::Rfc2217);
//   protocol.Connect(server.Address(), 230400);   // rfc2217://127.0.0.1:PORT
//   server.Kill();  ...  server.Start();
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>

#include "tests/support/ChildProcess.h"

class Ser2net {
 public:
  // Raw: tcp:// clients. Rfc2217: telnet with COM-PORT-OPTION. Telnet: telnet
  // without it, a server that refuses RFC 2217.
  enum class Accepter { Raw, Rfc2217, Telnet };

  Ser2net(const std::string& dir, const std::string& device, Accepter accepter)
      : accepter_(accepter),
        port_(FreePort()),
        config_(dir + "/ser2net-" + std::to_string(port_) + ".yaml"),
        pidFile_(dir + "/ser2net-" + std::to_string(port_) + ".pid") {
    const char* stack = accepter == Accepter::Raw       ? "tcp"
                        : accepter == Accepter::Rfc2217 ? "telnet(rfc2217),tcp"
                                                        : "telnet,tcp";
    std::ofstream(config_) << "%YAML 1.1\n---\nconnection: &sensor\n  accepter: " << stack << ",127.0.0.1," << port_
                           << "\n  connector: serialdev," << device << ",230400n81,local\n";
    Start();
  }

  // "tcp://127.0.0.1:PORT" or "rfc2217://127.0.0.1:PORT", as the accepter takes it.
  std::string Address() const {
    return std::string(accepter_ == Accepter::Raw ? "tcp" : "rfc2217") + "://127.0.0.1:" + std::to_string(port_);
  }
  uint16_t Port() const { return port_; }

  // A port that nothing uses now on 127.0.0.1: one that refuses connections.
  static uint16_t FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0)
      throw std::runtime_error("no free port on 127.0.0.1");
    close(fd);
    return ntohs(address.sin_port);
  }

  // Starts ser2net (again) and waits until it listens.
  void Start() {
    child_.reset();
    child_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"/usr/sbin/ser2net", "-n", "-d", "-u", "-c", config_, "-P", pidFile_});
    if (!WaitFor([this] { return Listening(); }, std::chrono::seconds(10)))
      throw std::runtime_error("ser2net did not listen on 127.0.0.1:" + std::to_string(port_) + ": " + child_->Err() +
                               child_->Out());
  }
  // Ends ser2net as its service manager would.
  void Stop() {
    child_->Signal(SIGTERM);
    child_->Wait();
  }
  // Ends ser2net at once, as a crash or a power cut on the robot would: the
  // kernel closes its connections.
  void Kill() {
    child_->Signal(SIGKILL);
    child_->Wait();
  }

 private:
  // Read from the kernel's socket table, so that no test connection disturbs
  // ser2net: 0100007F is 127.0.0.1, state 0A is LISTEN.
  bool Listening() const {
    std::istringstream table(ReadFile("/proc/net/tcp"));
    char wanted[32];
    std::snprintf(wanted, sizeof wanted, "0100007F:%04X", port_);
    for (std::string line; std::getline(table, line);) {
      std::istringstream fields(line);
      std::string slot, local, remote, state;
      fields >> slot >> local >> remote >> state;
      if (local == wanted && state == "0A") return true;
    }
    return false;
  }

  Accepter accepter_;
  uint16_t port_;
  std::string config_, pidFile_;
  std::unique_ptr<ChildProcess> child_;
};
