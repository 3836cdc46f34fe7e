#include "protocol/RawReplay.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "protocol/KXPacket.h"
#include "protocol/KXProtocol.h"

namespace {

// The decoder takes at most this much in one call, as from the serial port.
constexpr size_t kChunk = 512;
// A timestamp step longer than this (a step back, or a gap in the recording)
// counts as none, so that a replay at the recorded pace does not stall.
constexpr int64_t kMaxStepMs = 30000;
// A replay holds its file in memory: about six hours at 230400 baud fit.
// Anything larger is refused, before a byte of it is read.
constexpr size_t kMaxBytes = size_t{512} << 20;

}  // namespace

bool RawReplay::Open(const std::string& path, std::string& error) {
  // Without waiting: a FIFO would otherwise hold the open until a writer comes.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  struct stat st = {};
  if (fd < 0 || ::fstat(fd, &st) != 0) {
    error = std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return false;
  }
  // Type and size before any byte is read: a FIFO or a device may never end.
  std::string refused;
  if (S_ISDIR(st.st_mode))
    refused = std::strerror(EISDIR);
  else if (!S_ISREG(st.st_mode))
    refused = "not a regular file";
  else if (static_cast<uint64_t>(st.st_size) > kMaxBytes)
    refused = std::to_string(st.st_size >> 20) + " MiB, larger than 512 MiB";
  if (!refused.empty()) {
    ::close(fd);
    error = refused;
    return false;
  }
  std::vector<uint8_t> data;
  data.reserve(static_cast<size_t>(st.st_size));
  uint8_t block[65536];
  ssize_t n = 0;
  while ((n = ::read(fd, block, sizeof block)) != 0) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    if (data.size() + static_cast<size_t>(n) > kMaxBytes) {  // grown since
      ::close(fd);
      error = "larger than 512 MiB";
      return false;
    }
    data.insert(data.end(), block, block + n);
  }
  const int reason = errno;
  ::close(fd);
  if (n < 0) {  // an I/O error
    error = std::strerror(reason);
    return false;
  }
  Load(std::move(data));
  return true;
}

void RawReplay::Load(std::vector<uint8_t> data) {
  bytes = std::move(data);
  Index();
  Rewind();
}

void RawReplay::SetAngleOffset(float degrees) {
  if (degrees == angleOffset) return;
  angleOffset = degrees;
  Index();
  startsFed = static_cast<int>(std::lower_bound(starts.begin(), starts.end(), next) - starts.begin());
}

void RawReplay::Index() {
  packets.clear();
  starts.clear();
  int64_t time = 0;
  int lastStamp = -1;
  float lastEnd = -1.0f;
  size_t pos = 0;
  while (pos + kx::kPacketSize <= bytes.size()) {
    const uint8_t* p = bytes.data() + pos;
    if (p[0] != kx::kPacketHeader || p[1] != kx::kPacketVerLen || kx::Crc8(p, kx::kPacketSize - 1) != p[kx::kOffCrc]) {
      ++pos;
      continue;
    }
    const int stamp = kx::ReadU16(p + kx::kOffTimestamp);
    if (lastStamp >= 0) {
      const int64_t step = (stamp - lastStamp + 65536) % 65536;  // the field wraps at 65536 ms
      if (step <= kMaxStepMs) time += step;
    }
    lastStamp = stamp;
    float start = kx::ReadU16(p + kx::kOffStartAngle) / 100.0f;
    float end = kx::ReadU16(p + kx::kOffEndAngle) / 100.0f;
    if (angleOffset != 0.0f) {
      // The first and last point's angles as the decoder gives them: shifted,
      // then brought back once into 0 to 360 degrees.
      const auto shifted = [this](float angle) {
        angle += angleOffset;
        if (angle >= 360.0f) angle -= 360.0f;
        if (angle < 0.0f) angle += 360.0f;
        return angle;
      };
      const float last = end < start ? end + 360.0f : end;
      start = shifted(start);
      end = shifted(last);
    }
    const bool wraps = end < start || (lastEnd >= 0.0f && start < lastEnd - 180.0f);
    lastEnd = end;
    if (wraps) starts.push_back(packets.size());
    pos += kx::kPacketSize;
    packets.push_back({pos, time, wraps});
  }
}

void RawReplay::Rewind() {
  next = 0;
  fed = 0;
  startsFed = 0;
}

size_t RawReplay::PacketsToNextStart() const {
  const auto at = std::lower_bound(starts.begin(), starts.end(), next);
  return (at == starts.end() ? packets.size() : *at + 1) - next;
}

void RawReplay::RewindToStart(size_t start) {
  Rewind();
  if (start >= starts.size()) return;
  next = starts[start];
  fed = next == 0 ? 0 : packets[next - 1].end;
  startsFed = static_cast<int>(start);
}

void RawReplay::FeedTo(size_t end, KXProtocol& protocol) {
  while (fed < end) {
    const size_t n = std::min(kChunk, end - fed);
    protocol.OnDataReceived(bytes.data() + fed, static_cast<uint32_t>(n));
    fed += n;
  }
}

size_t RawReplay::PlayPackets(size_t count, KXProtocol& protocol) {
  size_t played = 0;
  for (; played < count && next < packets.size(); ++played) {
    if (packets[next].starts) ++startsFed;
    FeedTo(packets[next].end, protocol);
    ++next;
  }
  // What follows the last packet (junk, a cut-off packet) goes too.
  if (next == packets.size() && (played > 0 || count > 0)) FeedTo(bytes.size(), protocol);
  return played;
}

void RawReplay::PlayRevolution(KXProtocol& protocol) {
  // A revolution is shown once the packet that starts the next one is decoded.
  const int target = std::max(startsFed + 1, 2);
  while (startsFed < target && !AtEnd()) PlayPackets(1, protocol);
}
