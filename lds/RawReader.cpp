#include "lds/RawReader.h"

#include <deque>
#include <utility>
#include <vector>

#include "lds/Error.h"
#include "lds/RevolutionBuilder.h"
#include "protocol/KXProtocol.h"
#include "protocol/RawReplay.h"

namespace lds {

class __attribute__((visibility("hidden"))) RawReader::Impl {
 public:
  explicit Impl(const Settings& settings) : builder(settings) {}

  RawReplay replay;
  KXProtocol protocol;
  RevolutionBuilder builder;
  std::deque<Revolution> ready;
};

RawReader::RawReader(const std::string& path, const Settings& settings) {
  const std::string problem = settings.Check();
  if (!problem.empty()) throw Error(problem);
  impl = std::make_unique<Impl>(settings);
  std::string error;
  if (!impl->replay.Open(path, error)) throw Error("cannot read " + path + ": " + error);
  impl->protocol.SetConsoleReports(false);
  impl->protocol.SetAngleOffset(settings.angleOffset);
}

RawReader::~RawReader() = default;

bool RawReader::Next(Revolution& revolution) {
  // One packet at a time, as the window's worker takes them from a replay
  // at the recorded pace: each revolution is complete with the first packet
  // of the next, and its speed and timestamp are that packet's.
  std::vector<Revolution> done;
  while (impl->ready.empty() && !impl->replay.AtEnd()) {
    impl->replay.PlayPackets(1, impl->protocol);
    float rpm = 0.0f;
    uint16_t stamp = 0;
    impl->protocol.GetSpeedAndTimestamp(&rpm, &stamp);
    done.clear();
    impl->builder.Add(impl->protocol.TakeScanPoints(), rpm, stamp, ToLinkStats(impl->protocol.GetLinkStats()), done);
    for (Revolution& r : done) impl->ready.push_back(std::move(r));
  }
  if (impl->ready.empty()) return false;
  revolution = std::move(impl->ready.front());
  impl->ready.pop_front();
  return true;
}

LinkStats RawReader::GetLinkStats() const { return ToLinkStats(impl->protocol.GetLinkStats()); }

}  // namespace lds
