/* The exported interface of the fingerprint algorithm library (fpmatch).
 *
 * Plain C declarations, usable from C and C++. Integers are 32-bit. A sample
 * is always the sensor's raw frame: 16896 bytes, 8 bits a pixel, 176 rows by
 * 96 columns, row after row. The library never writes to a sample and keeps
 * no pointer to one; the only sample bytes it keeps after a call returns are
 * verification's copy of its most recent sample, described below.
 *
 * One enrolment per process: the enrolment in progress, its capture count and
 * the finished template are process-wide, so an RADU_alg_init from any caller
 * (another pipeline included) ends an enrolment in progress and drops a
 * finished template that was not saved. The enrolment calls (init, exit,
 * enrol, save, enrolled count) are serialised by one process-wide lock;
 * verification and quality may run from any thread at any time, also while
 * an enrolment runs.
 *
 * Verification keeps one thing between calls: the template it extracted
 * from the most recent sample, with a copy of the sample's bytes it
 * extracted from (its own copy, taken when the call began), so that
 * the same sample verified against one stored template after another (an
 * identification) is extracted once. It is found only when every byte of
 * the sample is the same, never changes an answer, is guarded by its own
 * lock, and is overwritten with zeros and freed when another sample
 * replaces it and by RADU_alg_init and RADU_alg_exit.
 */
#ifndef FPMATCH_H
#define FPMATCH_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Size of the sample in bytes and of the buffer RADU_alg_save_template fills. */
#define RADU_SAMPLE_ROWS 176
#define RADU_SAMPLE_COLS 96
#define RADU_TEMPLATE_BUFFER_SIZE 20480

/* Enrolment step codes of RADU_alg_request_enroll besides the 1..5 captures
 * counted so far. */
#define RADU_ENROLL_COMPLETE 6
#define RADU_ENROLL_FAILED (-1)
#define RADU_ENROLL_NO_OBJECT (-1008)

/* Results of RADU_alg_request_verify besides the negated library codes. */
#define RADU_VERIFY_MATCH 1
#define RADU_VERIFY_NO_MATCH (-10000)

/* 0. Ends an enrolment in progress (its objects are released), drops a kept
 * template and the template kept from the last verification sample, and
 * zeroes the capture count and the enrolled-count word. */
int32_t RADU_alg_init(void);

/* 0. Zeroes the enrolled-count word and drops the template kept from the
 * last verification sample. */
int32_t RADU_alg_exit(void);

/* 0. Stores n in the enrolled-count word (nothing reads it). */
int32_t RADU_alg_get_enrolled_count(uint32_t n);

/* The constant text "ZR"; the same pointer on every call. */
const char* RADU_alg_get_version(void);

/* 0; do nothing. */
int32_t RADU_alg_load_template(uint32_t n, const uint8_t* bytes, uint32_t size);
int32_t RADU_alg_cancel_enroll(uint32_t n);
int32_t RADU_alg_is_enrolled(uint32_t n);
int32_t RADU_alg_remove_fingerprint(uint32_t n);

/* One enrolment capture (n is ignored). Every call counts, a capture set
 * aside as a duplicate too. Returns 1..5 (captures counted, the enrolment
 * goes on), 6 (complete: the finished template is kept for
 * RADU_alg_save_template), -1 (failed: the enrolment is abandoned, a sample
 * that is missing or cannot be wrapped included) or -1008 (the enrolment
 * could not be started). The first call of an enrolment and every failed one
 * drop a template kept from an earlier enrolment. The captures are taken at
 * 508 dpi. Prints "UI feedback: Move finger more!" or
 * "        UI feedback: Do not move finger too much" to standard output when
 * the capture was not moved or overlaps nothing accepted. */
int32_t RADU_alg_request_enroll(uint32_t n, const uint8_t* sample);

/* Verifies the sample (taken at 500 dpi) against a stored template (a "ZRMT"
 * record, copied; the caller's bytes are not changed) at false-accept level
 * 12 (one in 10000). Returns 1 for a match, -10000 for no match, or minus a
 * library result code: -2 for a missing sample, a missing template or size
 * 0, -9 when memory runs out. The sample's extracted template is kept for
 * the next call (see above). */
int32_t RADU_alg_request_verify(const uint8_t* sample, const uint8_t* template_bytes, uint32_t template_size);

/* Hands out the kept template (n is ignored): writes its type (80) as one
 * byte to *type_out (when given), copies its bytes to out and returns their
 * count; the library then keeps none. Writes nothing and returns 0 when no
 * template is kept or out is missing; a kept template larger than
 * RADU_TEMPLATE_BUFFER_SIZE is dropped without being copied (0). */
int32_t RADU_alg_save_template(uint32_t n, uint8_t* out, uint8_t* type_out);

/* The sample's image quality value as the library measures it; 0 on any
 * failure, a missing sample included. The sample is read in place. */
int32_t RADU_image_quality(const uint8_t* sample);

#ifdef __cplusplus
}
#endif

#endif /* FPMATCH_H */
