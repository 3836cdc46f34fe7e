#include "serial/LinkError.h"

#include <boost/asio/error.hpp>

namespace {

class Category : public boost::system::error_category {
 public:
  const char* name() const noexcept override { return "lds-link"; }
  std::string message(int value) const override {
    switch (static_cast<LinkError>(value)) {
      case LinkError::Refused:
        return "connection refused";
      case LinkError::NoRoute:
        return "no route to host";
      case LinkError::TimedOut:
        return "timed out";
      case LinkError::NameNotFound:
        return "name not found";
      case LinkError::PeerClosed:
        return "the peer closed the connection";
      case LinkError::Reset:
        return "the connection was reset";
      case LinkError::Rfc2217Refused:
        return "the server refused RFC 2217 (COM-PORT-OPTION)";
      case LinkError::Rfc2217Silent:
        return "the server did not answer RFC 2217 (COM-PORT-OPTION); is it a raw tcp port?";
      case LinkError::BinaryRefused:
        return "the server refused binary transmission";
      case LinkError::BaudNotSet:
        return "the server did not set the baud rate asked for";
      case LinkError::TelnetError:
        return "the server broke the telnet protocol";
      case LinkError::PortInUse:
        return "port in use (Device or resource busy)";
    }
    return "network link error";
  }
};

}  // namespace

const boost::system::error_category& LinkCategory() {
  static const Category category;
  return category;
}

boost::system::error_code MakeLinkError(LinkError error) {
  return boost::system::error_code(static_cast<int>(error), LinkCategory());
}

boost::system::error_code NetworkReason(const boost::system::error_code& error) {
  namespace e = boost::asio::error;
  if (error == e::connection_refused) return MakeLinkError(LinkError::Refused);
  if (error == e::host_unreachable || error == e::network_unreachable) return MakeLinkError(LinkError::NoRoute);
  if (error == e::timed_out) return MakeLinkError(LinkError::TimedOut);
  if (error == e::eof || error == e::broken_pipe || error == e::not_connected)
    return MakeLinkError(LinkError::PeerClosed);
  if (error == e::connection_reset || error == e::connection_aborted) return MakeLinkError(LinkError::Reset);
  if (error == e::host_not_found || error == e::host_not_found_try_again || error == e::no_data)
    return MakeLinkError(LinkError::NameNotFound);
  return error;
}
