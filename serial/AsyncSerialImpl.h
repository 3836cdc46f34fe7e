#pragma once

// The private state of AsyncSerial, shared by its two source files: the I/O
// loop (AsyncSerial.cpp) and the opening of a network link (NetworkOpen.cpp).
#include <atomic>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/serial_port.hpp>
#include <boost/shared_array.hpp>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "serial/ComPortTelnet.h"

class AsyncSerialImpl {
 public:
  AsyncSerialImpl() : port(ioService), socket(ioService) {}

  // Runs `f` on the byte stream in use: the serial port or the socket. Both
  // are Asio streams, so one read/write loop serves both.
  template <class F>
  void OnStream(F&& f) {
    if (network)
      f(socket);
    else
      f(port);
  }

  boost::asio::io_context ioService;
  boost::asio::serial_port port;
  boost::asio::ip::tcp::socket socket;
  bool network = false;                   // the socket is the stream (set by open)
  std::unique_ptr<ComPortTelnet> telnet;  // rfc2217:// only
  std::vector<char> decoded;              // the sensor's bytes of one telnet read
  std::vector<char> telnetReply;          // what the telnet layer owes the server after a read
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
