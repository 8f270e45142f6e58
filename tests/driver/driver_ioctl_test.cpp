// Biometric I/O controls: buffer-size table, fixed replies, unsupported and
// unknown codes, capture-parameter checks.
#include <dlfcn.h>

#include <algorithm>
#include <mutex>
#include <string>

#include "driver_fixture.h"
#include "driver_trace.h"
#include "win_debug.h"

namespace driver_test {
namespace {

constexpr HRESULT kInvalidFunction = hresult_of(0x80070001u);

struct FixedReplyCase {
    const char* name;
    ULONG code;
    ULONG full_size;
};

const FixedReplyCase kFixedReplies[] = {
    {"attributes", IOCTL_BIOMETRIC_GET_ATTRIBUTES, 1580},
    {"reset", IOCTL_BIOMETRIC_RESET, 8},
    {"calibrate", IOCTL_BIOMETRIC_CALIBRATE, 16},
    {"sensor_status", IOCTL_BIOMETRIC_GET_SENSOR_STATUS, 20},
    {"capture", IOCTL_BIOMETRIC_CAPTURE_DATA, 17000},
};

TEST_F(DriverTest, EveryControlAnswersFullShortAndTooShortBuffers)
{
    ASSERT_EQ(start(), S_OK);
    for (const FixedReplyCase& c : kFixedReplies) {
        SCOPED_TRACE(c.name);
        // Capture parameters refused (purpose 0) so that no capture starts.
        const std::vector<uint8_t> input =
            c.code == IOCTL_BIOMETRIC_CAPTURE_DATA ? capture_parameters(0) : std::vector<uint8_t>{};
        const size_t output_sizes[] = {c.full_size + 40, c.full_size, c.full_size - 1, 4, 3, 0};
        for (size_t output_size : output_sizes) {
            SCOPED_TRACE("output " + std::to_string(output_size));
            auto call = ioctl(c.code, input, output_size);
            ASSERT_TRUE(call->wait(kCompletionWaitMs));
            const std::vector<uint8_t> out = call->output();
            if (output_size < 4) {
                EXPECT_EQ(call->status(), E_INVALIDARG);
                EXPECT_EQ(call->information(), 0u);
            } else if (output_size < c.full_size) {
                EXPECT_EQ(call->status(), S_OK);
                EXPECT_EQ(call->information(), 4u);
                EXPECT_EQ(u32_at(out, 0), c.full_size);
                if (output_size > 4) {
                    EXPECT_EQ(out[4], 0xCD);  // nothing beyond the size is written
                }
            } else {
                EXPECT_EQ(call->status(), S_OK);
                EXPECT_EQ(call->information(), c.full_size);
                EXPECT_EQ(u32_at(out, 0), c.full_size);
                EXPECT_EQ(u32_at(out, 4), c.code == IOCTL_BIOMETRIC_CAPTURE_DATA
                                              ? static_cast<uint32_t>(WINBIO_E_UNSUPPORTED_PURPOSE)
                                              : 0u);
                if (c.code != IOCTL_BIOMETRIC_CAPTURE_DATA && output_size > c.full_size) {
                    // The whole output buffer is zeroed before the reply is written.
                    EXPECT_EQ(out[output_size - 1], 0) << "last byte";
                }
            }
        }
    }
}

TEST_F(DriverTest, FixedRepliesCarryTheirContents)
{
    ASSERT_EQ(start(), S_OK);
    auto attributes = ioctl(IOCTL_BIOMETRIC_GET_ATTRIBUTES, {}, 1580);
    auto status = ioctl(IOCTL_BIOMETRIC_GET_SENSOR_STATUS, {}, 20);
    auto calibrate = ioctl(IOCTL_BIOMETRIC_CALIBRATE, {}, 16);
    ASSERT_TRUE(attributes->wait(kCompletionWaitMs));
    ASSERT_TRUE(status->wait(kCompletionWaitMs));
    ASSERT_TRUE(calibrate->wait(kCompletionWaitMs));

    const std::vector<uint8_t> a = attributes->output();
    EXPECT_EQ(u32_at(a, 0), 1580u);
    EXPECT_EQ(u32_at(a, 4), 0u);
    EXPECT_EQ(u32_at(a, 8), 1u);   // version 1.0
    EXPECT_EQ(u32_at(a, 12), 0u);
    EXPECT_EQ(u32_at(a, 16), 8u);  // fingerprint
    EXPECT_EQ(u32_at(a, 20), 2u);  // touch
    EXPECT_EQ(u32_at(a, 24), 1u);  // sensor capability
    EXPECT_NE(u16_at(a, 28), 0u);  // manufacturer named
    EXPECT_NE(u16_at(a, 540), 0u);  // model named
    const std::u16string serial(reinterpret_cast<const char16_t*>(a.data() + 1052));
    EXPECT_EQ(serial.c_str(), std::u16string(u"000-000-000"));
    EXPECT_EQ(u16_at(a, 1052 + 2 * 11), 0u);
    EXPECT_EQ(u32_at(a, 1564), 1u);  // firmware 1.0
    EXPECT_EQ(u32_at(a, 1568), 0u);
    EXPECT_EQ(u32_at(a, 1572), 1u);
    EXPECT_EQ(u16_at(a, 1576), 0x001Bu);
    EXPECT_EQ(u16_at(a, 1578), 0x0401u);

    const std::vector<uint8_t> s = status->output();
    EXPECT_EQ(u32_at(s, 0), 20u);
    EXPECT_EQ(u32_at(s, 4), 0u);
    EXPECT_EQ(u32_at(s, 8), 3u);  // ready
    EXPECT_EQ(u32_at(s, 12), 0u);

    const std::vector<uint8_t> c = calibrate->output();
    EXPECT_EQ(u32_at(c, 0), 16u);
    EXPECT_EQ(u32_at(c, 4), 0u);
    EXPECT_EQ(u32_at(c, 8), 0u);
}

TEST_F(DriverTest, UnsupportedAndUnknownControls)
{
    ASSERT_EQ(start(), S_OK);
    const struct {
        ULONG code;
        HRESULT expected;
    } cases[] = {
        {IOCTL_BIOMETRIC_UPDATE_FIRMWARE, E_NOTIMPL},
        {IOCTL_BIOMETRIC_GET_SUPPORTED_ALGORITHMS, E_NOTIMPL},
        {IOCTL_BIOMETRIC_GET_INDICATOR, E_NOTIMPL},
        {IOCTL_BIOMETRIC_SET_INDICATOR, E_NOTIMPL},
        {0x442000, E_NOTIMPL},                  // vendor-defined
        {0x44FFFC, E_NOTIMPL},
        {0x440028, kInvalidFunction},           // next code after the table
        {0x441000, kInvalidFunction},
        {0x402000, kInvalidFunction},           // lacks bit 0x40000 of the mask
        {0x220004, kInvalidFunction},           // another device type
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        auto call = ioctl(c.code, {}, 64);
        ASSERT_TRUE(call->wait(kCompletionWaitMs));
        EXPECT_EQ(call->status(), c.expected);
    }
}

struct ParameterCase {
    uint8_t purpose;
    uint16_t owner;
    uint16_t type;
    uint8_t flags;
    HRESULT expected;
};

TEST_F(DriverTest, CaptureParametersAreCheckedInOrder)
{
    ASSERT_EQ(start(), S_OK);
    const ParameterCase cases[] = {
        {0x00, 0x001B, 0x0401, 0x20, WINBIO_E_UNSUPPORTED_PURPOSE},
        {0x03, 0x001B, 0x0401, 0x20, WINBIO_E_UNSUPPORTED_PURPOSE},
        {0x20, 0x001B, 0x0401, 0x20, WINBIO_E_UNSUPPORTED_PURPOSE},
        {0x40, 0x001B, 0x0401, 0x20, WINBIO_E_UNSUPPORTED_PURPOSE},
        {0xFF, 0x0000, 0x0000, 0x00, WINBIO_E_UNSUPPORTED_PURPOSE},  // purpose is checked first
        {0x01, 0x001C, 0x0401, 0x20, WINBIO_E_UNSUPPORTED_DATA_FORMAT},
        {0x02, 0x001B, 0x0402, 0x40, WINBIO_E_UNSUPPORTED_DATA_FORMAT},  // format before flags
        {0x04, 0x001B, 0x0401, 0x40, WINBIO_E_UNSUPPORTED_DATA_TYPE},
        {0x80, 0x001B, 0x0401, 0x00, WINBIO_E_UNSUPPORTED_DATA_TYPE},
        {0x10, 0x001B, 0x0401, 0x21, WINBIO_E_UNSUPPORTED_DATA_TYPE},
    };
    for (const ParameterCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << "purpose " << int(c.purpose) << " flags " << int(c.flags));
        auto call = capture(capture_parameters(c.purpose, c.owner, c.type, c.flags));
        ASSERT_TRUE(call->wait(kCompletionWaitMs));
        EXPECT_EQ(call->status(), S_OK);
        EXPECT_EQ(call->information(), 17000u);
        const std::vector<uint8_t> out = call->output();
        EXPECT_EQ(u32_at(out, 0), 17000u);
        EXPECT_EQ(u32_at(out, 4), static_cast<uint32_t>(c.expected));
        EXPECT_EQ(u32_at(out, 8), WINBIO_SENSOR_READY);
        EXPECT_EQ(u32_at(out, 12), 0u);
        EXPECT_EQ(u32_at(out, 16), 0u);
    }
    EXPECT_EQ(sensor_.write_attempts(), 0u);  // no capture was started

    // Every accepted purpose captures an image.
    for (uint8_t purpose : {0x01, 0x02, 0x04, 0x08, 0x10, 0x80}) {
        SCOPED_TRACE(int(purpose));
        auto call = capture(capture_parameters(purpose));
        ASSERT_TRUE(call->wait(kCompletionWaitMs));
        EXPECT_EQ(call->status(), S_OK);
        const std::vector<uint8_t> out = call->output();
        EXPECT_EQ(u32_at(out, 4), 0u);
        EXPECT_EQ(out[52 + 13], purpose);  // the record header carries the purpose
    }
}

TEST_F(DriverTest, CaptureRefusesShortInputAndOutput)
{
    ASSERT_EQ(start(), S_OK);
    std::vector<uint8_t> short_input = capture_parameters();
    short_input.resize(31);
    auto call = capture(short_input);
    ASSERT_TRUE(call->wait(kCompletionWaitMs));
    EXPECT_EQ(call->status(), E_INVALIDARG);
    EXPECT_EQ(call->information(), 0u);

    call = capture(capture_parameters(), 16999);
    ASSERT_TRUE(call->wait(kCompletionWaitMs));
    EXPECT_EQ(call->status(), S_OK);
    EXPECT_EQ(call->information(), 4u);
    EXPECT_EQ(u32_at(call->output(), 0), 17000u);
    EXPECT_EQ(sensor_.write_attempts(), 0u);
}

TEST_F(DriverTest, HandlersTraceTheirEntryAndExit)
{
    std::vector<std::string> lines;
    std::mutex lines_mutex;
    fp_platform::set_debug_sink([&](std::u16string_view line) {
        std::lock_guard<std::mutex> lock(lines_mutex);
        lines.push_back(fp_platform::narrow_text(line));
    });
    ASSERT_EQ(start(), S_OK);
    auto capture_call = capture();
    ASSERT_TRUE(capture_call->wait(kCompletionWaitMs));
    auto call = ioctl(IOCTL_BIOMETRIC_RESET, {}, 8);  // joins the capture thread
    ASSERT_TRUE(call->wait(kCompletionWaitMs));
    host_->unload();  // the handler's exit line follows the completion; wait for its thread
    started_ = false;
    fp_platform::set_debug_sink({});
    std::lock_guard<std::mutex> lock(lines_mutex);
    auto has = [&](const std::string& text) {
        return std::find(lines.begin(), lines.end(), text) != lines.end();
    };
    EXPECT_TRUE(has(" ioque - ccode = " + std::to_string(IOCTL_BIOMETRIC_RESET)));
    EXPECT_TRUE(has("HELLO:OnReset: <<"));
    EXPECT_TRUE(has("HELLO:OnReset: >>"));
    // The capture's members open and close their lines too, the thread included.
    for (const char* name : {"CaptureDataThread", "WaitFingerPrintDataAndCaptureData", "USBbulkwrite",
                             "OnCompletion", "CopyImageData", "EpilogueReadRequest", "ReleaseCompletionContext",
                             "CompletePendingRequestWithData"}) {
        EXPECT_TRUE(has(std::string("HELLO:") + name + ": <<")) << name;
        EXPECT_TRUE(has(std::string("HELLO:") + name + ": >>")) << name;
    }
}

TEST(DriverModule, ClassObjectAndExports)
{
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(DllGetClassObject(GUID_NULL, IClassFactory::iid, &object), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(DllGetClassObject(fpusbdrv::CLSID_BiometricDriver, IClassFactory::iid, factory.put_void()), S_OK);
    ComPtr<IDriverEntry> entry;
    EXPECT_EQ(factory->CreateInstance(reinterpret_cast<IUnknown*>(factory.get()), IDriverEntry::iid,
                                      entry.put_void()),
              CLASS_E_NOAGGREGATION);
    ASSERT_EQ(factory->CreateInstance(nullptr, IDriverEntry::iid, entry.put_void()), S_OK);
    ComPtr<IPnpCallback> wrong;
    EXPECT_EQ(entry.query(&wrong), E_NOINTERFACE);
    EXPECT_TRUE(fpusbdrv::trace_provider_registered());
}

TEST(DriverModule, SharedLibraryExportsTheEntryPoints)
{
    void* module = dlopen(FPUSBDRV_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    auto get_class_object = reinterpret_cast<DllGetClassObjectFunction>(dlsym(module, "DllGetClassObject"));
    auto* version = static_cast<const char16_t*>(dlsym(module, "Microsoft_WDF_UMDF_Version"));
    ASSERT_NE(get_class_object, nullptr);
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(std::u16string(version), u"1.11");
    EXPECT_EQ(dlsym(module, "initmem"), nullptr);
    ComPtr<IClassFactory> factory;
    EXPECT_EQ(get_class_object(fpusbdrv::CLSID_BiometricDriver, IClassFactory::iid, factory.put_void()), S_OK);
    factory.reset();
    dlclose(module);
}

}  // namespace
}  // namespace driver_test
