#include "serial/PortAddress.h"

#include <boost/asio/ip/address.hpp>
#include <cctype>

namespace {

bool ValidHostName(const std::string& host) {
  if (host.empty() || host.size() > 253) return false;
  for (char c : host)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '.' && c != '_') return false;
  return host.front() != '-' && host.front() != '.';
}

}  // namespace

std::string PortAddress::ToString() const {
  if (kind == Kind::Device) return path;
  const std::string scheme = kind == Kind::Tcp ? "tcp://" : "rfc2217://";
  const std::string shownHost = host.find(':') != std::string::npos ? "[" + host + "]" : host;
  return scheme + shownHost + ":" + std::to_string(port);
}

bool ParsePortAddress(const std::string& text, PortAddress& address, std::string& error) {
  address = PortAddress{};
  if (text.empty()) {
    error = "no port given";
    return false;
  }
  const size_t schemeEnd = text.find("://");
  if (schemeEnd == std::string::npos) {
    address.path = text;
    return true;
  }
  const std::string scheme = text.substr(0, schemeEnd);
  if (scheme == "tcp") {
    address.kind = PortAddress::Kind::Tcp;
  } else if (scheme == "rfc2217") {
    address.kind = PortAddress::Kind::Rfc2217;
  } else {
    error = "unknown kind of address \"" + scheme + "://\" in \"" + text + "\" (tcp:// or rfc2217://)";
    return false;
  }
  const std::string rest = text.substr(schemeEnd + 3);
  const std::string form = " in \"" + text + "\" (expected " + scheme + "://HOST:PORT)";

  size_t colon;
  if (!rest.empty() && rest.front() == '[') {
    const size_t close = rest.find(']');
    if (close == std::string::npos) {
      error = "unclosed [ around the IPv6 address" + form;
      return false;
    }
    address.host = rest.substr(1, close - 1);
    boost::system::error_code ec;
    const boost::asio::ip::address ip = boost::asio::ip::make_address(address.host, ec);
    if (ec || !ip.is_v6()) {
      error = "\"" + address.host + "\" is not an IPv6 address" + form;
      return false;
    }
    colon = close + 1;
    if (colon >= rest.size() || rest[colon] != ':') {
      error = "no port after the host" + form;
      return false;
    }
  } else {
    colon = rest.rfind(':');
    if (colon == std::string::npos) {
      error = "no port after the host" + form;
      return false;
    }
    address.host = rest.substr(0, colon);
    if (address.host.find(':') != std::string::npos) {
      error = "an IPv6 address goes in brackets, as [::1]" + form;
      return false;
    }
    if (address.host.empty()) {
      error = "no host" + form;
      return false;
    }
    if (!ValidHostName(address.host)) {
      error = "\"" + address.host + "\" is not a host name or address" + form;
      return false;
    }
  }
  const std::string portText = rest.substr(colon + 1);
  unsigned long port = 0;
  bool digits = !portText.empty() && portText.size() <= 5;
  for (char c : portText) digits = digits && std::isdigit(static_cast<unsigned char>(c));
  if (digits) port = std::stoul(portText);
  if (!digits || port == 0 || port > 65535) {
    error = "the port must be a number from 1 to 65535, not \"" + portText + "\"" + form;
    return false;
  }
  address.port = static_cast<uint16_t>(port);
  return true;
}
