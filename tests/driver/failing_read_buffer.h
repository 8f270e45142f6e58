// Fault injection for the driver tests: this build of the driver takes its
// read buffers from failing_read_buffer.cpp, which fails on request. The
// driver module links the plain allocation instead.
#pragma once

namespace fpusbdrv {

// The next `count` allocations of a capture's read buffer fail.
void fail_next_read_buffer_allocations(int count);

}  // namespace fpusbdrv
