// Allocation of the capture's read buffer.
#include "read_buffer.h"

#include <new>

#include "capture_data.h"

namespace fpusbdrv {

BYTE* allocate_read_buffer() { return new (std::nothrow) BYTE[kImageBytes](); }

}  // namespace fpusbdrv
