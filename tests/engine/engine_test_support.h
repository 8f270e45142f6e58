// Shared pieces of the engine adapter tests: binding the scripted algorithm
// library, reaching its script, pipelines with a simulated storage adapter,
// samples and identities.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine_adapter.h"
#include "engine_binding.h"
#include "sim_biometric_service.h"
#include "sim_storage_adapter.h"
#include "win_debug.h"
#include "win_dynload.h"

namespace engine_test {

inline std::string scripted_dir(const char* variant) { return std::string(ENGINE_SCRIPTED_DIR) + "/" + variant; }

// The script controls of the scripted library bound by the engine.
struct Script {
    HMODULE module = nullptr;
    void (*reset)() = nullptr;
    void (*set_quality)(int32_t) = nullptr;
    void (*set_init_result)(int32_t) = nullptr;
    void (*push_enroll_code)(int32_t) = nullptr;
    void (*push_verify_result)(int32_t) = nullptr;
    void (*set_saved_template)(const uint8_t*, uint32_t, int32_t) = nullptr;
    int (*calls)(const char*) = nullptr;
    int64_t (*last_arg)(const char*) = nullptr;
    int64_t (*verified_template)(uint32_t, uint8_t*, size_t) = nullptr;
    bool (*last_sample)(uint8_t*) = nullptr;

    template <typename Fn>
    void resolve(Fn& fn, const char* name) {
        fn = reinterpret_cast<Fn>(GetProcAddress(module, name));
        ASSERT_NE(fn, nullptr) << name;
    }

    void open() {
        module = LoadLibraryExW(kKwtModuleName, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        ASSERT_NE(module, nullptr);
        resolve(reset, "script_reset");
        resolve(set_quality, "script_set_quality");
        resolve(set_init_result, "script_set_init_result");
        resolve(push_enroll_code, "script_push_enroll_code");
        resolve(push_verify_result, "script_push_verify_result");
        resolve(set_saved_template, "script_set_saved_template");
        resolve(calls, "script_calls");
        resolve(last_arg, "script_last_arg");
        resolve(verified_template, "script_verified_template");
        resolve(last_sample, "script_last_sample");
        reset();
    }

    void close() {
        if (module != nullptr) FreeLibrary(module);
        module = nullptr;
    }
};

// Binds the engine to one variant of the scripted library for the lifetime
// of the object, as process attach and detach of the engine module would.
class ScopedBinding {
public:
    explicit ScopedBinding(const char* variant) {
        win_set_system_directory(scripted_dir(variant));
        DllMain(nullptr, kDllProcessAttach, nullptr);
    }
    ~ScopedBinding() {
        DllMain(nullptr, kDllProcessDetach, nullptr);
        win_set_system_directory("");
    }
    ScopedBinding(const ScopedBinding&) = delete;
    ScopedBinding& operator=(const ScopedBinding&) = delete;
};

// Collects the debug output while alive.
class TraceCapture {
public:
    TraceCapture() {
        old_ = fp_platform::set_debug_sink([this](std::u16string_view line) {
            lines_.push_back(fp_platform::narrow_text(line));
        });
    }
    ~TraceCapture() { fp_platform::set_debug_sink(old_); }
    bool contains(const std::string& line) const {
        for (const std::string& l : lines_)
            if (l == line) return true;
        return false;
    }
    const std::vector<std::string>& lines() const { return lines_; }

private:
    fp_platform::DebugSink old_;
    std::vector<std::string> lines_;
};

// A 176 x 96 image whose bytes depend on `seed`.
inline std::vector<uint8_t> test_image(uint8_t seed) {
    std::vector<uint8_t> image(WINBIO_SENSOR_IMAGE_BYTES);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(seed + i * 7);
    return image;
}

inline std::vector<uint8_t> test_sample(uint8_t seed, WINBIO_BIR_PURPOSE purpose = WINBIO_PURPOSE_VERIFY) {
    return sim_make_sample_record(test_image(seed).data(), purpose);
}

inline WINBIO_IDENTITY guid_identity(uint32_t n) {
    WINBIO_IDENTITY id{};
    id.Type = WINBIO_ID_TYPE_GUID;
    id.Value.TemplateGuid = {n, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, static_cast<uint8_t>(n)}};
    return id;
}

inline SimStoredRecord stored_record(uint32_t n, WINBIO_BIOMETRIC_SUBTYPE sub_factor, size_t template_size) {
    SimStoredRecord r;
    r.identity = guid_identity(n);
    r.has_identity = true;
    r.sub_factor = sub_factor;
    r.template_blob.assign(template_size, static_cast<uint8_t>(0xA0 + n));
    r.payload_blob = {static_cast<uint8_t>(n), 0xEE};
    return r;
}

// A pipeline with the simulated storage adapter and an attached engine
// context, bound to the complete scripted library.
class EngineFixture : public ::testing::Test {
protected:
    void SetUp() override {
        binding_ = std::make_unique<ScopedBinding>("full");
        ASSERT_TRUE(engine_binding_complete());
        script_.open();
        pipeline_.SensorHandle = INVALID_HANDLE_VALUE;
        pipeline_.EngineHandle = INVALID_HANDLE_VALUE;
        pipeline_.StorageHandle = INVALID_HANDLE_VALUE;
        pipeline_.EngineInterface = &engine_adapter_interface();
        storage_.attach(pipeline_);
        ASSERT_EQ(EngineAdapterAttach(&pipeline_), S_OK);
    }
    void TearDown() override {
        if (pipeline_.EngineContext != nullptr) {
            EXPECT_EQ(EngineAdapterDetach(&pipeline_), S_OK);
        }
        script_.close();
        binding_.reset();
    }

    WINBIO_ENGINE_CONTEXT* context() { return static_cast<WINBIO_ENGINE_CONTEXT*>(pipeline_.EngineContext); }

    HRESULT accept(const std::vector<uint8_t>& sample, WINBIO_BIR_PURPOSE purpose = WINBIO_PURPOSE_VERIFY) {
        WINBIO_REJECT_DETAIL reject = 0;
        return EngineAdapterAcceptSampleData(&pipeline_,
                                             reinterpret_cast<WINBIO_BIR*>(const_cast<uint8_t*>(sample.data())),
                                             sample.size(), purpose, &reject);
    }

    std::unique_ptr<ScopedBinding> binding_;
    Script script_;
    SimStorageAdapter storage_;
    WINBIO_PIPELINE pipeline_{};
};

}  // namespace engine_test
