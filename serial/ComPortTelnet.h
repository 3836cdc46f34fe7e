#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "serial/LinkError.h"

struct telnet_t;
union telnet_event_t;

// The telnet layer of an rfc2217:// link, between the socket and the reader:
// libtelnet negotiates BINARY both ways and COM-PORT-OPTION (RFC 2217), then
// sets the far port to the baud rate asked for, 8 data bits, no parity, one
// stop bit and no flow control. Afterwards it only unescapes what comes in and
// escapes what goes out, so the reader sees exactly the sensor's bytes. No
// socket here: the caller moves the bytes. Safe to use from two threads (the
// I/O thread receives while another one sends).
class ComPortTelnet {
 public:
  enum class State { Negotiating, Ready, Failed };

  // `opening` receives the first negotiation bytes to send.
  ComPortTelnet(uint32_t baud, std::vector<char>& opening);
  ~ComPortTelnet();
  ComPortTelnet(const ComPortTelnet&) = delete;
  ComPortTelnet& operator=(const ComPortTelnet&) = delete;

  // Bytes from the server: the sensor's bytes are appended to `data`, the
  // answers owed to the server to `reply`.
  void Receive(const char* bytes, size_t size, std::vector<char>& data, std::vector<char>& reply);
  // The sensor's bytes to send, escaped, appended to `out`.
  void Send(const char* bytes, size_t size, std::vector<char>& out);

  State GetState();
  // Why the state is Failed.
  LinkError Failure();

 private:
  static void OnEvent(telnet_t* telnet, telnet_event_t* event, void* self);
  static void OnWatch(telnet_t* telnet, telnet_event_t* event, void* self);
  void Fail(LinkError reason);
  void CheckReady();

  std::mutex mutex;
  telnet_t* telnet = nullptr;
  // libtelnet answers the negotiation itself but reports nothing when the
  // server refuses an option we asked for; a second parser, which only
  // watches, sees those refusals while the negotiation runs.
  telnet_t* watcher = nullptr;
  std::vector<char>* data = nullptr;  // the targets of the call in progress
  std::vector<char>* out = nullptr;
  uint32_t baud;
  State state = State::Negotiating;
  LinkError failure = LinkError::TelnetError;
  bool sendBinary = false, receiveBinary = false, comPort = false;
  unsigned answered = 0;  // bit n: the server answered serial setting n (1 to 5)
  uint32_t answeredBaud = 0;
};
