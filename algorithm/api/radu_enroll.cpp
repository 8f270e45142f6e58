// The enrolment side of the exported interface: the process-wide enrolment
// state (the enrolment in progress, its capture count, the finished template
// kept until it is saved, the enrolled-count word) and the calls that touch
// it, all under one process-wide lock. Init and exit also drop the probe
// that verification keeps (radu_probe_memo.h).
#include <cstdio>
#include <cstring>
#include <mutex>

#include "api/fpmatch.h"
#include "api/fpmatch_export.h"
#include "api/radu_probe_memo.h"
#include "api/radu_sample.h"
#include "match/zr_algorithm.h"
#include "match/enroll/zr_multitemplate_enroll.h"
#include "match/zr_presets.h"
#include "objects/zr_finger.h"
#include "objects/zr_image.h"
#include "objects/zr_template.h"

namespace {

constexpr uint8_t kRequiredCaptures = RADU_ENROLL_COMPLETE;
constexpr uint32_t kMaxTemplateSize = RADU_TEMPLATE_BUFFER_SIZE;
// Enrolment captures are taken as 508 dpi images.
constexpr uint16_t kEnrolDpi = 508;

constexpr char kMoveMore[] = "UI feedback: Move finger more!\n";
constexpr char kMoveLess[] = "        UI feedback: Do not move finger too much\n";

struct EnrolState {
    int32_t progress = 0;           // counted calls of the enrolment in progress
    int32_t required = 0;           // counted calls that complete it
    zr_algorithm* algorithm = nullptr;
    zr_multitemplate_enroll* enrolment = nullptr;
    zr_template* kept = nullptr;    // finished template of the last enrolment
    uint32_t enrolled_count = 0;    // written, never read
};

std::mutex g_lock;
EnrolState g_state;

// --- callbacks handed to the enrolment engine ---

uint32_t on_feedback(zr_session*, uint32_t code, void*) {
    if (code == ZR_ENROLL_FEEDBACK_NOT_MOVED) std::fputs(kMoveMore, stdout);
    if (code == ZR_ENROLL_FEEDBACK_NO_OVERLAP) std::fputs(kMoveLess, stdout);
    return 0;
}
// 1: the engine frees the island descriptors.
uint32_t on_islands(zr_session*, zr_enroll_island*, uint8_t) { return 1; }
uint32_t on_canvas(zr_session*, zr_image*) { return 1; }
uint32_t on_slot3(zr_session*) { return 1; }
uint32_t on_progress(zr_session*, uint32_t, uint32_t) { return 1; }

const zr_enroll_callbacks kCallbacks = {on_feedback, on_islands, on_canvas, on_slot3,
                                        on_progress, nullptr,    nullptr,   nullptr};

// --- state changes (the lock is held) ---

void drop_kept_template() {
    zr_template_delete(g_state.kept);
    g_state.kept = nullptr;
}

// Ends the enrolment in progress, releasing its objects.
void end_enrolment() {
    g_state.progress = 0;
    zr_multitemplate_enroll_delete(g_state.enrolment);
    g_state.enrolment = nullptr;
    zr_algorithm_delete(g_state.algorithm);
    g_state.algorithm = nullptr;
}

// Builds the algorithm and the enrolment object of a new enrolment; false
// (nothing kept) when either cannot be made.
bool begin_enrolment() {
    zr_algorithm* algorithm = gen_192x80_hybridhr_create(nullptr);
    if (algorithm == nullptr) return false;
    zr_algorithm_config* config = zr_algorithm_get_config(algorithm);
    config->max_captures = kRequiredCaptures;
    config->max_template_size = kMaxTemplateSize;
    (void)zr_algorithm_set_feature_state(algorithm, ZR_FEATURE_360, 1);
    zr_multitemplate_enroll* enrolment =
        zr_multitemplate_enroll_create_algorithm(algorithm, ZR_FINGER_ANONYMOUS, &kCallbacks, nullptr);
    if (enrolment == nullptr) {
        zr_algorithm_delete(algorithm);
        return false;
    }
    g_state.algorithm = algorithm;
    g_state.enrolment = enrolment;
    g_state.required = kRequiredCaptures;
    return true;
}

// Finalises the enrolment: 6 with the template kept, or -1. Either way the
// enrolment ends.
int32_t finish_enrolment() {
    zr_template* finished = nullptr;
    const zr_status rc =
        zr_multitemplate_enroll_finalize_template_algorithm(g_state.algorithm, g_state.enrolment, &finished);
    const bool complete = rc == ZR_OK && finished != nullptr && g_state.progress >= g_state.required;
    end_enrolment();
    if (!complete) {
        zr_template_delete(finished);
        return RADU_ENROLL_FAILED;
    }
    g_state.kept = finished;
    return g_state.required;
}

int32_t fail_enrolment() {
    end_enrolment();
    return RADU_ENROLL_FAILED;
}

}  // namespace

FPMATCH_EXPORT int32_t RADU_alg_init(void) {
    const std::lock_guard<std::mutex> hold(g_lock);
    end_enrolment();
    drop_kept_template();
    g_state.enrolled_count = 0;
    radu_probe_memo_clear();
    return 0;
}

FPMATCH_EXPORT int32_t RADU_alg_exit(void) {
    {
        const std::lock_guard<std::mutex> hold(g_lock);
        g_state.enrolled_count = 0;
    }
    radu_probe_memo_clear();
    return 0;
}

FPMATCH_EXPORT int32_t RADU_alg_get_enrolled_count(uint32_t n) {
    const std::lock_guard<std::mutex> hold(g_lock);
    g_state.enrolled_count = n;
    return 0;
}

FPMATCH_EXPORT int32_t RADU_alg_request_enroll(uint32_t, const uint8_t* sample) {
    const std::lock_guard<std::mutex> hold(g_lock);
    if (g_state.progress == 0) {
        // A template kept from an earlier enrolment must never be saved as
        // this one's: from here on none is kept until this enrolment
        // completes, so no failure below leaves one.
        drop_kept_template();
        if (!begin_enrolment()) return RADU_ENROLL_NO_OBJECT;
    }
    // A sample that cannot be wrapped (a missing one included) ends the
    // enrolment as a finalisation with too few captures would.
    zr_image* image = radu_wrap_sample_copy(sample, kEnrolDpi);
    if (image == nullptr) return fail_enrolment();
    const zr_status rc = zr_multitemplate_enroll_run(g_state.enrolment, image, nullptr, nullptr);
    zr_image_delete(image);
    ++g_state.progress;
    if (rc == ZR_ENROLL_COMPLETE || (rc == ZR_OK && g_state.progress >= g_state.required))
        return finish_enrolment();
    if (rc != ZR_OK) return fail_enrolment();
    return g_state.progress;
}

FPMATCH_EXPORT int32_t RADU_alg_save_template(uint32_t, uint8_t* out, uint8_t* type_out) {
    const std::lock_guard<std::mutex> hold(g_lock);
    if (g_state.kept == nullptr || out == nullptr) return 0;
    const uint32_t size = zr_template_get_data_size(g_state.kept);
    if (size > kMaxTemplateSize) {
        drop_kept_template();
        return 0;
    }
    if (type_out != nullptr) *type_out = static_cast<uint8_t>(zr_template_get_type(g_state.kept));
    if (size != 0) std::memcpy(out, zr_template_get_data(g_state.kept), size);
    drop_kept_template();
    return static_cast<int32_t>(size);
}
