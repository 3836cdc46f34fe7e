#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/RawReplay.h"

class KXProtocol;

// Where a replay stands and what it feeds the decoder next. It needs no
// thread or widget: the window's replay calls it from a timer, tests drive it
// directly with a decoder and a frame assembler of their own.
//
// The frame assembler completes a revolution when a batch it takes ends at
// the packet that passes 0 degrees. So each feed ends at such a packet at the
// latest, and the caller feeds again only once every point fed before has
// been taken: the assembler then sees the same revolutions however fast the
// replay runs. A jump back, or more than two revolutions ahead, restarts
// decoding two revolutions before the target: the first of them fills the
// per-point filter's windows and the slots the next frame builds on, as a
// linear play leaves them, so the target's frame is the one a linear play
// shows there. Those revolutions are decoded again for the filters and the
// frame, not for the user: WarmingUp() says when a feed is one of them, and
// the window writes no CSV rows for it.
class ReplayCursor {
 public:
  // False with a reason when the file cannot be read.
  bool Open(const std::string& path, std::string& error);
  void Load(std::vector<uint8_t> bytes);

  // The window's angle offset: revolutions are counted where its frames
  // end, at the passes of 0 degrees in the offset angles.
  void SetAngleOffset(float degrees) {
    angleOffset = degrees;
    reader.SetAngleOffset(degrees);
  }

  size_t Packets() const { return reader.Packets(); }
  int Revolutions() const { return reader.Revolutions(); }
  // Whole revolutions played: the frame on the view is the last of them.
  int Revolution() const { return reader.Revolution(); }
  int64_t TimeMs() const { return reader.TimeMs(); }
  bool AtEnd() const { return reader.AtEnd(); }

  // Back to the beginning, paused; the caller resets the decoder and the frame.
  void Rewind();
  // Plays on: at the recorded pace from `nowMs`, or as fast as the points are taken.
  void Play(bool fastest, int64_t nowMs);
  void Pause() { playing = false; }
  bool Playing() const { return playing; }
  // Playing, or on its way to a revolution: Feed has work to do.
  bool Busy() const { return playing || target >= 0; }
  // The next feed is part of a jump's warm-up: it comes before the target's
  // own revolution.
  bool WarmingUp() const { return target >= 0 && Revolution() < warmUpEnd; }

  // Goes to revolution `k` (clamped to 0..Revolutions(); 0 is the beginning)
  // as fast as the points are taken, then goes on playing if it was. True
  // when decoding restarts: the caller resets the decoder and the frame
  // before the next Feed.
  bool SeekTo(int k);

  // Feeds the next packets, with the bytes around them, into `protocol`. Call
  // it only when every point fed before has been taken. Returns the packets fed.
  size_t Feed(KXProtocol& protocol, int64_t nowMs);

 private:
  // The target has been reached: stops there, or plays on from there.
  bool Arrived(int64_t nowMs);

  RawReplay reader;
  float angleOffset = 0.0f;
  bool playing = false;
  bool fastest = false;
  int target = -1;          // the revolution sought, -1 for none
  int warmUpEnd = 0;        // a jump's warm-up lasts while fewer revolutions than this are played
  int64_t clockBaseMs = 0;  // the recording's time when the recorded pace (re)started
  int64_t clockStartMs = 0;
};
