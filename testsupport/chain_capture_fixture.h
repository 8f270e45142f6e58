// Real captures as the verification walk sees them: per finger a stored
// multi-template of its six enrolment captures and its probes, and a chain of
// two links (vandrel, then EHM-HR on 24 subtemplates) over the fusion
// templates of the main road.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "match/chain/zr_algorithm_chain.h"
#include "match/multitemplate/zr_multitemplate_manager.h"
#include "match/verifiers/zr_vermodels.h"
#include "fourier_capture_records.h"

namespace fp_test {

struct ChainFinger {
    std::string name;
    zr_template* stored = nullptr;     // type 80
    std::vector<zr_template*> probes;  // fusion templates
};

struct ChainCaptures {
    std::vector<ChainFinger> fingers;
    zr_algorithm_chain* chain = nullptr;
    zr_session* session = nullptr;

    ChainCaptures() {
        std::map<std::string, size_t> index;
        std::vector<std::vector<const SpectralCapture*>> enrol;
        for (const auto& c : spectral_captures()) {
            if (index.count(c.finger) == 0) {
                index[c.finger] = fingers.size();
                fingers.push_back(ChainFinger{c.finger, nullptr, {}});
                enrol.emplace_back();
            }
            const size_t i = index[c.finger];
            zr_template* t = zr_template_create(ZR_TEMPLATE_EHM_PRESET, c.fusion.data(), uint32_t(c.fusion.size()));
            if (c.role == "probe") fingers[i].probes.push_back(t);
            else if (enrol[i].size() < 6) {
                enrol[i].push_back(&c);
                zr_template_delete(t);
            } else {
                zr_template_delete(t);
            }
        }
        for (size_t i = 0; i < fingers.size(); ++i) {
            zr_multitemplate_manager* m = zr_multitemplate_manager_create(96);
            for (const SpectralCapture* c : enrol[i]) {
                zr_template* t =
                    zr_template_create(ZR_TEMPLATE_EHM_PRESET, c->fusion.data(), uint32_t(c->fusion.size()));
                uint32_t id = 0;
                (void)zr_multitemplate_add_instance_no_tag(m->mt, t, &id);
                zr_template_delete(t);
            }
            (void)zr_multitemplate_manager_encode(m, 0, &fingers[i].stored);
            zr_multitemplate_manager_delete(m);
        }
        chain = zr_algorithm_chain_create();
        zr_algorithm_link* first =
            zr_algorithm_link_create(nullptr, ZR_TEMPLATE_EHM_PRESET, nullptr, &vandrel_verifier, 0, 0);
        zr_algorithm_link* second =
            zr_algorithm_link_create(nullptr, ZR_TEMPLATE_EHM_PRESET, nullptr, &ehmhr_verifier, 0, 0);
        zr_algorithm_link_set_flag(first, ZR_LINK_DROP_SCORES);
        zr_algorithm_link_set_flag(second, ZR_LINK_DROP_SCORES);
        zr_algorithm_link_set_nbr_of_subtemplates(second, 24);
        zr_algorithm_chain_append_link(chain, first);
        zr_algorithm_chain_append_link(chain, second);
        session = zr_session_create();
        (void)zr_session_set_sensor_size_(session, 8);
    }
    ~ChainCaptures() {
        for (auto& f : fingers) {
            zr_template_delete(f.stored);
            for (auto* p : f.probes) zr_template_delete(p);
        }
        zr_algorithm_chain_delete(chain);
        zr_session_delete(session);
    }
    ChainCaptures(const ChainCaptures&) = delete;
    ChainCaptures& operator=(const ChainCaptures&) = delete;
};

}  // namespace fp_test
