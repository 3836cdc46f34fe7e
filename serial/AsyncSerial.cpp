#include "serial/AsyncSerial.h"

#include <sys/file.h>
#include <sys/ioctl.h>

#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>
#include <boost/system/system_error.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "serial/AsyncSerialImpl.h"
#include "serial/LinkError.h"
#include "serial/PortAddress.h"

namespace asio = boost::asio;

AsyncSerial::AsyncSerial() : pimpl(std::make_shared<AsyncSerialImpl>()) {}

AsyncSerial::AsyncSerial(const std::string& devname, uint32_t baudRate, asio::serial_port_base::parity opt_parity,
                         asio::serial_port_base::character_size opt_csize,
                         asio::serial_port_base::flow_control opt_flow, asio::serial_port_base::stop_bits opt_stop)
    : pimpl(std::make_shared<AsyncSerialImpl>()) {
  open(devname, baudRate, opt_parity, opt_csize, opt_flow, opt_stop);
}

AsyncSerial::~AsyncSerial() {
  if (isOpen()) {
    try {
      close();
    } catch (...) {
      std::fputs("[error]: close() has error!\n", stdout);
      std::fflush(stdout);
    }
  }
}

void AsyncSerial::open(const std::string& devname, uint32_t baudRate, asio::serial_port_base::parity opt_parity,
                       asio::serial_port_base::character_size opt_csize, asio::serial_port_base::flow_control opt_flow,
                       asio::serial_port_base::stop_bits opt_stop) {
  if (isOpen()) close();
  setFailed(true);
  PortAddress address;
  std::string invalid;
  if (!ParsePortAddress(devname, address, invalid))
    throw boost::system::system_error(boost::system::errc::make_error_code(boost::system::errc::invalid_argument),
                                      invalid);
  pimpl->telnet.reset();
  pimpl->network = address.IsNetwork();
  if (pimpl->network)
    openNetwork(address, baudRate);
  else
    openDevice(devname, baudRate, opt_parity, opt_csize, opt_flow, opt_stop);
  {
    std::lock_guard<std::mutex> lock(pimpl->writeQueueMutex);
    pimpl->writeQueue.clear();
    pimpl->writeBuffer.reset();
    pimpl->writeBufferSize = 0;
  }
  // Marked open before the first read starts, so that a read failing at
  // once is reported through the error flag rather than taken for a close.
  setFailed(false);
  pimpl->opened = true;
  asio::post(pimpl->ioService, [this] { startRead(); });
  try {
    pimpl->ioThread = std::thread([impl = pimpl.get()] { impl->ioService.run(); });
  } catch (...) {
    pimpl->opened = false;
    pimpl->OnStream([](auto& stream) {
      boost::system::error_code ignored;
      stream.close(ignored);
    });
    pimpl->ioService.restart();
    pimpl->ioService.run();  // completes the queued read start against the closed port
    pimpl->ioService.restart();
    throw;
  }
}

void AsyncSerial::openDevice(const std::string& devname, uint32_t baudRate, asio::serial_port_base::parity opt_parity,
                             asio::serial_port_base::character_size opt_csize,
                             asio::serial_port_base::flow_control opt_flow,
                             asio::serial_port_base::stop_bits opt_stop) {
  try {
    boost::system::error_code opened;
    pimpl->port.open(devname, opened);
    // A device another program made exclusive refuses us with EBUSY.
    if (opened == boost::system::errc::device_or_resource_busy)
      throw boost::system::system_error(MakeLinkError(LinkError::PortInUse));
    if (opened) throw boost::system::system_error(opened);
    // Two readers of one device would each get some of the bytes, silently.
    // An advisory lock keeps a second one of our programs out, root's
    // included; others that hold no lock (a terminal program, ser2net) are
    // not stopped by it.
    if (::flock(pimpl->port.native_handle(), LOCK_EX | LOCK_NB) != 0)
      throw boost::system::system_error(errno == EWOULDBLOCK
                                            ? MakeLinkError(LinkError::PortInUse)
                                            : boost::system::error_code(errno, boost::system::system_category()));
    // Exclusive mode refuses any later open but root's, whether the opener
    // takes the lock or not.
    ::ioctl(pimpl->port.native_handle(), TIOCEXCL);
    pimpl->port.set_option(asio::serial_port_base::baud_rate(baudRate));
    pimpl->port.set_option(opt_parity);
    pimpl->port.set_option(opt_csize);
    pimpl->port.set_option(opt_flow);
    pimpl->port.set_option(opt_stop);
  } catch (...) {
    // A port that opened but rejected an option must not stay open, or the
    // next open of this object would fail with "already open".
    boost::system::error_code ignored;
    pimpl->port.close(ignored);
    throw;
  }
}

bool AsyncSerial::isOpen() const { return pimpl->opened; }

bool AsyncSerial::hasError() const {
  std::lock_guard<std::mutex> lock(pimpl->errorMutex);
  return pimpl->failed;
}

std::string AsyncSerial::errorText() const {
  std::lock_guard<std::mutex> lock(pimpl->errorMutex);
  return pimpl->failed ? pimpl->failure : std::string();
}

void AsyncSerial::setFailed(bool value, const std::string& reason) {
  std::lock_guard<std::mutex> lock(pimpl->errorMutex);
  if (value && pimpl->failure.empty()) pimpl->failure = reason;
  if (!value) pimpl->failure.clear();
  pimpl->failed = value;
}

void AsyncSerial::write(const char* data, size_t size) {
  if (size == 0 || !isOpen()) return;
  if (pimpl->telnet) {
    std::vector<char> escaped;
    pimpl->telnet->Send(data, size, escaped);
    std::lock_guard<std::mutex> lock(pimpl->writeQueueMutex);
    pimpl->writeQueue.insert(pimpl->writeQueue.end(), escaped.begin(), escaped.end());
  } else {
    std::lock_guard<std::mutex> lock(pimpl->writeQueueMutex);
    pimpl->writeQueue.insert(pimpl->writeQueue.end(), data, data + size);
  }
  asio::post(pimpl->ioService, [this] { startWrite(); });
}

void AsyncSerial::close() {
  if (!isOpen()) return;
  pimpl->opened = false;
  asio::post(pimpl->ioService, [this] { closePort(); });
  if (pimpl->ioThread.joinable()) pimpl->ioThread.join();
  // After an I/O error the thread may have ended before our close step was
  // posted. Run what is left here, now that no other thread runs the
  // context, so that no stale step survives into the next open.
  pimpl->ioService.restart();
  pimpl->ioService.run();
  pimpl->ioService.restart();
}

void AsyncSerial::setReadCallback(const std::function<void(const char*, size_t)>& callback) {
  std::lock_guard<std::recursive_mutex> lock(pimpl->callbackMutex);
  pimpl->readCallback = callback;
  pimpl->callbackReplaced = true;
}

void AsyncSerial::clearReadCallback() {
  std::lock_guard<std::recursive_mutex> lock(pimpl->callbackMutex);
  pimpl->readCallback = nullptr;
  pimpl->callbackReplaced = true;
}

void AsyncSerial::startRead() {
  pimpl->OnStream([this](auto& stream) {
    stream.async_read_some(asio::buffer(pimpl->readBuffer, readSize),
                           [this](const boost::system::error_code& error, size_t n) { onReadDone(error, n); });
  });
}

void AsyncSerial::onReadDone(const boost::system::error_code& error, size_t bytesTransferred) {
  if (error) {
    if (isOpen()) {
      closePort();
      setFailed(true, reasonOf(error));
    }
    return;
  }
  if (pimpl->telnet) {
    pimpl->decoded.clear();
    pimpl->telnetReply.clear();
    pimpl->telnet->Receive(pimpl->readBuffer, bytesTransferred, pimpl->decoded, pimpl->telnetReply);
    if (!pimpl->telnetReply.empty()) {
      {
        std::lock_guard<std::mutex> lock(pimpl->writeQueueMutex);
        pimpl->writeQueue.insert(pimpl->writeQueue.end(), pimpl->telnetReply.begin(), pimpl->telnetReply.end());
      }
      startWrite();
    }
    if (pimpl->telnet->GetState() == ComPortTelnet::State::Failed) {
      closePort();
      setFailed(true, MakeLinkError(pimpl->telnet->Failure()).message());
      return;
    }
    deliver(pimpl->decoded.data(), pimpl->decoded.size());
  } else {
    deliver(pimpl->readBuffer, bytesTransferred);
  }
  startRead();
}

void AsyncSerial::deliver(const char* data, size_t size) {
  if (size == 0) return;
  std::lock_guard<std::recursive_mutex> lock(pimpl->callbackMutex);
  if (pimpl->readCallback) {
    // The callback is moved out while it runs so that it may replace or
    // clear itself without destroying the callable under its own feet.
    std::function<void(const char*, size_t)> running;
    running.swap(pimpl->readCallback);
    pimpl->callbackReplaced = false;
    running(data, size);
    if (!pimpl->callbackReplaced) running.swap(pimpl->readCallback);
  }
}

std::string AsyncSerial::reasonOf(const boost::system::error_code& error) const {
  return pimpl->network ? NetworkReason(error).message() : error.message();
}

void AsyncSerial::startWrite() {
  std::lock_guard<std::mutex> lock(pimpl->writeQueueMutex);
  if (pimpl->writeBuffer) return;  // a write is in progress; its completion takes the queue
  startWriteLocked();
}

void AsyncSerial::startWriteLocked() {
  if (pimpl->writeQueue.empty()) return;
  pimpl->writeBufferSize = pimpl->writeQueue.size();
  pimpl->writeBuffer.reset(new char[pimpl->writeBufferSize]);
  std::memcpy(pimpl->writeBuffer.get(), pimpl->writeQueue.data(), pimpl->writeBufferSize);
  pimpl->writeQueue.clear();
  pimpl->OnStream([this](auto& stream) {
    asio::async_write(stream, asio::buffer(pimpl->writeBuffer.get(), pimpl->writeBufferSize),
                      [this](const boost::system::error_code& error, size_t) { onWriteDone(error); });
  });
}

void AsyncSerial::onWriteDone(const boost::system::error_code& error) {
  if (error) {
    {
      std::lock_guard<std::mutex> lock(pimpl->writeQueueMutex);
      pimpl->writeBuffer.reset();
      pimpl->writeBufferSize = 0;
    }
    setFailed(true, reasonOf(error));
    closePort();
    return;
  }
  std::lock_guard<std::mutex> lock(pimpl->writeQueueMutex);
  pimpl->writeBuffer.reset();
  pimpl->writeBufferSize = 0;
  startWriteLocked();
}

void AsyncSerial::closePort() {
  pimpl->OnStream([this](auto& stream) {
    boost::system::error_code ec;
    if (!stream.is_open()) return;
    // The exclusive mode would outlast us while another opener (a
    // simulator's own end) keeps the terminal open.
    if (!pimpl->network) ::ioctl(stream.native_handle(), TIOCNXCL);
    stream.cancel(ec);
    if (ec) setFailed(true);
    stream.close(ec);
    if (ec) setFailed(true);
  });
}

CallbackAsyncSerial::~CallbackAsyncSerial() { clearReadCallback(); }
