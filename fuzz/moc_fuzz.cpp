// Match-on-card readers: compact cards through enrolment and verification,
// and reference stores through verification. Input: a selector byte (bit 0:
// 0 cards, 1 store; bits 1-2: verification flags), then
//   cards: big-endian u16 reference length, the reference card, the probe card;
//   store: the store (2370 bytes, zero-filled when the input is shorter), the probe card.
// Every card, store and work area sits in a heap block of exactly its size.
// Checked: only defined results; an enrolled store is consistent and within
// 2370 bytes; writes stay inside the store; verification does not depend on
// what an earlier call left in the work area; a store is refused exactly when
// it is inconsistent.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz_support.h"
#include "match/linked_cluster/zr_moc.h"

namespace {

uint8_t* g_store_block = nullptr;

uint32_t checked_writer(uint8_t* store, uint16_t offset, const uint8_t* source, uint16_t length) {
    FUZZ_CHECK(store == g_store_block);
    FUZZ_CHECK(uint32_t(offset) + length <= LC_STORE_MAX_SIZE);
    std::memcpy(store + offset, source, length);
    return 0;
}

struct Verified {
    zr_status status;
    uint16_t score;
    uint8_t decision;
    zr_moc_alignment alignment;
};

Verified verify(const uint8_t* store, const fuzz::ExactCopy& probe, uint8_t flags, uint8_t fill) {
    uint8_t* area = static_cast<uint8_t*>(std::malloc(LC_WORK_AREA_SIZE));
    FUZZ_CHECK(area != nullptr);
    std::memset(area, fill, LC_WORK_AREA_SIZE);
    Verified v{};
    v.status = zr_moc_verify(area, LC_WORK_AREA_SIZE, store, probe.data(), probe.size(), &v.score, 12, &v.decision,
                             &v.alignment, flags & LC_FLAG_FULL_ROTATION);
    std::free(area);
    return v;
}

void check_verification(const uint8_t* store, const fuzz::ExactCopy& probe, uint8_t flags) {
    const Verified first = verify(store, probe, flags, 0x00);
    const bool consistent = lc_store_is_consistent(store) == 1;
    if (!consistent) {
        FUZZ_CHECK(first.status == ZR_MOC_BAD_STORE);
        return;
    }
    FUZZ_CHECK(first.status == ZR_OK || first.status == ZR_BAD_FORMAT);
    if (first.status != ZR_OK) return;
    FUZZ_CHECK(first.decision == (first.score >= 496 ? 1 : 0));
    const Verified second = verify(store, probe, flags, 0xA5);
    FUZZ_CHECK(second.status == first.status && second.score == first.score);
    FUZZ_CHECK(second.alignment.rotation == first.alignment.rotation);
    FUZZ_CHECK(second.alignment.x_shift == first.alignment.x_shift);
    FUZZ_CHECK(second.alignment.y_shift == first.alignment.y_shift);
}

void cards(fuzz::FieldReader& in, uint8_t flags) {
    const uint16_t reference_length = in.u16();
    const uint8_t* bytes = nullptr;
    const size_t taken = in.take(reference_length, &bytes);
    fuzz::ExactCopy reference(bytes, taken);
    fuzz::ExactCopy probe(in.rest(), in.rest_size());

    g_store_block = static_cast<uint8_t*>(std::calloc(LC_STORE_MAX_SIZE, 1));
    FUZZ_CHECK(g_store_block != nullptr);
    const uint16_t work_size = uint16_t(ZR_MOC_ENROLL_MIN_WORK_AREA + (flags & 1) * 100);
    uint8_t* work = static_cast<uint8_t*>(std::malloc(work_size));
    FUZZ_CHECK(work != nullptr);
    uint16_t used = 0;
    const zr_status enrolled = zr_moc_enroll(work, work_size, reference.data(), reference.size(), g_store_block,
                                             LC_STORE_MAX_SIZE, &used, checked_writer);
    std::free(work);
    FUZZ_CHECK(enrolled == ZR_OK || enrolled == ZR_BAD_FORMAT);
    if (enrolled == ZR_OK) {
        FUZZ_CHECK(used == LC_STORE_HEADER_SIZE + LC_RECORD_SIZE * g_store_block[0]);
        FUZZ_CHECK(lc_store_is_consistent(g_store_block) == 1);
        check_verification(g_store_block, probe, flags);
    }
    std::free(g_store_block);
    g_store_block = nullptr;
}

void store(fuzz::FieldReader& in, uint8_t flags) {
    uint8_t* block = static_cast<uint8_t*>(std::calloc(LC_STORE_MAX_SIZE, 1));
    FUZZ_CHECK(block != nullptr);
    const uint8_t* bytes = nullptr;
    const size_t taken = in.take(LC_STORE_MAX_SIZE, &bytes);
    if (taken != 0) std::memcpy(block, bytes, taken);
    fuzz::ExactCopy probe(in.rest(), in.rest_size());
    check_verification(block, probe, flags);
    std::free(block);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::FieldReader in(data, size);
    const uint8_t selector = in.u8();
    const uint8_t flags = uint8_t((selector >> 1) & 3);
    if ((selector & 1) == 0) {
        cards(in, flags);
    } else {
        store(in, flags);
    }
    return 0;
}
