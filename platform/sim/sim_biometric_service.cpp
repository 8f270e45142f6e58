#include "sim_biometric_service.h"

#include <cstring>

#include "win_dynload.h"
#include "win_section.h"

namespace {

constexpr uint32_t kHeaderOffset = sizeof(WINBIO_BIR);
constexpr uint32_t kStandardOffset = kHeaderOffset + sizeof(WINBIO_BIR_HEADER);

bool table_slots_present(const WINBIO_ENGINE_INTERFACE& t) {
    const void* const required[] = {
        reinterpret_cast<const void*>(t.Attach), reinterpret_cast<const void*>(t.Detach),
        reinterpret_cast<const void*>(t.ClearContext), reinterpret_cast<const void*>(t.QueryPreferredFormat),
        reinterpret_cast<const void*>(t.QueryIndexVectorSize), reinterpret_cast<const void*>(t.QueryHashAlgorithms),
        reinterpret_cast<const void*>(t.SetHashAlgorithm), reinterpret_cast<const void*>(t.QuerySampleHint),
        reinterpret_cast<const void*>(t.AcceptSampleData), reinterpret_cast<const void*>(t.ExportEngineData),
        reinterpret_cast<const void*>(t.VerifyFeatureSet), reinterpret_cast<const void*>(t.IdentifyFeatureSet),
        reinterpret_cast<const void*>(t.CreateEnrollment), reinterpret_cast<const void*>(t.UpdateEnrollment),
        reinterpret_cast<const void*>(t.GetEnrollmentStatus), reinterpret_cast<const void*>(t.GetEnrollmentHash),
        reinterpret_cast<const void*>(t.CheckForDuplicate), reinterpret_cast<const void*>(t.CommitEnrollment),
        reinterpret_cast<const void*>(t.DiscardEnrollment), reinterpret_cast<const void*>(t.ControlUnit),
        reinterpret_cast<const void*>(t.ControlUnitPrivileged), reinterpret_cast<const void*>(t.NotifyPowerChange),
        reinterpret_cast<const void*>(t.PipelineInit), reinterpret_cast<const void*>(t.PipelineCleanup),
        reinterpret_cast<const void*>(t.Activate), reinterpret_cast<const void*>(t.Deactivate),
        reinterpret_cast<const void*>(t.QueryExtendedInfo), reinterpret_cast<const void*>(t.IdentifyAll),
        reinterpret_cast<const void*>(t.SetEnrollmentSelector), reinterpret_cast<const void*>(t.SetEnrollmentParameters),
        reinterpret_cast<const void*>(t.QueryExtendedEnrollmentStatus), reinterpret_cast<const void*>(t.RefreshCache),
        reinterpret_cast<const void*>(t.SelectCalibrationFormat), reinterpret_cast<const void*>(t.QueryCalibrationData),
        reinterpret_cast<const void*>(t.SetAccountPolicy),
    };
    for (const void* slot : required)
        if (slot == nullptr) return false;
    return true;
}

}  // namespace

std::vector<uint8_t> sim_capture_parameters(WINBIO_BIR_PURPOSE purpose) {
    WINBIO_CAPTURE_PARAMETERS p{};
    p.PayloadSize = sizeof p;
    p.Purpose = purpose;
    p.Format = {WINBIO_ANSI_381_FORMAT_OWNER, WINBIO_ANSI_381_FORMAT_TYPE};
    p.Flags = WINBIO_DATA_FLAG_RAW;
    std::vector<uint8_t> bytes(sizeof p);
    std::memcpy(bytes.data(), &p, sizeof p);
    return bytes;
}

int64_t sim_read_section(const char16_t* name) {
    HANDLE section = OpenFileMappingW(FILE_MAP_READ, FALSE, name);
    if (section == nullptr) return -1;
    int64_t value = -1;
    if (const void* view = MapViewOfFile(section, FILE_MAP_READ, 0, 0, 0)) {
        uint32_t v = 0;
        std::memcpy(&v, view, sizeof v);
        value = v;
        UnmapViewOfFile(view);
    }
    CloseHandle(section);
    return value;
}

std::vector<uint8_t> sim_make_sample_record(const uint8_t* image, WINBIO_BIR_PURPOSE purpose) {
    std::vector<uint8_t> record(kStandardOffset + WINBIO_SENSOR_IMAGE_BYTES, 0);
    WINBIO_BIR table{};
    table.HeaderBlock = {sizeof(WINBIO_BIR_HEADER), kHeaderOffset};
    table.StandardDataBlock = {WINBIO_SENSOR_IMAGE_BYTES, kStandardOffset};
    std::memcpy(record.data(), &table, sizeof table);
    WINBIO_BIR_HEADER header{};
    header.DataFlags = WINBIO_DATA_FLAG_RAW;
    header.Type = WINBIO_TYPE_FINGERPRINT;
    header.Subtype = WINBIO_FP_SENSOR_SUBTYPE_TOUCH;
    header.Purpose = purpose;
    header.DataQuality = -1;
    header.BiometricDataFormat = {WINBIO_ANSI_381_FORMAT_OWNER, WINBIO_ANSI_381_FORMAT_TYPE};
    std::memcpy(record.data() + kHeaderOffset, &header, sizeof header);
    if (image != nullptr) std::memcpy(record.data() + kStandardOffset, image, WINBIO_SENSOR_IMAGE_BYTES);
    return record;
}

std::vector<uint8_t> sim_sample_from_capture_reply(const uint8_t* reply, size_t reply_size) {
    constexpr size_t kRecordOffset = offsetof(WINBIO_CAPTURE_DATA, CaptureData) + offsetof(WINBIO_DATA, Data);
    // The head is read as the whole capture-data record: the reply must hold all of it.
    if (reply == nullptr || reply_size < sizeof(WINBIO_CAPTURE_DATA)) return {};
    WINBIO_CAPTURE_DATA head;
    std::memcpy(&head, reply, sizeof head);
    const uint64_t size = head.CaptureData.Size;
    if (size == 0 || kRecordOffset + size > reply_size) return {};
    return std::vector<uint8_t>(reply + kRecordOffset, reply + kRecordOffset + size);
}

HRESULT sim_check_engine_interface(const WINBIO_ENGINE_INTERFACE* table) {
    if (table == nullptr) return E_POINTER;
    if (table->Version.MajorVersion != 3 || table->Type != WINBIO_ADAPTER_TYPE_ENGINE ||
        table->Size != sizeof(WINBIO_ENGINE_INTERFACE) || !table_slots_present(*table))
        return E_NOINTERFACE;
    return S_OK;
}

SimBiometricService::SimBiometricService(SimStorageAdapter& storage) : storage_(storage) {
    pipeline_.SensorHandle = INVALID_HANDLE_VALUE;
    pipeline_.EngineHandle = INVALID_HANDLE_VALUE;
    pipeline_.StorageHandle = INVALID_HANDLE_VALUE;
    storage_.attach(pipeline_);
}

SimBiometricService::~SimBiometricService() {
    close_pipeline();
    if (module_ != nullptr) FreeLibrary(module_);
}

HRESULT SimBiometricService::take_table(PWINBIO_QUERY_ENGINE_INTERFACE_FN query) {
    if (query == nullptr) return E_POINTER;
    const WINBIO_ENGINE_INTERFACE* table = nullptr;
    HRESULT hr = query(&table);
    if (FAILED(hr)) return hr;
    hr = sim_check_engine_interface(table);
    if (FAILED(hr)) return hr;
    engine_ = table;
    pipeline_.EngineInterface = table;
    return S_OK;
}

HRESULT SimBiometricService::load_engine(PWINBIO_QUERY_ENGINE_INTERFACE_FN query) { return take_table(query); }

HRESULT SimBiometricService::load_engine_module(const char16_t* module_name) {
    if (module_ != nullptr) return E_UNEXPECTED;
    module_ = LoadLibraryExW(module_name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module_ == nullptr) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    const auto query =
        reinterpret_cast<PWINBIO_QUERY_ENGINE_INTERFACE_FN>(GetProcAddress(module_, "WbioQueryEngineInterface"));
    const HRESULT hr = query ? take_table(query) : E_NOINTERFACE;
    if (FAILED(hr)) {
        FreeLibrary(module_);
        module_ = nullptr;
    }
    return hr;
}

HRESULT SimBiometricService::open_pipeline() {
    if (engine_ == nullptr || open_) return E_UNEXPECTED;
    HRESULT hr = engine_->Attach(&pipeline_);
    if (FAILED(hr)) return hr;
    hr = engine_->PipelineInit(&pipeline_);
    if (SUCCEEDED(hr)) hr = engine_->Activate(&pipeline_);
    if (FAILED(hr)) {
        engine_->Detach(&pipeline_);
        return hr;
    }
    open_ = true;
    return S_OK;
}

HRESULT SimBiometricService::close_pipeline() {
    if (!open_) return S_OK;
    open_ = false;
    HRESULT hr = engine_->Deactivate(&pipeline_);
    const HRESULT cleanup = engine_->PipelineCleanup(&pipeline_);
    const HRESULT detach = engine_->Detach(&pipeline_);
    if (SUCCEEDED(hr)) hr = cleanup;
    if (SUCCEEDED(hr)) hr = detach;
    return hr;
}

HRESULT SimBiometricService::accept(const std::vector<uint8_t>& sample, WINBIO_BIR_PURPOSE purpose) {
    WINBIO_REJECT_DETAIL reject = 0;
    return engine_->AcceptSampleData(&pipeline_, reinterpret_cast<WINBIO_BIR*>(const_cast<uint8_t*>(sample.data())),
                                     sample.size(), purpose, &reject);
}

SimEnrollOutcome SimBiometricService::enroll(const WINBIO_IDENTITY& identity, WINBIO_BIOMETRIC_SUBTYPE sub_factor,
                                             const std::vector<std::vector<uint8_t>>& samples,
                                             const std::vector<uint8_t>& payload) {
    size_t next = 0;
    const SimSampleSource source = [&](std::vector<uint8_t>& sample) {
        sample = samples[next++];
        return S_OK;
    };
    return enroll(identity, sub_factor, source, samples.size(), payload);
}

SimEnrollOutcome SimBiometricService::enroll(const WINBIO_IDENTITY& identity, WINBIO_BIOMETRIC_SUBTYPE sub_factor,
                                             const SimSampleSource& next_sample, size_t max_samples,
                                             const std::vector<uint8_t>& payload) {
    SimEnrollOutcome out;
    if (!open_) {
        out.result = E_UNEXPECTED;
        return out;
    }
    out.result = engine_->CreateEnrollment(&pipeline_);
    if (FAILED(out.result)) return out;
    WINBIO_EXTENDED_ENROLLMENT_PARAMETERS parameters{sizeof(WINBIO_EXTENDED_ENROLLMENT_PARAMETERS), sub_factor};
    engine_->SetEnrollmentParameters(&pipeline_, &parameters);

    HRESULT hr = WINBIO_I_MORE_DATA;
    std::vector<uint8_t> sample;
    while (out.samples_used < max_samples) {
        hr = next_sample(sample);
        if (FAILED(hr)) break;
        ++out.samples_used;
        hr = accept(sample, WINBIO_PURPOSE_ENROLL);
        if (SUCCEEDED(hr)) {
            WINBIO_REJECT_DETAIL reject = 0;
            hr = engine_->UpdateEnrollment(&pipeline_, &reject);
            out.updates.push_back(hr);
            engine_->QueryExtendedEnrollmentStatus(&pipeline_, &out.last_status, sizeof out.last_status);
        }
        if (hr == S_OK) break;
        if (hr == WINBIO_I_MORE_DATA || hr == WINBIO_E_BAD_CAPTURE) continue;
        break;
    }
    if (hr == S_OK) {
        WINBIO_REJECT_DETAIL reject = 0;
        hr = engine_->GetEnrollmentStatus(&pipeline_, &reject);
    }
    if (hr == S_OK) {
        WINBIO_BIOMETRIC_SUBTYPE duplicate_sub_factor = 0;
        hr = engine_->CheckForDuplicate(&pipeline_, &out.duplicate_identity, &duplicate_sub_factor,
                                        &out.duplicate);
        if (SUCCEEDED(hr) && !out.duplicate) {
            WINBIO_IDENTITY id = identity;
            hr = engine_->CommitEnrollment(&pipeline_, &id, sub_factor,
                                           payload.empty() ? nullptr : const_cast<uint8_t*>(payload.data()),
                                           payload.size());
        }
    } else if (hr == WINBIO_I_MORE_DATA) {
        hr = WINBIO_E_BAD_CAPTURE;  // the samples ran out before the enrolment completed
    }
    if (hr != S_OK || out.duplicate) engine_->DiscardEnrollment(&pipeline_);
    engine_->ClearContext(&pipeline_);
    out.result = hr;
    return out;
}

SimMatchOutcome SimBiometricService::verify(const std::vector<uint8_t>& sample, const WINBIO_IDENTITY& identity,
                                            WINBIO_BIOMETRIC_SUBTYPE sub_factor) {
    SimMatchOutcome out;
    if (!open_) {
        out.result = E_UNEXPECTED;
        return out;
    }
    out.result = accept(sample, WINBIO_PURPOSE_VERIFY);
    if (SUCCEEDED(out.result)) {
        WINBIO_IDENTITY id = identity;
        uint8_t* payload = nullptr;
        size_t payload_size = 0;
        uint8_t* hash = nullptr;
        size_t hash_size = 0;
        out.result = engine_->VerifyFeatureSet(&pipeline_, &id, sub_factor, &out.match, &payload, &payload_size,
                                               &hash, &hash_size, &out.reject_detail);
        if (out.match) {
            out.identity = identity;
            out.sub_factor = sub_factor;
            if (payload != nullptr) out.payload.assign(payload, payload + payload_size);
        }
    }
    engine_->ClearContext(&pipeline_);
    return out;
}

SimMatchOutcome SimBiometricService::identify(const std::vector<uint8_t>& sample) {
    SimMatchOutcome out;
    if (!open_) {
        out.result = E_UNEXPECTED;
        return out;
    }
    out.result = accept(sample, WINBIO_PURPOSE_IDENTIFY);
    if (SUCCEEDED(out.result)) {
        uint8_t* payload = nullptr;
        size_t payload_size = 0;
        uint8_t* hash = nullptr;
        size_t hash_size = 0;
        out.result = engine_->IdentifyFeatureSet(&pipeline_, &out.identity, &out.sub_factor, &payload,
                                                 &payload_size, &hash, &hash_size, &out.reject_detail);
        out.match = out.result == S_OK;
        if (out.match && payload != nullptr) out.payload.assign(payload, payload + payload_size);
    }
    engine_->ClearContext(&pipeline_);
    return out;
}
