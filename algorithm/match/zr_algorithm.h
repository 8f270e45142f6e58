// The algorithm object: a session bound to an algorithm chain, the template
// type extraction ends with, the sensor's type and size, three switchable
// features, the configuration record, the verification models and the
// replaceable operations (slots) through which every matching operation runs.
//
// The object registers itself in its session as context 11, so a session
// holds at most one algorithm. It is reference counted; the last
// zr_algorithm_delete runs its destroy operation (delete_algorithm), which
// deletes the chain, clears the session keys the object mirrors, removes
// context 11 and releases the session.
#pragma once

#include <cstdint>

#include "liveness/zr_pad.h"
#include "match/chain/zr_algorithm_chain.h"
#include "match/chain/zr_algorithm_config.h"
#include "match/verifiers/zr_verifier.h"
#include "objects/zr_alignment.h"
#include "objects/zr_finger.h"
#include "objects/zr_image.h"
#include "objects/zr_match_result.h"
#include "objects/zr_result.h"
#include "objects/zr_session.h"
#include "objects/zr_storage_writer.h"
#include "objects/zr_template.h"

struct zr_multitemplate_manager;

inline constexpr uint32_t ZR_ALGORITHM_FEATURES = 3;
inline constexpr uint32_t ZR_FEATURE_360 = 0;
inline constexpr uint32_t ZR_FEATURE_SPECTRAL_FULLSEARCH = 1;
inline constexpr uint32_t ZR_FEATURE_INCREASE_HR_SEARCH_RANGE = 2;
inline constexpr uint32_t ZR_FINGER_CLASSES = 8;
inline constexpr uint8_t ZR_DEFAULT_MAX_TEMPLATES = 96;
inline constexpr uint8_t ZR_DEFAULT_MAX_CAPTURES = 32;
inline constexpr uint32_t ZR_NO_COUNT = 0xFFFFFFFFu;

// --- slots ---
using zr_get_chain_match_fn = zr_status (*)(zr_algorithm* algorithm, zr_template* const* templates, uint8_t count,
                                            zr_template* probe, zr_image* image, uint32_t far_level,
                                            zr_match_result* result);
using zr_get_raw_similarity_score_fn = zr_status (*)(zr_algorithm* algorithm, zr_template* const* templates,
                                                     uint8_t count, zr_template* probe, zr_match_result* result);
using zr_extract_template_fn = zr_status (*)(zr_algorithm* algorithm, zr_image* image, zr_finger* finger,
                                             zr_template** inout_template);
using zr_update_multitemplate_fn = zr_status (*)(zr_algorithm* algorithm, zr_template* multitemplate,
                                                 zr_template* const* templates, uint8_t count,
                                                 zr_template** out_template, const zr_storage_writer* writer,
                                                 void* context);
using zr_update_multitemplate_ex_fn = zr_status (*)(zr_algorithm* algorithm, zr_template* multitemplate,
                                                    zr_match_result* result, zr_template** out_template,
                                                    const zr_storage_writer* writer, void* context);
using zr_mask_override_fn = zr_status (*)(zr_session* session, zr_image* image);
using zr_comparison_mode_enabler_fn = zr_status (*)(zr_algorithm* algorithm);
using zr_metadata_extractor_fn = zr_status (*)(zr_session* session, zr_image* image, zr_template** out_template);
using zr_inverted_image_detector_fn = zr_status (*)(zr_session* session, zr_image* image, uint32_t* out_inverted);

struct zr_verify_override {
    zr_get_chain_match_fn get_chain_match;                    // none: the default
    zr_get_raw_similarity_score_fn get_raw_similarity_score;  // none: the default
};
struct zr_update_override {
    zr_update_multitemplate_fn update_multitemplate;
    zr_update_multitemplate_ex_fn update_multitemplate_ex;
};

// Dynamic-FAR record: the FAR shift moves from shift_at_min to shift_at_max
// as the enrolled template count goes from min_templates to max_templates.
struct zr_dynamic_far {
    uint8_t min_templates;
    uint8_t max_templates;
    uint32_t shift_at_min;
    uint32_t shift_at_max;
};

struct zr_algorithm {
    uint32_t ref_count;
    zr_session* session;  // held
    zr_algorithm_chain* chain;  // owned
    uint32_t template_type;
    uint32_t sensor_type;
    uint32_t sensor_size;
    uint32_t feature_state[ZR_ALGORITHM_FEATURES];
    uint32_t feature_mutable[ZR_ALGORITHM_FEATURES];
    zr_algorithm_config config;
    uint32_t min_templates_in_class[ZR_FINGER_CLASSES];
    const zr_vermodel* const* vermodels;               // not owned
    const zr_image_preprocessor* const* preprocessors;  // not owned
    zr_get_chain_match_fn get_chain_match;
    zr_get_raw_similarity_score_fn get_raw_similarity_score;
    zr_extract_template_fn extract_template;
    zr_update_multitemplate_fn update_multitemplate;
    zr_update_multitemplate_ex_fn update_multitemplate_ex;
    zr_mask_override_fn mask_override;
    zr_comparison_mode_enabler_fn comparison_mode_enabler;
    zr_metadata_extractor_fn metadata_extractor;
    zr_model_selector_fn model_selector;
    zr_inverted_image_detector_fn inverted_image_detector;
    zr_dynamic_far dynamic_far[2];
    uint16_t dynamic_far_quarantine_shifts;
    void (*destroy)(zr_algorithm*);  // delete_algorithm
};

// --- construction and life ---

// Zeroes the record, then maximum templates 96 and maximum captures 32.
void zr_algorithm_default_config(zr_algorithm_config* config);
// A new algorithm over the session (a new one when none is given) that takes
// the chain over. The feature lists name indices (0..2) to switch on and to
// make mutable; indices outside are ignored. None when the session already
// has an algorithm or memory runs out; the chain then stays the caller's.
// Session keys written before a failure stay.
zr_algorithm* zr_algorithm_create(zr_session* session, zr_algorithm_chain* chain, uint32_t template_type,
                                  uint32_t sensor_type, uint32_t sensor_size, const uint32_t* features_on,
                                  uint32_t features_on_count, const uint32_t* features_mutable,
                                  uint32_t features_mutable_count, const zr_algorithm_config* config);
zr_algorithm* zr_algorithm_retain(zr_algorithm* algorithm);
void zr_algorithm_delete(zr_algorithm* algorithm);
void delete_algorithm(zr_algorithm* algorithm);

// --- accessors (field reads and writes; no argument checks unless noted) ---
zr_algorithm_config* zr_algorithm_get_config(zr_algorithm* algorithm);
zr_session* zr_algorithm_get_session(const zr_algorithm* algorithm);
zr_algorithm_chain* zr_algorithm_get_algorithm_chain(const zr_algorithm* algorithm);
// Deletes the old chain and takes the new one over.
void zr_algorithm_set_algorithm_chain(zr_algorithm* algorithm, zr_algorithm_chain* chain);
uint32_t zr_algorithm_get_template_type(const zr_algorithm* algorithm);
uint32_t zr_algorithm_get_sensor_type(const zr_algorithm* algorithm);
uint32_t zr_algorithm_get_sensor_size(const zr_algorithm* algorithm);
// 0 for an index outside 0..2.
uint32_t zr_algorithm_get_feature_state(const zr_algorithm* algorithm, uint32_t index);
uint32_t zr_algorithm_feature_is_mutable(const zr_algorithm* algorithm, uint32_t index);
// 1 (nothing changed) for a feature that is not mutable or an index outside
// 0..2; else stores the state, writes it to the feature's key and returns 0.
uint32_t zr_algorithm_set_feature_state(zr_algorithm* algorithm, uint32_t index, uint32_t state);
// None for no algorithm.
const zr_vermodel* const* zr_algorithm_get_vermodels(const zr_algorithm* algorithm);
void zr_algorithm_set_vermodels(zr_algorithm* algorithm, const zr_vermodel* const* vermodels);
// ZR_BAD_ARGUMENT for no algorithm.
[[nodiscard]] zr_status zr_algorithm_set_preprocessors(zr_algorithm* algorithm,
                                                       const zr_image_preprocessor* const* preprocessors);
// Class below 8 and value not negative, else ZR_NO_COUNT (get) or
// ZR_BAD_ARGUMENT (set).
uint32_t zr_algorithm_get_min_templates_in_class(const zr_algorithm* algorithm, uint32_t image_class);
[[nodiscard]] zr_status zr_algorithm_set_min_templates_in_class(zr_algorithm* algorithm, uint32_t image_class,
                                                                int32_t value);
void zr_algorithm_set_mask_override(zr_algorithm* algorithm, zr_mask_override_fn operation);
void zr_algorithm_set_enable_comparison_mode(zr_algorithm* algorithm, zr_comparison_mode_enabler_fn operation);
void zr_algorithm_set_metadata_extractor(zr_algorithm* algorithm, zr_metadata_extractor_fn operation);
void zr_algorithm_set_model_selector(zr_algorithm* algorithm, zr_model_selector_fn operation);
void zr_algorithm_set_inverted_image_detector(zr_algorithm* algorithm, zr_inverted_image_detector_fn operation);
int32_t zr_algorithm_get_slice_rows(const zr_algorithm* algorithm);
[[nodiscard]] zr_status zr_algorithm_set_slice_rows(zr_algorithm* algorithm, int32_t rows);
uint32_t zr_algorithm_get_nbr_of_links(const zr_algorithm* algorithm);
// None outside 0..count-1.
zr_algorithm_link* zr_algorithm_get_link_at_index(const zr_algorithm* algorithm, uint32_t index);
// The last link's verifier.
const zr_verifier_descriptor* zr_algorithm_get_verifier(const zr_algorithm* algorithm);
// The model of the variant for the verifier, falling back to variant 0;
// none without one (or without algorithm).
const zr_vermodel* zr_algorithm_get_vermodel(const zr_algorithm* algorithm, const zr_verifier_descriptor* verifier,
                                             uint16_t variant);

// --- slot setters ---
void zr_algorithm_set_simple_extractor(zr_algorithm* algorithm);
// The operation, or the default when none is given or it is empty.
void zr_algorithm_set_extract_override(zr_algorithm* algorithm, const zr_extract_template_fn* operation);
// Each member, or its default when empty (both defaults without a pair).
void zr_algorithm_set_verify_override(zr_algorithm* algorithm, const zr_verify_override* pair);
void zr_algorithm_set_update_override(zr_algorithm* algorithm, const zr_update_override* pair);

// --- entry points ---

// Runs extract_template with the finger (the anonymous finger when none);
// ZR_FAILURE when it succeeds without a template. The first form clears
// *out_template first; the _ex form hands the caller's template in.
[[nodiscard]] zr_status zr_algorithm_extract_template(zr_algorithm* algorithm, zr_image* image, zr_finger* finger,
                                                      zr_template** out_template);
[[nodiscard]] zr_status zr_algorithm_extract_template_ex(zr_algorithm* algorithm, zr_image* image,
                                                         zr_finger* finger, zr_template** inout_template);
// Verifies the prepared image against count stored templates at the FAR
// level. ZR_BAD_ARGUMENT without image, decision, count, list or algorithm
// (nothing written); otherwise every output is zeroed first and written from
// the match result on success (alignment and updated template retained).
// Alignment, index and updated-template outputs may be none.
[[nodiscard]] zr_status zr_algorithm_verify_image(zr_algorithm* algorithm, zr_template* const* templates,
                                                  uint8_t count, zr_image* image, uint32_t far_level,
                                                  uint32_t* out_decision, zr_alignment** out_alignment,
                                                  uint32_t* out_template_index, uint32_t* out_subtemplate_index,
                                                  zr_template** out_updated_template);
// As zr_algorithm_verify_image, handing out the whole match result (a new
// reference; none on failure).
[[nodiscard]] zr_status zr_algorithm_verify_image_ex(zr_algorithm* algorithm, zr_template* const* templates,
                                                     uint8_t count, zr_image* image, uint32_t far_level,
                                                     zr_match_result** out_result);
// Verification with liveness. ZR_BAD_ARGUMENT without algorithm, liveness
// detector, decision or score output. *out_score := 65535; nothing else is
// cleared. get_chain_match runs on the prepared image (or none); a failure
// returns its code with no other output written. Only a non-zero decision
// runs the liveness detector on the caller's unprepared image; its failure
// leaves the other outputs unwritten; on success every output is written.
// Alignment, index and updated-template outputs may be none.
[[nodiscard]] zr_status zr_algorithm_verify_image_pad(zr_algorithm* algorithm, zr_template* const* templates,
                                                      uint8_t count, zr_image* image, uint32_t far_level,
                                                      zr_pad* pad, uint32_t* out_decision,
                                                      zr_alignment** out_alignment, uint32_t* out_template_index,
                                                      uint32_t* out_subtemplate_index,
                                                      zr_template** out_updated_template, uint16_t* out_score);
// get_chain_match with a probe template and no image.
[[nodiscard]] zr_status zr_algorithm_verify_templates(zr_algorithm* algorithm, zr_template* const* templates,
                                                      uint8_t count, zr_template* probe, uint32_t far_level,
                                                      uint32_t* out_decision, zr_alignment** out_alignment,
                                                      uint32_t* out_template_index,
                                                      uint32_t* out_subtemplate_index);
[[nodiscard]] zr_status zr_algorithm_verify_templates_ex(zr_algorithm* algorithm, zr_template* const* templates,
                                                         uint8_t count, zr_template* probe, uint32_t far_level,
                                                         zr_match_result** out_result);
// Prepares the image when one is given, then get_chain_match into the
// caller's result.
[[nodiscard]] zr_status zr_algorithm_get_match_decision_ex(zr_algorithm* algorithm, zr_template* const* templates,
                                                           uint8_t count, zr_template* probe, zr_image* image,
                                                           uint32_t far_level, zr_match_result* result);
// get_chain_match at FAR level 28 (no decision); the result's FAR score.
[[nodiscard]] zr_status zr_algorithm_get_similarity_score(zr_algorithm* algorithm, zr_template* const* templates,
                                                          uint8_t count, zr_template* probe, uint16_t* out_score);
// get_raw_similarity_score into a new match result; its raw score and
// alignment (retained; may be none).
[[nodiscard]] zr_status zr_algorithm_get_raw_similarity_score(zr_algorithm* algorithm,
                                                              zr_template* const* templates, uint8_t count,
                                                              zr_template* probe, uint16_t* out_score,
                                                              zr_alignment** out_alignment);
[[nodiscard]] zr_status zr_algorithm_get_raw_score_ex(zr_algorithm* algorithm, zr_template* const* templates,
                                                      uint8_t count, zr_template* probe, zr_match_result* result);
// Model selector's variant; 0 without one or on its failure.
uint16_t zr_algorithm_select_model(zr_algorithm* algorithm, zr_template* a, zr_template* b);
// The algorithm's models and model selector, as the raw-score verification of
// a stored multi-template takes them (both none without algorithm).
zr_model_choice zr_algorithm_model_choice(const zr_algorithm* algorithm);
// Inverted-image detector's answer; 0 without one or on its failure.
uint32_t zr_algorithm_is_inverted_image(zr_algorithm* algorithm, zr_image* image);
// ZR_BAD_ARGUMENT without algorithm; the enabler's result; 1 without one.
[[nodiscard]] zr_status zr_algorithm_enable_comparison_mode(zr_algorithm* algorithm);
// Metadata merged into *inout_template (see the source); 0 without extractor
// or when the template already holds metadata.
[[nodiscard]] zr_status zr_algorithm_extract_metadata(zr_algorithm* algorithm, zr_image* image,
                                                      zr_template** inout_template);
// Preferred geometry over the chain: the outs start as the inputs; each
// link's preferred-size answer whose resolution is at least the best so far
// replaces them (a later link wins ties).
void zr_algorithm_get_pref_idim(zr_algorithm* algorithm, uint16_t vertical_dpi, uint16_t horizontal_dpi,
                                uint16_t rows, uint16_t cols, uint16_t* out_vertical_dpi,
                                uint16_t* out_horizontal_dpi, uint16_t* out_rows, uint16_t* out_cols);
// --- building and updating stored multi-templates ---

// A new multi-template manager with the configured capacity, size limit and
// priority (the incremental forms switch it to incremental mode) takes the
// templates with the configured flags and the vermodels, and is encoded with
// the configured encode mode (through the writer in the _to_storage forms)
// into *out_template (none on failure). ZR_BAD_ARGUMENT for a missing
// algorithm, output or list; the enrolment's failure; ZR_NO_MEMORY when the
// manager or the encoding gives nothing.
[[nodiscard]] zr_status zr_algorithm_create_multitemplate(zr_algorithm* algorithm, zr_template* const* templates,
                                                          uint8_t count, zr_template** out_template);
[[nodiscard]] zr_status zr_algorithm_create_incr_multitemplate(zr_algorithm* algorithm,
                                                               zr_template* const* templates, uint8_t count,
                                                               zr_template** out_template);
[[nodiscard]] zr_status zr_algorithm_create_multitemplate_to_storage(zr_algorithm* algorithm,
                                                                     zr_template* const* templates, uint8_t count,
                                                                     zr_template** out_template,
                                                                     const zr_storage_writer* writer,
                                                                     void* context);
[[nodiscard]] zr_status zr_algorithm_create_incr_multitemplate_to_storage(zr_algorithm* algorithm,
                                                                          zr_template* const* templates,
                                                                          uint8_t count, zr_template** out_template,
                                                                          const zr_storage_writer* writer,
                                                                          void* context);
// The update slots. *out_template is cleared first; ZR_BAD_ARGUMENT for a
// missing algorithm or output; otherwise the slot's result. The plain forms
// pass no storage writer.
[[nodiscard]] zr_status zr_algorithm_update_multitemplate(zr_algorithm* algorithm, zr_template* multitemplate,
                                                          zr_template* const* templates, uint8_t count,
                                                          zr_template** out_template);
[[nodiscard]] zr_status zr_algorithm_update_multitemplate_to_storage(zr_algorithm* algorithm,
                                                                     zr_template* multitemplate,
                                                                     zr_template* const* templates, uint8_t count,
                                                                     zr_template** out_template,
                                                                     const zr_storage_writer* writer,
                                                                     void* context);
[[nodiscard]] zr_status zr_algorithm_update_multitemplate_ex(zr_algorithm* algorithm, zr_template* multitemplate,
                                                             zr_match_result* result, zr_template** out_template);
[[nodiscard]] zr_status zr_algorithm_update_multitemplate_to_storage_ex(zr_algorithm* algorithm,
                                                                        zr_template* multitemplate,
                                                                        zr_match_result* result,
                                                                        zr_template** out_template,
                                                                        const zr_storage_writer* writer,
                                                                        void* context);
// update_multitemplate with no new templates. ZR_BAD_ARGUMENT for a missing
// argument; ZR_FAILURE without a template becomes ZR_ENROLL_COMPLETE.
[[nodiscard]] zr_status zr_algorithm_reenroll_multitemplate(zr_algorithm* algorithm, zr_template* multitemplate,
                                                            zr_template** out_template);
// Removes every unlocked template of the class from the multi-template and
// re-encodes it with encode mode 0 whatever the configuration says. With the
// flag set nothing is encoded and the result is ZR_UNHANDLED_INPUT.
// *out_template is cleared first; ZR_BAD_ARGUMENT for a missing argument;
// ZR_NO_MEMORY when no manager can be made of the template or the encoding
// gives nothing; the removal's failure.
[[nodiscard]] zr_status zr_algorithm_delete_templates_in_class(zr_algorithm* algorithm, zr_template* multitemplate,
                                                               uint16_t image_class, zr_template** out_template,
                                                               uint32_t flag);
// The manager the creation uses: configured maximum templates, maximum
// template size and the one priority record {priority class, priority
// level}. None when out of memory.
zr_multitemplate_manager* zr_algorithm_configured_manager(const zr_algorithm* algorithm);
// The flags with which templates enter a multi-template: with dynamic update
// 1 when "zr.dynupdate.fast" (default 5) is below 1, else 5; 2 added with the
// extra enrol flag.
uint32_t zr_algorithm_configured_flags(const zr_algorithm* algorithm);

// Count of the multi-template's templates in the class; ZR_NO_COUNT for a
// class above 7, a missing argument or a template no manager can be made of.
uint32_t zr_algorithm_get_nbr_of_templates_in_class(zr_algorithm* algorithm, zr_template* multitemplate,
                                                    uint16_t image_class);

// --- verification models ---

// The last link's verifier's model (variant 1 first when the 360 state is
// off, then variant 0) decides the score at template count 1.
// ZR_BAD_ARGUMENT without algorithm or decision; ZR_UNHANDLED_INPUT (decision
// 0) without a model or thresholds; else zr_verifier_decision_from_score.
[[nodiscard]] zr_status zr_algorithm_get_decision_from_raw_similarity_score(zr_algorithm* algorithm,
                                                                           uint16_t score, uint32_t far_level,
                                                                           uint32_t* out_decision);

// --- dynamic FAR ---

// Mask bit 0 copies the record into the first dynamic-FAR record, bit 1 into
// the second.
void zr_algorithm_set_config_internal(zr_algorithm* algorithm, const zr_dynamic_far* record, uint32_t mask);
// The FAR level for a verification against the multi-templates (see the
// source for the interpolation; the division rounds half away from zero).
uint32_t zr_algorithm_get_config_internal(zr_algorithm* algorithm, zr_template* const* templates, uint8_t count,
                                          uint32_t far_level, int32_t mode);
void zr_algorithm_set_dynamic_far_quarantine_shifts(zr_algorithm* algorithm, uint16_t shifts);

// --- default operations and their shared services ---

// With neither preprocessors nor mask override: *out is the caller's image
// with one more reference. Otherwise a copy through each preprocessor in
// order (ZR_NO_MEMORY when one fails) and the mask override (its non-zero
// result returned). *out is none on failure.
[[nodiscard]] zr_status prepare_image_for_extraction(zr_algorithm* algorithm, zr_image* image, zr_image** out);
// A new array (free() it after releasing each entry) of n references: type-80
// templates as they are, others wrapped in a multi-template of one. None on
// any failure (a missing entry included).
zr_template** create_enrolled_multitemplates(zr_algorithm* algorithm, zr_template* const* templates, int32_t n);
void release_template_array(zr_template** templates, int32_t n);

[[nodiscard]] zr_status default_extract_template(zr_algorithm* algorithm, zr_image* image, zr_finger* finger,
                                                 zr_template** inout_template);
[[nodiscard]] zr_status default_simple_extract(zr_algorithm* algorithm, zr_image* image, zr_finger* finger,
                                               zr_template** inout_template);
[[nodiscard]] zr_status default_get_chain_match(zr_algorithm* algorithm, zr_template* const* templates,
                                                uint8_t count, zr_template* probe, zr_image* image,
                                                uint32_t far_level, zr_match_result* result);
[[nodiscard]] zr_status default_get_raw_similarity_score(zr_algorithm* algorithm, zr_template* const* templates,
                                                         uint8_t count, zr_template* probe,
                                                         zr_match_result* result);
// A manager over the multi-template with the configured size limit and the
// replacement strategy "zr.dynupdate.fast" (default 5; 4 counts as 0) takes
// the templates with the dynamic-update word as flags; when it reports an
// update the record is encoded with encode mode 0 into *out_template and the
// enrolment's result is returned. A failed enrolment, no update or a failed
// encoding give ZR_NO_MEMORY and no template.
[[nodiscard]] zr_status default_update_multitemplate(zr_algorithm* algorithm, zr_template* multitemplate,
                                                     zr_template* const* templates, uint8_t count,
                                                     zr_template** out_template, const zr_storage_writer* writer,
                                                     void* context);
// Dynamic update from a verification: 0 and no template when
// "zr.dynupdate.mode" (default 0) is set and the result's overlap area is
// below "zr.dynupdate.minarea" (default 15). Otherwise the result's probe
// image is extracted into its probe template, which enters a manager over the
// multi-template (replacement strategy "zr.dynupdate.fast" as it is, the
// result's subtemplate tag and overlap area, the minimum templates per class)
// with the dynamic-update word as flags; the record is encoded with encode
// mode 0 whether or not it changed. ZR_NO_MEMORY when the manager or the
// encoding gives nothing; ZR_FAILURE without a probe template; the
// enrolment's failure.
[[nodiscard]] zr_status default_update_multitemplate_ex(zr_algorithm* algorithm, zr_template* multitemplate,
                                                        zr_match_result* result, zr_template** out_template,
                                                        const zr_storage_writer* writer, void* context);
