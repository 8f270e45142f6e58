#include "match/enroll/zr_mte_finalize.h"

#include <cstdlib>

#include "match/multitemplate/zr_mtm.h"
#include "match/update/zr_mtm_enroll.h"
#include "match/multitemplate/zr_mtm_selection.h"
#include "match/multitemplate/zr_multitemplate_manager.h"
#include "objects/zr_alloc.h"

namespace {

// The selection reads a count x count matrix; the enrolment keeps an N x N
// one whose first count rows and columns are in use.
zr_match** compact_matrix(zr_match* const* matrix, uint32_t stride, uint32_t count) {
    auto** packed = static_cast<zr_match**>(zr_calloc(size_t(count) * count, sizeof(zr_match*)));
    if (packed == nullptr) return nullptr;
    for (uint32_t i = 0; i < count; ++i)
        for (uint32_t j = 0; j < count; ++j) packed[i * count + j] = matrix[i * stride + j];
    return packed;
}

void delete_entries(zr_mtm_entry** entries, uint32_t count) {
    if (entries == nullptr) return;
    for (uint32_t i = 0; i < count; ++i) zr_mtm_template_delete(entries[i]);
    free(entries);
}

zr_mtm_entry** wrap_templates(zr_template* const* templates, uint32_t count) {
    auto** entries = static_cast<zr_mtm_entry**>(zr_calloc(count ? count : 1, sizeof(zr_mtm_entry*)));
    if (entries == nullptr) return nullptr;
    for (uint32_t i = 0; i < count; ++i) {
        entries[i] = zr_mtm_template_create(templates[i]);
        if (entries[i] == nullptr) {
            delete_entries(entries, count);
            return nullptr;
        }
    }
    return entries;
}

zr_multitemplate_manager* create_manager(const zr_mte_selection_request& r) {
    zr_multitemplate_manager* manager = zr_multitemplate_manager_create(r.max_templates);
    if (manager == nullptr) return nullptr;
    zr_multitemplate_manager_set_max_template_size(manager, r.max_template_size);
    const zr_mtm_priority priority{r.priority_class, r.priority_level};
    if (zr_multitemplate_manager_set_template_priority(manager, &priority, 1) != ZR_OK) {
        zr_multitemplate_manager_delete(manager);
        return nullptr;
    }
    return manager;
}

}  // namespace

zr_status zr_mte_select_and_encode(const zr_mte_selection_request* request, zr_template* const* templates,
                                   zr_match* const* matrix, uint32_t stride, uint32_t count, zr_template** out) {
    if (out != nullptr) *out = nullptr;
    if (request == nullptr || templates == nullptr || matrix == nullptr || out == nullptr || count > stride)
        return ZR_BAD_ARGUMENT;
    zr_multitemplate_manager* manager = create_manager(*request);
    zr_mtm_entry** entries = manager != nullptr ? wrap_templates(templates, count) : nullptr;
    zr_match** packed = entries != nullptr ? compact_matrix(matrix, stride, count) : nullptr;
    zr_status rc = packed != nullptr ? ZR_OK : ZR_NO_MEMORY;
    if (rc == ZR_OK)
        rc = zr_mtm_enroll_templates_from_match_matrix(manager, packed, entries, uint16_t(count), request->flags,
                                                       nullptr);
    if (rc == ZR_OK) rc = zr_multitemplate_manager_encode(manager, int32_t(request->encode_mode), out);
    if (rc == ZR_OK && *out == nullptr) rc = ZR_NO_MEMORY;
    free(packed);
    delete_entries(entries, count);
    zr_multitemplate_manager_delete(manager);
    return rc;
}
