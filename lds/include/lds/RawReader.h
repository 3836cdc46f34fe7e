#pragma once

#include <memory>
#include <string>

#include "lds/Export.h"
#include "lds/LinkStats.h"
#include "lds/Revolution.h"
#include "lds/Settings.h"

namespace lds {

// Reads a raw recording (every byte a sensor sent, as `lds-record --raw` and
// the window's 保存原始数据 write them) revolution by revolution, through the
// same decoder, corrections and filters as a live sensor: the revolutions
// the window's replay shows, with the points a live link gives. Junk and bad
// packets count in the link counters as they would live.
class LDS_API RawReader {
 public:
  // Reads the file (a regular file, up to 512 MiB). Throws Error when it cannot be read or a
  // setting is invalid. An empty file is no error: it has no revolutions.
  explicit RawReader(const std::string& path, const Settings& settings = Settings());
  ~RawReader();
  RawReader(const RawReader&) = delete;
  RawReader& operator=(const RawReader&) = delete;

  // The next whole revolution: true with `revolution` filled, false at the end.
  bool Next(Revolution& revolution);
  LinkStats GetLinkStats() const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl;
};

}  // namespace lds
