#include "app/ReplayCursor.h"

#include <algorithm>
#include <utility>

bool ReplayCursor::Open(const std::string& path, std::string& error) {
  RawReplay opened;
  if (!opened.Open(path, error)) return false;
  reader = std::move(opened);
  reader.SetAngleOffset(angleOffset);
  playing = false;
  target = -1;
  warmUpEnd = 0;
  return true;
}

void ReplayCursor::Load(std::vector<uint8_t> bytes) {
  reader.Load(std::move(bytes));
  playing = false;
  target = -1;
  warmUpEnd = 0;
}

void ReplayCursor::Rewind() {
  reader.Rewind();
  playing = false;
  target = -1;
  warmUpEnd = 0;
}

void ReplayCursor::Play(bool fast, int64_t nowMs) {
  playing = true;
  fastest = fast;
  clockBaseMs = reader.TimeMs();
  clockStartMs = nowMs;
}

bool ReplayCursor::SeekTo(int k) {
  k = std::clamp(k, 0, Revolutions());
  const int at = Revolution();
  target = k;
  if (k > 0 && k >= at && k - at <= 2) return false;  // plays on to it
  // From the beginning everything plays as on opening; else the target's
  // own revolution begins once the one before it is played.
  warmUpEnd = k - 1;
  if (k < 2)
    reader.Rewind();
  else
    reader.RewindToStart(static_cast<size_t>(k - 2));
  return true;
}

bool ReplayCursor::Arrived(int64_t nowMs) {
  if (target < 0 || (Revolution() < target && !AtEnd())) return false;
  target = -1;
  warmUpEnd = 0;
  if (playing) Play(fastest, nowMs);  // the recorded pace goes on from here
  return true;
}

size_t ReplayCursor::Feed(KXProtocol& protocol, int64_t nowMs) {
  if (Arrived(nowMs) && !playing) return 0;
  if (!Busy() || AtEnd()) {
    playing = false;
    return 0;
  }
  // At most two fifths of a turn at a time: the assembler sees a revolution
  // end only in a batch of less than half a turn. And never past the packet
  // that ends a revolution.
  size_t budget = std::max<size_t>(1, reader.PacketsPerRevolution() * 2 / 5);
  budget = std::min(budget, std::max<size_t>(1, reader.PacketsToNextStart()));
  if (target < 0 && !fastest && Packets() > 0) {
    // At the recorded pace: only the packets whose time has come.
    const int64_t now = clockBaseMs + (nowMs - clockStartMs);
    size_t due = 0;
    while (due < budget && reader.NextTimeMs(due) >= 0 && reader.NextTimeMs(due) <= now) ++due;
    budget = due;
  }
  const size_t played = budget > 0 ? reader.PlayPackets(budget, protocol) : 0;
  Arrived(nowMs);
  if (AtEnd()) playing = false;
  return played;
}
