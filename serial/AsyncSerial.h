#pragma once

#include <boost/asio/serial_port_base.hpp>
#include <boost/system/error_code.hpp>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class AsyncSerialImpl;
struct PortAddress;

// A serial port that reads and writes on a background I/O thread of its own.
// Reads are chained back to back; writes are queued and never block. The
// port may also be a serial device on another computer: raw bytes over TCP,
// or telnet with the serial-port options of RFC 2217 (see PortAddress).
class AsyncSerial {
 public:
  AsyncSerial();
  AsyncSerial(
      const std::string& devname, uint32_t baudRate,
      boost::asio::serial_port_base::parity opt_parity =
          boost::asio::serial_port_base::parity(boost::asio::serial_port_base::parity::none),
      boost::asio::serial_port_base::character_size opt_csize = boost::asio::serial_port_base::character_size(8),
      boost::asio::serial_port_base::flow_control opt_flow =
          boost::asio::serial_port_base::flow_control(boost::asio::serial_port_base::flow_control::none),
      boost::asio::serial_port_base::stop_bits opt_stop =
          boost::asio::serial_port_base::stop_bits(boost::asio::serial_port_base::stop_bits::one));
  AsyncSerial(const AsyncSerial&) = delete;
  AsyncSerial& operator=(const AsyncSerial&) = delete;
  virtual ~AsyncSerial() = 0;

  // Opens the port and starts the I/O thread; closes first if already open.
  // `devname` is any text ParsePortAddress takes. A device is opened for this
  // process alone: a second opener gets "Device or resource busy". A network
  // address is resolved, connected and (rfc2217://) negotiated within
  // kNetworkOpenTimeoutMs; the baud rate goes only to an RFC 2217 server, as
  // 8N1 without flow control, and the other options are not used.
  // Throws boost::system::system_error when the port or an option fails; for
  // a network address its code's message is the reason in the user's words
  // ("connection refused", "name not found", see LinkError).
  void open(const std::string& devname, uint32_t baudRate,
            boost::asio::serial_port_base::parity opt_parity =
                boost::asio::serial_port_base::parity(boost::asio::serial_port_base::parity::none),
            boost::asio::serial_port_base::character_size opt_csize = boost::asio::serial_port_base::character_size(8),
            boost::asio::serial_port_base::flow_control opt_flow =
                boost::asio::serial_port_base::flow_control(boost::asio::serial_port_base::flow_control::none),
            boost::asio::serial_port_base::stop_bits opt_stop =
                boost::asio::serial_port_base::stop_bits(boost::asio::serial_port_base::stop_bits::one));

  static constexpr int kNetworkOpenTimeoutMs = 5000;

  // True from a successful open until close, also after an I/O error.
  bool isOpen() const;
  // True once a read, write, cancel or close has failed.
  bool hasError() const;
  // Why the port failed: in the system's words for a device ("Input/output
  // error" when unplugged), in the user's words for a network link ("the peer
  // closed the connection"); empty while it has not failed. A network link
  // notices a silent peer within 10 s (TCP keep-alive).
  std::string errorText() const;

  // Queues the bytes; the I/O thread sends them in call order. Bytes written
  // while the port is closed are dropped.
  void write(const char* data, size_t size);

  // Stops the I/O and joins the I/O thread. Must not be called on that thread
  // (that is, not from inside the read callback). Harmless when not open.
  void close();

 protected:
  // The callback runs on the I/O thread with a pointer valid only during the
  // call. Installing or clearing it waits for a call in progress, so once
  // clearReadCallback has returned the old callback is never called again.
  void setReadCallback(const std::function<void(const char*, size_t)>& callback);
  void clearReadCallback();

 private:
  void openDevice(const std::string& devname, uint32_t baudRate, boost::asio::serial_port_base::parity opt_parity,
                  boost::asio::serial_port_base::character_size opt_csize,
                  boost::asio::serial_port_base::flow_control opt_flow,
                  boost::asio::serial_port_base::stop_bits opt_stop);
  void openNetwork(const PortAddress& address, uint32_t baudRate);  // in NetworkOpen.cpp
  void deliver(const char* data, size_t size);
  std::string reasonOf(const boost::system::error_code& error) const;
  void startRead();
  void onReadDone(const boost::system::error_code& error, size_t bytesTransferred);
  void startWrite();
  void onWriteDone(const boost::system::error_code& error);
  void startWriteLocked();
  void closePort();
  void setFailed(bool value, const std::string& reason = std::string());

  std::shared_ptr<AsyncSerialImpl> pimpl;
  static constexpr int readSize = 512;
};

// The serial port that hands every block of received bytes to a callback.
class CallbackAsyncSerial : public AsyncSerial {
 public:
  // Same constructors as the base: the one with a device opens it at once.
  using AsyncSerial::AsyncSerial;
  ~CallbackAsyncSerial() override;

  using AsyncSerial::clearReadCallback;
  using AsyncSerial::setReadCallback;
};
