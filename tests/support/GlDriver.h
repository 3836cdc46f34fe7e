#pragma once

#include <dlfcn.h>

#include <cstdlib>
#include <string>

// Under Xvfb, Mesa renders through its software DRI driver, which it unloads
// when the display closes at exit. The leak checker then no longer sees the
// driver's globals and reports the blocks they held as leaked. Keeping the
// driver mapped until the process ends avoids that false report.
inline void KeepSoftwareGlDriverLoaded() {
#ifdef LDS_DRI_DIR
  const char* dir = std::getenv("LIBGL_DRIVERS_PATH");
  const std::string path = std::string(dir && *dir ? dir : LDS_DRI_DIR) + "/swrast_dri.so";
  dlopen(path.c_str(), RTLD_LAZY | RTLD_NODELETE);
#endif
}
