#pragma once

#include <boost/system/error_code.hpp>
#include <string>

// Why a network link failed, in the short words the user reads after
// "连接设备失败！" or in a lost-link message. Their messages are the text.
enum class LinkError {
  Refused = 1,
  NoRoute,
  TimedOut,
  NameNotFound,
  PeerClosed,
  Reset,
  Rfc2217Refused,
  Rfc2217Silent,
  BinaryRefused,
  BaudNotSet,
  TelnetError,
  PortInUse,  // a serial device that another program holds
};

const boost::system::error_category& LinkCategory();
boost::system::error_code MakeLinkError(LinkError error);

// The reason of a failed socket operation in the same words ("connection
// refused", "the peer closed the connection"); a code without one of them
// keeps the system's text.
boost::system::error_code NetworkReason(const boost::system::error_code& error);
