// Fault injection for tests: makes the driver's allocations fail.
#pragma once

namespace fpusbdrv {

// The next `count` allocations of a capture's read buffer fail.
void fail_next_read_buffer_allocations(int count);

}  // namespace fpusbdrv
