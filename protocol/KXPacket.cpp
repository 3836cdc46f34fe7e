#include "protocol/KXPacket.h"

namespace kx {
namespace {

struct Crc8TableBuilder {
  uint8_t table[256];
  constexpr Crc8TableBuilder() : table() {
    for (int i = 0; i < 256; ++i) {
      uint8_t crc = static_cast<uint8_t>(i);
      for (int bit = 0; bit < 8; ++bit)
        crc = (crc & 0x80) ? static_cast<uint8_t>((crc << 1) ^ 0x4D) : static_cast<uint8_t>(crc << 1);
      table[i] = crc;
    }
  }
};
constexpr Crc8TableBuilder kBuilt;

}  // namespace

const uint8_t kCrc8Table[256] = {
#define KX_ROW(i) kBuilt.table[i], kBuilt.table[i + 1], kBuilt.table[i + 2], kBuilt.table[i + 3]
#define KX_ROW16(i) KX_ROW(i), KX_ROW(i + 4), KX_ROW(i + 8), KX_ROW(i + 12)
    KX_ROW16(0),   KX_ROW16(16),  KX_ROW16(32),  KX_ROW16(48),  KX_ROW16(64),  KX_ROW16(80),
    KX_ROW16(96),  KX_ROW16(112), KX_ROW16(128), KX_ROW16(144), KX_ROW16(160), KX_ROW16(176),
    KX_ROW16(192), KX_ROW16(208), KX_ROW16(224), KX_ROW16(240),
#undef KX_ROW16
#undef KX_ROW
};

uint8_t Crc8(const uint8_t* data, size_t size) {
  uint8_t crc = 0;
  for (size_t i = 0; i < size; ++i) crc = kCrc8Table[crc ^ data[i]];
  return crc;
}

uint32_t Crc32Words(const uint8_t* data, size_t size) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; i += 4) {
    uint32_t word = 0;
    for (size_t b = 0; b < 4 && i + b < size; ++b) word |= static_cast<uint32_t>(data[i + b]) << (8 * b);
    crc ^= word;
    for (int bit = 0; bit < 32; ++bit) crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : (crc << 1);
  }
  return crc;
}

Frame FrameAt(const uint8_t* p, size_t left) {
  if (left < 2) return {FrameKind::Incomplete, 0};
  if (p[0] == kPacketHeader && p[1] == kPacketVerLen) {
    if (left < kPacketSize) return {FrameKind::Incomplete, 0};
    return {Crc8(p, kPacketSize - 1) == p[kOffCrc] ? FrameKind::Packet : FrameKind::BadPacket, kPacketSize};
  }
  if (p[0] == kAckShort[0] && p[1] == kAckShort[1]) return {FrameKind::Ack, 2};
  if (p[0] == kAckLong[0] && p[1] == kAckLong[1]) {
    if (left < 5) return {FrameKind::Incomplete, 0};
    const bool whole = p[2] == kAckLong[2] && p[3] == kAckLong[3] && p[4] == kAckLong[4];
    return {whole ? FrameKind::Ack : FrameKind::BadAck, 5};
  }
  if (p[0] == kResponseHeader && p[1] >= 4) {
    const size_t n = p[1];
    if (left < n) return {FrameKind::Incomplete, 0};
    return {FrameKind::Response, n};
  }
  return {FrameKind::Junk, 1};
}

}  // namespace kx
