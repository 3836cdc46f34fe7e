#include "serial/AsyncSerial.h"

#include <atomic>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/serial_port.hpp>
#include <boost/asio/write.hpp>
#include <boost/shared_array.hpp>
#include <boost/system/system_error.hpp>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace asio = boost::asio;

class AsyncSerialImpl {
 public:
  AsyncSerialImpl() : port(ioService) {}

  asio::io_context ioService;
  asio::serial_port port;
  std::thread ioThread;
  std::atomic<bool> opened{false};
  bool failed = false;
  std::string failure;  // the first reason given since open
  mutable std::mutex errorMutex;
  std::vector<char> writeQueue;
  boost::shared_array<char> writeBuffer;
  size_t writeBufferSize = 0;
  std::mutex writeQueueMutex;
  char readBuffer[512];
  std::function<void(const char*, size_t)> readCallback;
  // Held while the callback runs and while it is replaced. Recursive so that
  // the callback may replace or clear itself.
  std::recursive_mutex callbackMutex;
  bool callbackReplaced = false;
};

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
  try {
    pimpl->port.open(devname);
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
    boost::system::error_code ignored;
    pimpl->port.close(ignored);
    pimpl->ioService.restart();
    pimpl->ioService.run();  // completes the queued read start against the closed port
    pimpl->ioService.restart();
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
  {
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
  pimpl->port.async_read_some(asio::buffer(pimpl->readBuffer, readSize),
                              [this](const boost::system::error_code& error, size_t n) { onReadDone(error, n); });
}

void AsyncSerial::onReadDone(const boost::system::error_code& error, size_t bytesTransferred) {
  if (error) {
    if (isOpen()) {
      closePort();
      setFailed(true, error.message());
    }
    return;
  }
  {
    std::lock_guard<std::recursive_mutex> lock(pimpl->callbackMutex);
    if (pimpl->readCallback) {
      // The callback is moved out while it runs so that it may replace or
      // clear itself without destroying the callable under its own feet.
      std::function<void(const char*, size_t)> running;
      running.swap(pimpl->readCallback);
      pimpl->callbackReplaced = false;
      running(pimpl->readBuffer, bytesTransferred);
      if (!pimpl->callbackReplaced) running.swap(pimpl->readCallback);
    }
  }
  startRead();
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
  asio::async_write(pimpl->port, asio::buffer(pimpl->writeBuffer.get(), pimpl->writeBufferSize),
                    [this](const boost::system::error_code& error, size_t) { onWriteDone(error); });
}

void AsyncSerial::onWriteDone(const boost::system::error_code& error) {
  if (error) {
    {
      std::lock_guard<std::mutex> lock(pimpl->writeQueueMutex);
      pimpl->writeBuffer.reset();
      pimpl->writeBufferSize = 0;
    }
    setFailed(true, error.message());
    closePort();
    return;
  }
  std::lock_guard<std::mutex> lock(pimpl->writeQueueMutex);
  pimpl->writeBuffer.reset();
  pimpl->writeBufferSize = 0;
  startWriteLocked();
}

void AsyncSerial::closePort() {
  boost::system::error_code ec;
  if (!pimpl->port.is_open()) return;
  pimpl->port.cancel(ec);
  if (ec) setFailed(true);
  pimpl->port.close(ec);
  if (ec) setFailed(true);
}

CallbackAsyncSerial::~CallbackAsyncSerial() { clearReadCallback(); }
