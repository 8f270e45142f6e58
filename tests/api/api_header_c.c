/* The exported header compiled as C: the twelve entry points as a C caller
 * sees them. */
#include "api/fpmatch.h"

typedef void (*entry)(void);

/* The entry points in the header's order; count in *n. */
const entry* api_header_c_entries(int* n) {
    static const entry entries[] = {
        (entry)RADU_alg_init,
        (entry)RADU_alg_exit,
        (entry)RADU_alg_get_enrolled_count,
        (entry)RADU_alg_get_version,
        (entry)RADU_alg_load_template,
        (entry)RADU_alg_cancel_enroll,
        (entry)RADU_alg_is_enrolled,
        (entry)RADU_alg_remove_fingerprint,
        (entry)RADU_alg_request_enroll,
        (entry)RADU_alg_request_verify,
        (entry)RADU_alg_save_template,
        (entry)RADU_image_quality,
    };
    *n = (int)(sizeof entries / sizeof entries[0]);
    return entries;
}
