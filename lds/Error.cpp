#include "lds/Error.h"

#include "lds/lds.h"

#ifndef LDS_VERSION
#error "the build defines LDS_VERSION"
#endif

namespace lds {

// Defined here, so that the class's type information lives in the library
// and a program catches the library's exceptions as lds::Error.
Error::Error(const std::string& what) : std::runtime_error(what) {}
Error::~Error() = default;

const char* Version() { return LDS_VERSION; }

}  // namespace lds
