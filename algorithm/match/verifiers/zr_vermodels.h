// The verifier descriptors of the vandrel, EHM and EHM-HR verifiers and the
// verification model sets of the presets.
//
// A model set is a NULL-ended list of trained models only. Of the models the
// presets name, only the EHM-HR model of the 192 x 80 preset is trained; the
// other sets are empty until trained values are added in the same layout
// (tools/gen_verifier_tables.py).
#pragma once

#include "match/verifiers/zr_verifier.h"
#include "match/chain/zr_verifier_descriptor.h"

// Slots: feature extraction (walk), feature extraction (raw path; empty for
// vandrel), verify; no template update.
extern const zr_verifier_descriptor vandrel_verifier;
extern const zr_verifier_descriptor ehm_verifier;
extern const zr_verifier_descriptor ehmhr_verifier;

// EHM-HR model of the 192 x 80 preset: 30 features, linear-squares score.
extern const zr_vermodel zr_vermodel_h80_ehmhr;

extern const zr_vermodel* const zr_vermodels_e100[];
extern const zr_vermodel* const zr_vermodels_e115[];
extern const zr_vermodel* const zr_vermodels_e130[];
extern const zr_vermodel* const zr_vermodels_e144[];
extern const zr_vermodel* const zr_vermodels_e56[];
extern const zr_vermodel* const zr_vermodels_e80[];
extern const zr_vermodel* const zr_vermodels_e64[];
extern const zr_vermodel* const zr_vermodels_h100[];
extern const zr_vermodel* const zr_vermodels_h115[];
extern const zr_vermodel* const zr_vermodels_h130[];
extern const zr_vermodel* const zr_vermodels_h56[];
extern const zr_vermodel* const zr_vermodels_h80[];
extern const zr_vermodel* const zr_vermodels_p115[];
extern const zr_vermodel* const zr_vermodels_p130[];
extern const zr_vermodel* const zr_vermodels_l160[];
extern const zr_vermodel* const zr_vermodels_l160m[];
extern const zr_vermodel* const zr_vermodels_l192[];
