// Enrolment engine: turns a series of captures of one finger into a stored
// multi-template.
//
// Each run extracts a capture (or takes a ready template), compares it along
// the algorithm chain with the captures accepted so far, accepts it or sets
// it aside as a duplicate, groups the captures into islands of overlapping
// captures, redraws the feedback canvas and measures the covered area; the
// application follows through the callbacks table. Finalisation hands the
// accepted captures and their match matrix to the multi-template manager,
// which selects and encodes the "ZRMT" template (type 80).
//
// The object registers itself in its session as context 9 (no destroy
// operation); only one enrolment per session exists at a time.
#pragma once

#include <cstdint>

#include "imaging/bal_polygon.h"
#include "match/zr_algorithm.h"
#include "match/update/zr_island.h"
#include "objects/zr_finger.h"
#include "objects/zr_image.h"
#include "objects/zr_match.h"
#include "objects/zr_result.h"
#include "objects/zr_session.h"
#include "objects/zr_template.h"

// Feedback codes (callback slot 0).
inline constexpr uint32_t ZR_ENROLL_FEEDBACK_EXTRACTED = 8203;   // data: finger, after every extraction attempt
inline constexpr uint32_t ZR_ENROLL_FEEDBACK_NO_OVERLAP = 4104;  // data 0: quality check failed; finger: no match
inline constexpr uint32_t ZR_ENROLL_FEEDBACK_NOT_MOVED = 4103;   // data: finger; duplicate of the latest capture
inline constexpr uint32_t ZR_ENROLL_FEEDBACK_DUPLICATE = 61441;  // data 0; capture set aside as a duplicate

// Leaf flags of an island descriptor.
inline constexpr uint8_t ZR_ENROLL_LEAF_LATEST = 0x01;
inline constexpr uint8_t ZR_ENROLL_LEAF_REJECTED = 0x02;

// One capture of an island: its template (no reference) and its rectangle on
// the canvas's coordinate frame (the island's top capture at the origin,
// 500 dpi pixels), corners (0,0), (W,0), (W,H), (0,H) in that order.
struct zr_enroll_leaf {
    zr_template* tmpl;
    bal_point corners[4];
    uint8_t flags;
};

struct zr_enroll_island {
    zr_enroll_leaf* leaves;  // heap array
    uint8_t nbr_of_leaves;
};

// Frees descriptors handed out by callback slot 1 (when the callee kept
// them); none is accepted.
void zr_enroll_islands_free(zr_enroll_island* islands, uint8_t count);

// Callbacks; each takes the session first; none skips the slot.
struct zr_enroll_callbacks {
    uint32_t (*feedback)(zr_session* session, uint32_t code, void* data);
    // 1: the engine frees the descriptors afterwards; other values: the callee
    // keeps them (zr_enroll_islands_free).
    uint32_t (*islands)(zr_session* session, zr_enroll_island* islands, uint8_t count);
    uint32_t (*canvas)(zr_session* session, zr_image* canvas);
    uint32_t (*slot3)(zr_session* session);  // not called
    uint32_t (*progress)(zr_session* session, uint32_t accepted, uint32_t max_captures);
    // Only with the capture veto option: 0 lets the (possibly changed) flag
    // decide whether the capture is a duplicate; anything else accepts it.
    uint32_t (*duplicate_decision)(zr_session* session, uint32_t* inout_duplicate);
    uint32_t (*slot6)(zr_session* session);  // not called
    uint32_t (*slot7)(zr_session* session);  // not called
};

// The caller's options, copied whole into the object.
struct zr_enroll_options {
    uint32_t reserved_a;  // 20
    uint32_t reserved_b;  // 121
    uint32_t reserved_c;  // 50
    uint32_t reserved_d;  // 1
    uint16_t reserved_e;  // 30000
    uint16_t max_captures;        // N; must not be 0
    uint32_t encode_mode;         // for the manager's encoder
    uint32_t dynamic_update;      // matching at FAR level 15 instead of 12
    uint32_t max_template_size;   // for the manager
    uint32_t extra_enroll_flag;   // adds selection flag 2
    zr_image* base_image;         // canvas background or none (the object takes a reference)
    uint32_t capture_veto;        // callback slot 5 decides on duplicates
    uint16_t duplicate_distance;  // 10
    uint8_t duplicate_angle;      // 16
    uint8_t priority_level;
    uint32_t priority_class;
};

// The options with their defaults and N captures.
zr_enroll_options zr_enroll_options_default(uint16_t max_captures);

struct zr_multitemplate_enroll;

struct zr_mte_capture {
    zr_mte_capture* next;
    zr_mte_capture* previous;
    zr_template* tmpl;  // one reference
    uint32_t rejected;  // 1: set aside as a duplicate
};

using zr_mte_hook_fn = void (*)(void* context, zr_multitemplate_enroll* object, zr_image* image,
                                zr_template* tmpl, uint8_t* coverage);
using zr_mte_release_fn = void (*)(void* context);

struct zr_multitemplate_enroll {
    zr_status (*run)(zr_multitemplate_enroll*, zr_image*, zr_template*, uint8_t*);
    uint16_t (*get_nbr_of_captures)(const zr_multitemplate_enroll*);
    zr_status (*finalize_template)(zr_multitemplate_enroll*, uint8_t, zr_template**);
    zr_status (*finalize_template_algorithm)(zr_algorithm*, zr_multitemplate_enroll*, zr_template**);
    void (*destroy)(zr_multitemplate_enroll*);
    const zr_enroll_callbacks* (*getgui)(const zr_multitemplate_enroll*);
    void (*set_duplicate_tolerance)(zr_multitemplate_enroll*, uint16_t, uint8_t);
    zr_session* (*get_session)(const zr_multitemplate_enroll*);
    zr_status (*reset)(zr_multitemplate_enroll*);

    void* hook_context;
    zr_mte_hook_fn hook;
    zr_mte_release_fn hook_release;

    zr_algorithm* algorithm;  // one reference
    zr_session* session;      // one reference
    zr_finger* finger;        // one reference or none
    void* caller_value;
    const zr_enroll_callbacks* callbacks;  // not owned, may be none
    uint32_t template_type;
    zr_enroll_options options;
    zr_image* canvas;  // owned, none without a base image
    zr_image* base;    // one reference or none

    zr_template** templates;  // [N], accepted captures, one reference each
    zr_mte_capture* first_capture;
    zr_mte_capture* last_capture;
    uint32_t nbr_of_capture_records;
    uint16_t accepted;
    zr_match** matrix;  // [N x N]: [i][j] = matrix[i * N + j], one reference each
    uint32_t matrix_size;  // N
    zr_match_list matches;  // accepting matches, by score
    zr_island_list islands;
    const zr_template* placed_top;  // top template of the first island at the last offset computation
    uint32_t capture_height;        // 500 dpi pixels
    uint32_t capture_width;
    int32_t canvas_offset_x;
    int32_t canvas_offset_y;
    uint32_t far_level;
    uint8_t coverage;
};

// A new enrolment object, or none when options.max_captures is 0, an
// argument is missing (algorithm, session, options), the session already
// holds an enrolment, or memory runs out (nothing is then kept).
zr_multitemplate_enroll* zr_multitemplate_enroll_create(zr_algorithm* algorithm, zr_session* session,
                                                        zr_finger* finger, void* caller_value,
                                                        const zr_enroll_callbacks* callbacks,
                                                        uint32_t template_type, const zr_enroll_options* options);
// The same with the algorithm's template type, session and configuration.
zr_multitemplate_enroll* zr_multitemplate_enroll_create_algorithm(zr_algorithm* algorithm, zr_finger* finger,
                                                                  const zr_enroll_callbacks* callbacks,
                                                                  zr_image* base_image);

// One capture: an image to extract, or a ready template (used when given).
// *coverage (optional) receives the covered area in per cent, never less than
// reported before. ZR_OK also for a capture set aside (duplicate, failed
// quality check; the feedback tells). ZR_ENROLL_COMPLETE (19) once N captures
// are accepted; ZR_BAD_ARGUMENT for no object, neither image nor template, or
// an image with a resolution of 0; extraction and matcher failures pass
// through; ZR_NO_MEMORY.
[[nodiscard]] zr_status zr_multitemplate_enroll_run(zr_multitemplate_enroll* object, zr_image* image,
                                                    zr_template* tmpl, uint8_t* coverage);
// Accepted captures; 0 for no object.
uint16_t zr_multitemplate_enroll_get_nbr_of_captures(const zr_multitemplate_enroll* object);
// Selects at most max_templates of the accepted captures into a new type-80
// template (*out, none on failure). ZR_BAD_ARGUMENT for no object or out;
// ZR_NO_MEMORY; the selection's and the encoder's failures.
[[nodiscard]] zr_status zr_multitemplate_enroll_finalize_template(zr_multitemplate_enroll* object,
                                                                  uint8_t max_templates, zr_template** out);
// The same with the algorithm's maximum templates.
[[nodiscard]] zr_status zr_multitemplate_enroll_finalize_template_algorithm(zr_algorithm* algorithm,
                                                                            zr_multitemplate_enroll* object,
                                                                            zr_template** out);
void zr_multitemplate_enroll_set_duplicate_tolerance(zr_multitemplate_enroll* object, uint16_t distance,
                                                     uint8_t angle);
// Forgets the accepted captures, the matrix and the islands; keeps the
// capture list and the match list. ZR_BAD_ARGUMENT for no object.
[[nodiscard]] zr_status zr_mte_reset(zr_multitemplate_enroll* object);
// Releases everything and frees the object; none is accepted.
void zr_multitemplate_enroll_delete(zr_multitemplate_enroll* object);
// The callbacks table; none for no object or no slot.
const zr_enroll_callbacks* zr_multitemplate_getgui(const zr_multitemplate_enroll* object);
zr_session* zr_mte_get_session(const zr_multitemplate_enroll* object);
