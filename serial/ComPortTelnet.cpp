#include "serial/ComPortTelnet.h"

// libtelnet.h uses size_t without including its header.
#include <cstddef>
// clang-format off
#include <libtelnet.h>
// clang-format on

namespace {

constexpr unsigned char kComPortOption = 44;
// Client commands of COM-PORT-OPTION; the server answers each with 100 more.
constexpr unsigned char kSetBaudRate = 1, kSetDataSize = 2, kSetParity = 3, kSetStopSize = 4, kSetControl = 5;
constexpr unsigned char kServerOffset = 100;
constexpr unsigned kAllAnswered = 0x3E;  // bits 1 to 5

// What libtelnet may agree to on its own: binary both ways and, on our side,
// the com port option. Everything else is refused.
const telnet_telopt_t kOptions[] = {
    {TELNET_TELOPT_BINARY, TELNET_WILL, TELNET_DO},
    {kComPortOption, TELNET_WILL, TELNET_DONT},
    {-1, 0, 0},
};

}  // namespace

ComPortTelnet::ComPortTelnet(uint32_t baudRate, std::vector<char>& opening) : baud(baudRate) {
  std::lock_guard<std::mutex> lock(mutex);
  telnet = telnet_init(kOptions, &ComPortTelnet::OnEvent, 0, this);
  watcher = telnet_init(nullptr, &ComPortTelnet::OnWatch, TELNET_FLAG_PROXY, this);
  if (!telnet || !watcher) {
    Fail(LinkError::TelnetError);
    return;
  }
  out = &opening;
  telnet_negotiate(telnet, TELNET_WILL, TELNET_TELOPT_BINARY);
  telnet_negotiate(telnet, TELNET_DO, TELNET_TELOPT_BINARY);
  telnet_negotiate(telnet, TELNET_WILL, kComPortOption);
  out = nullptr;
}

ComPortTelnet::~ComPortTelnet() {
  if (telnet) telnet_free(telnet);
  if (watcher) telnet_free(watcher);
}

void ComPortTelnet::Receive(const char* bytes, size_t size, std::vector<char>& dataOut, std::vector<char>& reply) {
  std::lock_guard<std::mutex> lock(mutex);
  if (!telnet) return;
  data = &dataOut;
  out = &reply;
  if (state == State::Negotiating) telnet_recv(watcher, bytes, size);
  telnet_recv(telnet, bytes, size);
  data = out = nullptr;
}

void ComPortTelnet::Send(const char* bytes, size_t size, std::vector<char>& escaped) {
  std::lock_guard<std::mutex> lock(mutex);
  if (!telnet) return;
  out = &escaped;
  telnet_send(telnet, bytes, size);
  out = nullptr;
}

ComPortTelnet::State ComPortTelnet::GetState() {
  std::lock_guard<std::mutex> lock(mutex);
  return state;
}

LinkError ComPortTelnet::Failure() {
  std::lock_guard<std::mutex> lock(mutex);
  return failure;
}

void ComPortTelnet::Fail(LinkError reason) {
  if (state == State::Failed) return;
  state = State::Failed;
  failure = reason;
}

void ComPortTelnet::CheckReady() {
  if (state != State::Negotiating || !sendBinary || !receiveBinary || !comPort || answered != kAllAnswered) return;
  if (answeredBaud != baud)
    Fail(LinkError::BaudNotSet);
  else
    state = State::Ready;
}

void ComPortTelnet::OnEvent(telnet_t* telnet, telnet_event_t* event, void* context) {
  auto* self = static_cast<ComPortTelnet*>(context);
  switch (event->type) {
    case TELNET_EV_DATA:
      if (self->data) self->data->insert(self->data->end(), event->data.buffer, event->data.buffer + event->data.size);
      break;
    case TELNET_EV_SEND:
      if (self->out) self->out->insert(self->out->end(), event->data.buffer, event->data.buffer + event->data.size);
      break;
    case TELNET_EV_WILL:
      if (event->neg.telopt == TELNET_TELOPT_BINARY) self->receiveBinary = true;
      break;
    case TELNET_EV_DO:
      if (event->neg.telopt == TELNET_TELOPT_BINARY) self->sendBinary = true;
      if (event->neg.telopt == kComPortOption && !self->comPort) {
        self->comPort = true;
        const unsigned char rate[] = {
            kSetBaudRate, static_cast<unsigned char>(self->baud >> 24), static_cast<unsigned char>(self->baud >> 16),
            static_cast<unsigned char>(self->baud >> 8), static_cast<unsigned char>(self->baud)};
        const unsigned char eightBits[] = {kSetDataSize, 8}, noParity[] = {kSetParity, 1},
                            oneStop[] = {kSetStopSize, 1}, noFlow[] = {kSetControl, 1};
        for (const auto& [bytes, size] :
             {std::make_pair(rate, sizeof rate), std::make_pair(eightBits, sizeof eightBits),
              std::make_pair(noParity, sizeof noParity), std::make_pair(oneStop, sizeof oneStop),
              std::make_pair(noFlow, sizeof noFlow)})
          telnet_subnegotiation(telnet, kComPortOption, reinterpret_cast<const char*>(bytes), size);
      }
      break;
    case TELNET_EV_WONT:
    case TELNET_EV_DONT:
      // An option given up after it was agreed.
      if (self->state == State::Negotiating && event->neg.telopt == kComPortOption)
        self->Fail(LinkError::Rfc2217Refused);
      break;
    case TELNET_EV_SUBNEGOTIATION: {
      const auto* sub = reinterpret_cast<const unsigned char*>(event->sub.buffer);
      if (event->sub.telopt != kComPortOption || event->sub.size < 1) break;
      const int command = sub[0] - kServerOffset;
      if (command < kSetBaudRate || command > kSetControl) break;
      self->answered |= 1u << command;
      if (command == kSetBaudRate && event->sub.size >= 5)
        self->answeredBaud = (uint32_t{sub[1]} << 24) | (uint32_t{sub[2]} << 16) | (uint32_t{sub[3]} << 8) | sub[4];
      break;
    }
    case TELNET_EV_ERROR:
      self->Fail(LinkError::TelnetError);
      break;
    default:
      break;
  }
  self->CheckReady();
}

void ComPortTelnet::OnWatch(telnet_t*, telnet_event_t* event, void* context) {
  auto* self = static_cast<ComPortTelnet*>(context);
  if (event->type != TELNET_EV_DONT && event->type != TELNET_EV_WONT) return;
  if (event->neg.telopt == kComPortOption && event->type == TELNET_EV_DONT) self->Fail(LinkError::Rfc2217Refused);
  if (event->neg.telopt == TELNET_TELOPT_BINARY) self->Fail(LinkError::BinaryRefused);
}
