#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class KXProtocol;

// Plays a raw recording (every byte the sensor sent, as `lds-record --raw`
// and the window's 保存原始数据 write it) into a protocol object, which
// decodes it as it decodes a live link. Every byte goes to the decoder, junk
// and bad packets included, so that its counters see them too.
//
// Opening reads the file and indexes it once: each valid packet's end offset
// and time (its timestamp, unwrapped), and where each revolution starts. A
// revolution starts with the packet whose angles pass 0 degrees; the
// revolutions counted are the whole ones, between two such packets.
class RawReplay {
 public:
  // False with a reason when the file cannot be read, or is not a regular
  // file of at most 512 MiB (checked before reading). An empty file, or one
  // without a valid packet, opens and plays its bytes with no time.
  bool Open(const std::string& path, std::string& error);
  // The same from bytes in memory.
  void Load(std::vector<uint8_t> bytes);
  // The angle offset the decoder adds (see KXProtocol::SetAngleOffset): the
  // revolutions then start where the offset angles pass 0 degrees, as the
  // frames a reader builds from them do. Keeps the place in the file.
  void SetAngleOffset(float degrees);

  size_t Packets() const { return packets.size(); }
  // Whole revolutions in the recording.
  int Revolutions() const { return starts.size() < 2 ? 0 : static_cast<int>(starts.size()) - 1; }
  // Whole revolutions played so far (0 until the first one has ended).
  int Revolution() const { return startsFed < 2 ? 0 : startsFed - 1; }
  // Recorded time of the last packet played, from the first packet, in ms.
  int64_t TimeMs() const { return next == 0 ? 0 : packets[next - 1].timeMs; }
  // Recorded time of the next packet (or of the one `ahead` after it); -1 past the last.
  int64_t NextTimeMs(size_t ahead = 0) const {
    return next + ahead < packets.size() ? packets[next + ahead].timeMs : -1;
  }
  bool AtEnd() const { return fed >= bytes.size(); }
  // Packets in one whole revolution, on average; all of them with fewer than two starts.
  size_t PacketsPerRevolution() const {
    return starts.size() < 2 ? packets.size() : (starts.back() - starts.front()) / (starts.size() - 1);
  }

  // Plays up to `count` packets with the bytes before them; at the last one,
  // the rest of the file too. Returns the packets played.
  size_t PlayPackets(size_t count, KXProtocol& protocol);
  // Plays on to the end of the next whole revolution, or of the file.
  void PlayRevolution(KXProtocol& protocol);
  // Back to the beginning; the caller resets the decoder and the frame.
  void Rewind();
  // Packets from the next one up to the next that starts a revolution, that
  // one included; all that are left when none does.
  size_t PacketsToNextStart() const;
  // Back to just before the `start`-th packet that starts a revolution (0 the
  // first), with the bytes between it and the packet before it still to play;
  // to the beginning when there is no such packet. The caller resets the
  // decoder and the frame.
  void RewindToStart(size_t start);

 private:
  struct Packet {
    size_t end;      // offset just past the packet
    int64_t timeMs;  // from the first packet
    bool starts;     // its angles pass 0 degrees
  };
  void Index();
  void FeedTo(size_t end, KXProtocol& protocol);

  std::vector<uint8_t> bytes;
  std::vector<Packet> packets;
  std::vector<size_t> starts;  // indexes into packets
  size_t next = 0;             // next packet to play
  size_t fed = 0;              // bytes played
  int startsFed = 0;
  float angleOffset = 0.0f;
};
