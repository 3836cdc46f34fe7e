#pragma once

// The library for rotating 2-D laser distance sensors: open a sensor on a
// serial port or a network address, start it, and take whole revolutions of
// points; or read a raw recording the same way. Link with -llds (pkg-config
// lds) or, in CMake, find_package(lds) and target_link_libraries(... lds::lds).

#include "lds/Error.h"
#include "lds/Export.h"
#include "lds/LinkStats.h"
#include "lds/RawReader.h"
#include "lds/Revolution.h"
#include "lds/Sensor.h"
#include "lds/Settings.h"

namespace lds {

// The library's version, "MAJOR.MINOR.PATCH".
LDS_API const char* Version();

}  // namespace lds
