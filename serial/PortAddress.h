#pragma once

#include <cstdint>
#include <string>

// Where a port is: a device path (/dev/ttyUSB0, a pseudo-terminal, any
// /dev/serial/by-id link), raw bytes over TCP (tcp://HOST:PORT) or telnet with
// the serial-port options of RFC 2217 (rfc2217://HOST:PORT). Every program
// reads its port text through ParsePortAddress, so all accept the same forms.
struct PortAddress {
  enum class Kind { Device, Tcp, Rfc2217 };

  Kind kind = Kind::Device;
  std::string path;  // Device: the path as given
  std::string host;  // Tcp, Rfc2217: a name or an address, IPv6 without its brackets
  uint16_t port = 0;

  bool IsNetwork() const { return kind != Kind::Device; }
  // The text the address was parsed from, in its canonical form.
  std::string ToString() const;
};

// Parses a port text. Anything without "://" is a device path. False, with a
// reason fit for the user in `error`, for an empty text, an unknown scheme or
// a malformed host or port.
bool ParsePortAddress(const std::string& text, PortAddress& address, std::string& error);
