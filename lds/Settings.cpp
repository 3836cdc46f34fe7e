#include "lds/Settings.h"

#include <cmath>
#include <sstream>

namespace lds {

namespace {

// The ranges are those the window's dialogs offer.
template <typename T>
std::string OutOfRange(const char* name, T value, double low, double high) {
  const double v = static_cast<double>(value);
  if (std::isfinite(v) && v >= low && v <= high) return std::string();
  std::ostringstream text;
  text << name << " must lie between " << low << " and " << high << ", not " << value;
  return text.str();
}

}  // namespace

std::string Settings::Check() const {
  for (const std::string& problem :
       {OutOfRange("diffThr", diffThr, 0, 10000), OutOfRange("minRange", minRange, 0, 10000),
        OutOfRange("maxRange", maxRange, 0, 10000), OutOfRange("intensityThr", intensityThr, 0, 10000),
        OutOfRange("edgeMargin", edgeMargin, 0, 22), OutOfRange("angleOffset", angleOffset, -360, 360)}) {
    if (!problem.empty()) return problem;
  }
  if (rotation != Rotation::CounterClockwise && rotation != Rotation::Clockwise) return "rotation is neither way";
  return std::string();
}

}  // namespace lds
