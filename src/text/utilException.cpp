// BQUtilException's key function: its one virtual operation, defined here so
// that the type's vtable and type information live in the library once.
#include "brackwell/utilTokenizer.h"

namespace Brackwell {
BQUtilException::~BQUtilException() = default;
} // namespace Brackwell
