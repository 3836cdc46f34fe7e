#pragma once

#include <cstddef>
#include <cstdint>

// Wire layout of what the sensor sends and receives. Shared by the decoder,
// the simulator and the tests so that all agree on one definition.
namespace kx {

constexpr uint8_t kPacketHeader = 0x54;  // 'T'
constexpr uint8_t kPacketVerLen = 0x2C;  // ','
constexpr size_t kPacketSize = 47;
constexpr int kPointsPerPacket = 12;

// Offsets inside a measurement packet (all fields little-endian).
constexpr size_t kOffSpeed = 2;       // degrees per second
constexpr size_t kOffStartAngle = 4;  // hundredths of a degree
constexpr size_t kOffPoints = 6;      // 12 x (distance u16, intensity u8)
constexpr size_t kOffEndAngle = 42;   // hundredths of a degree
constexpr size_t kOffTimestamp = 44;  // milliseconds
constexpr size_t kOffCrc = 46;

constexpr uint8_t kAckShort[2] = {0x4F, 0x4B};
constexpr uint8_t kAckLong[5] = {0x55, 0xAB, 0x0A, 0x42, 0x5A};

constexpr uint8_t kResponseHeader = 0x5A;
constexpr uint8_t kResponseTypeCrc32 = 0xB0;

constexpr uint8_t kCmdEnable[5] = {0xA5, 0x5A, 0x01, 0x00, 0x00};
constexpr uint8_t kCmdDisable[5] = {0xA5, 0x5A, 0x03, 0x00, 0x02};

// The 256-entry table of the packet CRC-8 (polynomial 0x4D, MSB first).
extern const uint8_t kCrc8Table[256];

// Packet CRC-8: initial 0, no reflection, no final XOR.
uint8_t Crc8(const uint8_t* data, size_t size);

// Response CRC-32 over little-endian 32-bit words (polynomial 0x04C11DB7,
// initial 0xFFFFFFFF, MSB first, no final XOR); a trailing group of 1 to 3
// bytes forms one word with zero high bytes.
uint32_t Crc32Words(const uint8_t* data, size_t size);

// What the receiver finds at the start of the bytes it holds, and how many
// bytes that takes. The decoder steps through its buffer by this rule, and so
// does anything that must find the packets exactly where the decoder finds
// them (the raw recording's revolution cut): a response frame's length byte
// may cover packets, which then are no packets.
enum class FrameKind {
  Incomplete,  // more bytes are needed to tell
  Packet,      // a measurement packet with a good CRC
  BadPacket,   // a measurement packet with a wrong CRC
  Ack,         // a short or a long acknowledgement
  BadAck,      // 55 AB not followed by the rest of the long acknowledgement
  Response,    // a response frame; whether it is accepted is the decoder's matter
  Junk,        // a byte that starts none of these
};
struct Frame {
  FrameKind kind;
  size_t size;  // bytes it takes (0 when Incomplete)
};
Frame FrameAt(const uint8_t* data, size_t size);

inline uint16_t ReadU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline void WriteU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v & 0xFF);
  p[1] = static_cast<uint8_t>(v >> 8);
}

}  // namespace kx
