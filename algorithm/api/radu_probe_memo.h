// The probe of the most recent verification sample, kept so that verifying
// the same sample against one stored template after another (an
// identification) extracts it once.
//
// The memo holds one entry: a copy of the sample's bytes and the probe
// template's type, generation quality and bytes (never a shared object:
// every caller gets a template of its own). A sample is found only when all
// its bytes equal the held ones. One process-wide lock guards the entry and
// is held only to compare, copy or swap, never while extracting or
// verifying, so verifications on several threads run side by side. An entry
// is allocated through zr_malloc (so the allocation test seam reaches it);
// released memory (a replaced entry, and the entry on clear) is overwritten
// with zeros before it is freed.
#pragma once

#include <cstddef>
#include <cstdint>

#include "objects/zr_template.h"

// A new template equal to the held probe when the held sample's bytes are the
// sample's (RADU_SAMPLE_ROWS x RADU_SAMPLE_COLS bytes); none otherwise or when
// memory runs out.
zr_template* radu_probe_memo_find(const uint8_t* sample);

// Holds the probe extracted from the sample in place of the entry held
// before. When memory runs out the memo holds nothing.
void radu_probe_memo_keep(const uint8_t* sample, const zr_template* probe);

// Drops the held entry; the memo then holds nothing.
void radu_probe_memo_clear();

// True when the memo holds the probe of this sample (tests).
bool radu_probe_memo_holds(const uint8_t* sample);

// Test seam, not part of the library's interface: the observer (none to stop)
// sees each released entry's memory after it is wiped, before it is freed.
using radu_probe_memo_release_observer = void (*)(const uint8_t* memory, size_t size);
void radu_probe_memo_set_release_observer(radu_probe_memo_release_observer observer);
