#include "app/LinkHealth.h"

#include <QCoreApplication>
#include <cmath>

void LinkHealth::Start(const KXLinkStats& stats, int64_t nowMs) {
  active = true;
  base = stats;
  last = stats;
  lastMs = nowMs;
}

QString LinkHealth::Sample(const KXLinkStats& stats, int64_t nowMs) {
  if (!active) return QString();
  const int64_t elapsedMs = nowMs - lastMs;
  // Counters never go backwards, but a protocol object swapped under us must
  // not turn into a huge unsigned difference.
  const uint64_t packets = stats.packets >= last.packets ? stats.packets - last.packets : 0;
  int64_t packetRate = 0;
  if (elapsedMs > 0) packetRate = std::llround(static_cast<double>(packets) * 1000.0 / static_cast<double>(elapsedMs));
  const uint64_t crc = stats.crcErrors >= base.crcErrors ? stats.crcErrors - base.crcErrors : 0;
  const uint64_t skipped = stats.skippedBytes >= base.skippedBytes ? stats.skippedBytes - base.skippedBytes : 0;
  last = stats;
  lastMs = nowMs;
  return Format(packetRate * kPointsPerPacket, packetRate, crc, skipped);
}

QString LinkHealth::Format(int64_t pointsPerSecond, int64_t packetsPerSecond, uint64_t crcErrors,
                           uint64_t skippedBytes) {
  return QCoreApplication::translate("LinkHealth", "%1 点/秒 · %2 包/秒 · CRC错误 %3 · 丢弃字节 %4")
      .arg(pointsPerSecond)
      .arg(packetsPerSecond)
      .arg(crcErrors)
      .arg(skippedBytes);
}
