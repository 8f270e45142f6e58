// The linked-cluster comparison of two compact cards and its two halves
// (enrolment of the reference into a store, verification of a probe), on
// hand-built cards of 40 well-spread minutiae; the probe is the reference
// moved, jittered and thinned as a second capture of the finger would be.
// The comparison is also timed on the cards of two real captures of one
// finger (an enrolment capture and a probe).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "bench_captures.h"
#include "lc_capture_cards.h"
#include "lc_test_cards.h"
#include "match/linked_cluster/lc_compact_card_match.h"
#include "match/linked_cluster/zr_moc.h"

namespace {

struct CardPair {
    lc_test::bytes reference;
    lc_test::bytes probe;
};

CardPair forty_minutia_cards() {
    const std::vector<lc_test::CardMinutia> m = lc_test::spread_minutiae(40, 17);
    std::mt19937 rng(17);
    std::vector<lc_test::CardMinutia> probe;
    for (const lc_test::CardMinutia& c : m) {
        if (rng() % 8 == 0) continue;
        probe.push_back({c.x + 6 + int(rng() % 5) - 2, c.y - 4 + int(rng() % 5) - 2, (c.angle + int(rng() % 3) - 1) & 63});
    }
    while (probe.size() < 40) probe.push_back({int(40 + rng() % 170), int(40 + rng() % 170), int(rng() % 64)});
    return {lc_test::make_card(m), lc_test::make_card(probe)};
}

void BM_LinkedClusterMatchCompactCard(benchmark::State& state) {
    const CardPair cards = forty_minutia_cards();
    uint16_t score = 0;
    for (auto _ : state) {
        if (linked_cluster_match_iso_compact_card(cards.reference.data(), uint32_t(cards.reference.size()),
                                                  cards.probe.data(), uint32_t(cards.probe.size()), &score, 12,
                                                  nullptr, nullptr, 0) != ZR_OK) {
            state.SkipWithError("comparison failed");
            break;
        }
        benchmark::DoNotOptimize(score);
    }
    state.counters["score"] = score;
}
BENCHMARK(BM_LinkedClusterMatchCompactCard);

void BM_LinkedClusterEnrol(benchmark::State& state) {
    const CardPair cards = forty_minutia_cards();
    std::vector<uint8_t> work(LC_HEAP_WORK_AREA_SIZE), store(LC_STORE_MAX_SIZE);
    uint16_t used = 0;
    for (auto _ : state) {
        if (zr_moc_enroll(work.data(), LC_HEAP_WORK_AREA_SIZE, cards.reference.data(),
                          uint32_t(cards.reference.size()), store.data(), LC_STORE_MAX_SIZE, &used,
                          write_persistent_mem) != ZR_OK) {
            state.SkipWithError("enrolment failed");
            break;
        }
        benchmark::DoNotOptimize(store.data());
    }
}
BENCHMARK(BM_LinkedClusterEnrol);

void BM_LinkedClusterVerify(benchmark::State& state) {
    const CardPair cards = forty_minutia_cards();
    std::vector<uint8_t> store(LC_STORE_MAX_SIZE);
    std::vector<uint8_t> work(LC_HEAP_WORK_AREA_SIZE);  // vector storage is aligned for a pointer
    uint16_t used = 0;
    if (zr_moc_enroll(work.data(), LC_HEAP_WORK_AREA_SIZE, cards.reference.data(), uint32_t(cards.reference.size()),
                      store.data(), LC_STORE_MAX_SIZE, &used, write_persistent_mem) != ZR_OK) {
        state.SkipWithError("enrolment failed");
        return;
    }
    uint16_t score = 0;
    uint8_t decision = 0;
    for (auto _ : state) {
        if (zr_moc_verify(work.data(), LC_HEAP_WORK_AREA_SIZE, store.data(), cards.probe.data(),
                          uint32_t(cards.probe.size()), &score, 12, &decision, nullptr, 0) != ZR_OK) {
            state.SkipWithError("verification failed");
            break;
        }
        benchmark::DoNotOptimize(score);
    }
    state.counters["score"] = score;
}
BENCHMARK(BM_LinkedClusterVerify);

// Cards of the first enrolment capture and the first probe of the first
// finger whose two captures both yield some twenty minutiae (the 176 x 96
// captures give 5 to 25).
CardPair capture_cards() {
    constexpr uint32_t kTypicalMinutiae = 18;
    for (const auto& path : fp_test::capture_paths()) {
        if (path.filename() != "e1.pgm") continue;
        CardPair cards{lc_test::capture_card(fp_test::read_pgm(path)),
                       lc_test::capture_card(fp_test::read_pgm(path.parent_path() / "p7.pgm"))};
        if (lc_test::card_minutia_count(cards.reference) >= kTypicalMinutiae && lc_test::card_minutia_count(cards.probe) >= kTypicalMinutiae) {
            return cards;
        }
    }
    return {};
}

void BM_LinkedClusterMatchCaptures(benchmark::State& state) {
    const CardPair cards = capture_cards();
    if (cards.reference.empty() || cards.probe.empty()) {
        fp_bench::skip_for_missing_captures(state);
        return;
    }
    uint16_t score = 0;
    for (auto _ : state) {
        if (linked_cluster_match_iso_compact_card(cards.reference.data(), uint32_t(cards.reference.size()),
                                                  cards.probe.data(), uint32_t(cards.probe.size()), &score, 12,
                                                  nullptr, nullptr, 0) != ZR_OK) {
            state.SkipWithError("comparison failed");
            break;
        }
        benchmark::DoNotOptimize(score);
    }
    state.counters["score"] = score;
    state.counters["minutiae"] = double(lc_test::card_minutia_count(cards.reference) + lc_test::card_minutia_count(cards.probe)) / 2;
}
BENCHMARK(BM_LinkedClusterMatchCaptures);

}  // namespace
