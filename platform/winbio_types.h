// Biometric framework types, constants and result codes shared by the
// sensor driver and the engine adapter. Records are laid out byte for byte
// as they travel between the two.
#pragma once

#include <cstddef>

#include "win_types.h"

// Framework result codes.
constexpr HRESULT WINBIO_E_UNKNOWN_ID = hresult_of(0x80098003u);
constexpr HRESULT WINBIO_E_NO_MATCH = hresult_of(0x80098005u);
constexpr HRESULT WINBIO_E_ENROLLMENT_IN_PROGRESS = hresult_of(0x80098007u);
constexpr HRESULT WINBIO_E_BAD_CAPTURE = hresult_of(0x80098008u);
constexpr HRESULT WINBIO_E_INVALID_CONTROL_CODE = hresult_of(0x80098009u);
constexpr HRESULT WINBIO_E_DATA_COLLECTION_IN_PROGRESS = hresult_of(0x8009800Bu);
constexpr HRESULT WINBIO_E_UNSUPPORTED_DATA_FORMAT = hresult_of(0x8009800Cu);
constexpr HRESULT WINBIO_E_UNSUPPORTED_DATA_TYPE = hresult_of(0x8009800Du);
constexpr HRESULT WINBIO_E_UNSUPPORTED_PURPOSE = hresult_of(0x8009800Eu);
constexpr HRESULT WINBIO_E_INVALID_DEVICE_STATE = hresult_of(0x8009800Fu);
constexpr HRESULT WINBIO_E_DATABASE_NO_RESULTS = hresult_of(0x8009801Fu);
constexpr HRESULT WINBIO_E_DATABASE_NO_MORE_RECORDS = hresult_of(0x80098020u);
constexpr HRESULT WINBIO_I_MORE_DATA = hresult_of(0x00090001u);

using WINBIO_BIOMETRIC_TYPE = ULONG;
using WINBIO_BIOMETRIC_SENSOR_SUBTYPE = ULONG;
using WINBIO_CAPABILITIES = ULONG;
using WINBIO_SENSOR_STATUS = ULONG;
using WINBIO_REJECT_DETAIL = ULONG;
using WINBIO_BIR_PURPOSE = UCHAR;
using WINBIO_BIR_DATA_FLAGS = UCHAR;

constexpr WINBIO_BIOMETRIC_TYPE WINBIO_TYPE_FINGERPRINT = 8;
constexpr WINBIO_BIOMETRIC_SENSOR_SUBTYPE WINBIO_FP_SENSOR_SUBTYPE_TOUCH = 2;
constexpr WINBIO_CAPABILITIES WINBIO_CAPABILITY_SENSOR = 1;

constexpr WINBIO_SENSOR_STATUS WINBIO_SENSOR_ACCEPT = 1;
constexpr WINBIO_SENSOR_STATUS WINBIO_SENSOR_READY = 3;

constexpr WINBIO_BIR_PURPOSE WINBIO_NO_PURPOSE_AVAILABLE = 0x00;
constexpr WINBIO_BIR_PURPOSE WINBIO_PURPOSE_VERIFY = 0x01;
constexpr WINBIO_BIR_PURPOSE WINBIO_PURPOSE_IDENTIFY = 0x02;
constexpr WINBIO_BIR_PURPOSE WINBIO_PURPOSE_ENROLL = 0x04;
constexpr WINBIO_BIR_PURPOSE WINBIO_PURPOSE_ENROLL_FOR_VERIFICATION = 0x08;
constexpr WINBIO_BIR_PURPOSE WINBIO_PURPOSE_ENROLL_FOR_IDENTIFICATION = 0x10;
constexpr WINBIO_BIR_PURPOSE WINBIO_PURPOSE_AUDIT = 0x80;

constexpr WINBIO_BIR_DATA_FLAGS WINBIO_DATA_FLAG_RAW = 0x20;
constexpr WINBIO_BIR_DATA_FLAGS WINBIO_DATA_FLAG_INTERMEDIATE = 0x40;
constexpr WINBIO_BIR_DATA_FLAGS WINBIO_DATA_FLAG_PROCESSED = 0x80;

// The sensor's image format: 8-bit grey, 176 rows by 96 columns.
constexpr USHORT WINBIO_ANSI_381_FORMAT_OWNER = 0x001B;
constexpr USHORT WINBIO_ANSI_381_FORMAT_TYPE = 0x0401;
constexpr ULONG WINBIO_SENSOR_IMAGE_ROWS = 176;
constexpr ULONG WINBIO_SENSOR_IMAGE_COLUMNS = 96;
constexpr ULONG WINBIO_SENSOR_IMAGE_BYTES = WINBIO_SENSOR_IMAGE_ROWS * WINBIO_SENSOR_IMAGE_COLUMNS;
static_assert(WINBIO_SENSOR_IMAGE_BYTES == 16896);

using WINBIO_UUID = GUID;
using WINBIO_STRING = WCHAR[256];

struct WINBIO_VERSION {
    DWORD MajorVersion;
    DWORD MinorVersion;
};
static_assert(sizeof(WINBIO_VERSION) == 8);

struct WINBIO_REGISTERED_FORMAT {
    USHORT Owner;
    USHORT Type;
};
static_assert(sizeof(WINBIO_REGISTERED_FORMAT) == 4);

struct WINBIO_BIR_DATA {
    ULONG Size;
    ULONG Offset;  // counted from the start of the WINBIO_BIR
};
static_assert(sizeof(WINBIO_BIR_DATA) == 8);

struct WINBIO_BIR {
    WINBIO_BIR_DATA HeaderBlock;
    WINBIO_BIR_DATA StandardDataBlock;
    WINBIO_BIR_DATA VendorDataBlock;
    WINBIO_BIR_DATA SignatureBlock;
};
static_assert(sizeof(WINBIO_BIR) == 32);

// 48-byte record header. The time stamps are kept as 32-bit halves so the
// header has 4-byte alignment and can sit at any 4-byte offset of a reply.
struct WINBIO_BIR_HEADER {
    USHORT ValidFields;
    UCHAR HeaderVersion;
    UCHAR PatronHeaderVersion;
    WINBIO_BIR_DATA_FLAGS DataFlags;
    UCHAR Reserved0[3];
    WINBIO_BIOMETRIC_TYPE Type;
    UCHAR Subtype;
    WINBIO_BIR_PURPOSE Purpose;
    int8_t DataQuality;
    UCHAR Reserved1;
    ULONG CreationDate[2];
    ULONG ValidityPeriod[4];
    WINBIO_REGISTERED_FORMAT BiometricDataFormat;
    WINBIO_REGISTERED_FORMAT ProductId;
};
static_assert(sizeof(WINBIO_BIR_HEADER) == 48);
static_assert(offsetof(WINBIO_BIR_HEADER, DataFlags) == 4);
static_assert(offsetof(WINBIO_BIR_HEADER, Type) == 8);
static_assert(offsetof(WINBIO_BIR_HEADER, Subtype) == 12);
static_assert(offsetof(WINBIO_BIR_HEADER, Purpose) == 13);
static_assert(offsetof(WINBIO_BIR_HEADER, DataQuality) == 14);
static_assert(offsetof(WINBIO_BIR_HEADER, BiometricDataFormat) == 40);

// Every reply of the biometric I/O controls begins with these two fields.
struct WINBIO_BLANK_PAYLOAD {
    ULONG PayloadSize;
    HRESULT WinBioHresult;
};
static_assert(sizeof(WINBIO_BLANK_PAYLOAD) == 8);

struct WINBIO_SENSOR_ATTRIBUTES {
    ULONG PayloadSize;
    HRESULT WinBioHresult;
    WINBIO_VERSION WinBioVersion;
    WINBIO_BIOMETRIC_TYPE SensorType;
    WINBIO_BIOMETRIC_SENSOR_SUBTYPE SensorSubType;
    WINBIO_CAPABILITIES Capabilities;
    WINBIO_STRING ManufacturerName;
    WINBIO_STRING ModelName;
    WINBIO_STRING SerialNumber;
    WINBIO_VERSION FirmwareVersion;
    ULONG SupportedFormatEntries;
    WINBIO_REGISTERED_FORMAT SupportedFormat[1];
};
static_assert(sizeof(WINBIO_SENSOR_ATTRIBUTES) == 1580);
static_assert(offsetof(WINBIO_SENSOR_ATTRIBUTES, ManufacturerName) == 28);
static_assert(offsetof(WINBIO_SENSOR_ATTRIBUTES, FirmwareVersion) == 1564);
static_assert(offsetof(WINBIO_SENSOR_ATTRIBUTES, SupportedFormat) == 1576);

struct WINBIO_DATA {
    ULONG Size;
    UCHAR Data[1];
};

struct WINBIO_CALIBRATION_INFO {
    ULONG PayloadSize;
    HRESULT WinBioHresult;
    WINBIO_DATA CalibrationData;
};
static_assert(sizeof(WINBIO_CALIBRATION_INFO) == 16);

struct WINBIO_DIAGNOSTICS {
    ULONG PayloadSize;
    HRESULT WinBioHresult;
    WINBIO_SENSOR_STATUS SensorStatus;
    WINBIO_DATA VendorDiagnostics;
};
static_assert(sizeof(WINBIO_DIAGNOSTICS) == 20);

struct WINBIO_CAPTURE_PARAMETERS {
    ULONG PayloadSize;
    WINBIO_BIR_PURPOSE Purpose;
    WINBIO_REGISTERED_FORMAT Format;
    WINBIO_UUID VendorFormat;
    WINBIO_BIR_DATA_FLAGS Flags;
};
static_assert(sizeof(WINBIO_CAPTURE_PARAMETERS) == 32);
static_assert(offsetof(WINBIO_CAPTURE_PARAMETERS, Purpose) == 4);
static_assert(offsetof(WINBIO_CAPTURE_PARAMETERS, Format) == 6);
static_assert(offsetof(WINBIO_CAPTURE_PARAMETERS, VendorFormat) == 12);
static_assert(offsetof(WINBIO_CAPTURE_PARAMETERS, Flags) == 28);

// Capture reply: the captured record (a WINBIO_BIR followed by its blocks)
// starts at CaptureData.Data.
struct WINBIO_CAPTURE_DATA {
    ULONG PayloadSize;
    HRESULT WinBioHresult;
    WINBIO_SENSOR_STATUS SensorStatus;
    WINBIO_REJECT_DETAIL RejectDetail;
    WINBIO_DATA CaptureData;
};
static_assert(sizeof(WINBIO_CAPTURE_DATA) == 24);
static_assert(offsetof(WINBIO_CAPTURE_DATA, SensorStatus) == 8);
static_assert(offsetof(WINBIO_CAPTURE_DATA, RejectDetail) == 12);
static_assert(offsetof(WINBIO_CAPTURE_DATA, CaptureData) == 16);
static_assert(offsetof(WINBIO_CAPTURE_DATA, CaptureData) + offsetof(WINBIO_DATA, Data) == 20);

// Biometric device I/O control codes (device type 0x44, buffered, any access).
constexpr DWORD FILE_DEVICE_BIOMETRIC = 0x44;
constexpr DWORD METHOD_BUFFERED = 0;
constexpr DWORD FILE_ANY_ACCESS = 0;

constexpr DWORD CTL_CODE(DWORD deviceType, DWORD function, DWORD method, DWORD access)
{
    return (deviceType << 16) | (access << 14) | (function << 2) | method;
}

constexpr DWORD biometric_ctl_code(DWORD function)
{
    return CTL_CODE(FILE_DEVICE_BIOMETRIC, function, METHOD_BUFFERED, FILE_ANY_ACCESS);
}

constexpr DWORD IOCTL_BIOMETRIC_GET_ATTRIBUTES = biometric_ctl_code(0x001);
constexpr DWORD IOCTL_BIOMETRIC_RESET = biometric_ctl_code(0x002);
constexpr DWORD IOCTL_BIOMETRIC_CALIBRATE = biometric_ctl_code(0x003);
constexpr DWORD IOCTL_BIOMETRIC_GET_SENSOR_STATUS = biometric_ctl_code(0x004);
constexpr DWORD IOCTL_BIOMETRIC_CAPTURE_DATA = biometric_ctl_code(0x005);
constexpr DWORD IOCTL_BIOMETRIC_UPDATE_FIRMWARE = biometric_ctl_code(0x006);
constexpr DWORD IOCTL_BIOMETRIC_GET_SUPPORTED_ALGORITHMS = biometric_ctl_code(0x007);
constexpr DWORD IOCTL_BIOMETRIC_GET_INDICATOR = biometric_ctl_code(0x008);
constexpr DWORD IOCTL_BIOMETRIC_SET_INDICATOR = biometric_ctl_code(0x009);
constexpr DWORD IOCTL_BIOMETRIC_VENDOR = CTL_CODE(FILE_DEVICE_BIOMETRIC, 0x800, METHOD_BUFFERED, FILE_ANY_ACCESS);

static_assert(IOCTL_BIOMETRIC_GET_ATTRIBUTES == 0x440004);
static_assert(IOCTL_BIOMETRIC_RESET == 0x440008);
static_assert(IOCTL_BIOMETRIC_CALIBRATE == 0x44000C);
static_assert(IOCTL_BIOMETRIC_GET_SENSOR_STATUS == 0x440010);
static_assert(IOCTL_BIOMETRIC_CAPTURE_DATA == 0x440014);
static_assert(IOCTL_BIOMETRIC_UPDATE_FIRMWARE == 0x440018);
static_assert(IOCTL_BIOMETRIC_GET_SUPPORTED_ALGORITHMS == 0x44001C);
static_assert(IOCTL_BIOMETRIC_GET_INDICATOR == 0x440020);
static_assert(IOCTL_BIOMETRIC_SET_INDICATOR == 0x440024);
static_assert(IOCTL_BIOMETRIC_VENDOR == 0x442000);
