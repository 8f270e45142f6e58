// The driver side of the split scenario: the USB sensor driver and the
// simulated sensor under the simulated driver host, serving capture requests
// over two pipes.
//   e2e_driver_child SECTION_PREFIX TIME_DIVISOR REQUEST_FD REPLY_FD
#include <cstdlib>
#include <string>

#include "biometric_driver.h"
#include "fpdemo_device.h"
#include "match_section.h"
#include "win_section.h"
#include "win_sync.h"

int main(int argc, char** argv) {
    if (argc != 5) return 2;
    fp_platform::set_section_name_prefix(argv[1]);
    fp_platform::set_time_divisor(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)));
    const int rc = fpdemo::serve_captures(std::atoi(argv[3]), std::atoi(argv[4]), &DllGetClassObject,
                                          fpusbdrv::CLSID_BiometricDriver);
    // The driver keeps the section of its last capture; let it go.
    fpusbdrv::clrmem();
    return rc;
}
