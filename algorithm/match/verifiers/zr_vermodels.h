// The verifier descriptors of the vandrel, EHM and EHM-HR verifiers and the
// verification model sets of the presets.
//
// A model set is a NULL-ended list of models in the order the presets list
// them. The EHM-HR model of the 192 x 80 preset is given
// (tools/gen_verifier_tables.py); the other sixteen are trained on
// fingerprint windows of their sensor's geometry by tools/train_models.cpp
// (README.md, "Score models").
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
// Trained models. EHM and EHM-HR: 30 features, linear-squares score;
// spectral: 17 features, linear-squares score; the 160 x 160 and 192 x 192
// EHM models: 30 features, linear score.
extern const zr_vermodel zr_vermodel_e100_ehm;
extern const zr_vermodel zr_vermodel_e115_ehm;
extern const zr_vermodel zr_vermodel_e130_ehm;
extern const zr_vermodel zr_vermodel_e144_ehm;
extern const zr_vermodel zr_vermodel_e56_ehm;
extern const zr_vermodel zr_vermodel_e64_ehm;
extern const zr_vermodel zr_vermodel_e80_ehm;
extern const zr_vermodel zr_vermodel_h100_ehmhr;
extern const zr_vermodel zr_vermodel_h115_ehmhr;
extern const zr_vermodel zr_vermodel_h130_ehmhr;
extern const zr_vermodel zr_vermodel_h56_ehmhr;
extern const zr_vermodel zr_vermodel_p115_spectral;
extern const zr_vermodel zr_vermodel_p130_spectral;
extern const zr_vermodel zr_vermodel_l160_ehm;
extern const zr_vermodel zr_vermodel_l160m_ehm;
extern const zr_vermodel zr_vermodel_l192_ehm;

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
