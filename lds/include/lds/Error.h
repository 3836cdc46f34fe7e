#pragma once

#include <stdexcept>
#include <string>

#include "lds/Export.h"

namespace lds {

// What every operation of the library throws when it cannot do its work:
// what() says what failed and why, in words fit for the user ("cannot open
// /dev/ttyUSB0: Permission denied", "lost the port /dev/ttyUSB0: Input/output
// error"). Nothing is left half done: a failed Open leaves the sensor closed,
// a failed Start leaves it open.
class LDS_API Error : public std::runtime_error {
 public:
  explicit Error(const std::string& what);
  ~Error() override;
};

}  // namespace lds
