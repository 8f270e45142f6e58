// Layout of the capture reply and the sensor frame.
#pragma once

#include <cstddef>

#include "winbio_types.h"

namespace fpusbdrv {

constexpr ULONG kImageBytes = WINBIO_SENSOR_IMAGE_BYTES;           // one frame, trailer included
constexpr ULONG kImageBufferBytes = 25600;                         // device image buffer
constexpr ULONG kCommandBufferBytes = 64;
constexpr ULONG kFrameTrailerOffset = kImageBytes - 4;             // 01 02 03 04
constexpr ULONG kCapturePayloadSize = 17000;                       // full capture reply
constexpr ULONG kBirOffset = offsetof(WINBIO_CAPTURE_DATA, CaptureData) + offsetof(WINBIO_DATA, Data);
constexpr ULONG kBirHeaderOffset = sizeof(WINBIO_BIR);             // from the BIR's start
constexpr ULONG kBirStandardDataOffset = kBirHeaderOffset + sizeof(WINBIO_BIR_HEADER);
constexpr ULONG kCaptureDataSize = kBirStandardDataOffset + kImageBytes;
constexpr ULONG kReplyImageOffset = kBirOffset + kBirStandardDataOffset;
constexpr ULONG kCaptureParametersSize = sizeof(WINBIO_CAPTURE_PARAMETERS);

static_assert(kImageBytes == 16896 && kFrameTrailerOffset == 16892);
static_assert(kBirOffset == 20);
static_assert(kBirHeaderOffset == 32 && kBirStandardDataOffset == 80);
static_assert(kCaptureDataSize == 0x4250 && kCaptureDataSize == 16976);
static_assert(kBirOffset + kBirHeaderOffset == 52);
static_assert(kReplyImageOffset == 100);
static_assert(kReplyImageOffset + kImageBytes == 16996 && 16996 <= kCapturePayloadSize);
static_assert(kCaptureParametersSize == 32);
static_assert(kImageBytes <= kImageBufferBytes);

constexpr ULONG kAttributesPayloadSize = sizeof(WINBIO_SENSOR_ATTRIBUTES);
constexpr ULONG kCalibrationPayloadSize = sizeof(WINBIO_CALIBRATION_INFO);
constexpr ULONG kDiagnosticsPayloadSize = sizeof(WINBIO_DIAGNOSTICS);
constexpr ULONG kBlankPayloadSize = sizeof(WINBIO_BLANK_PAYLOAD);
static_assert(kAttributesPayloadSize == 1580 && kCalibrationPayloadSize == 16);
static_assert(kDiagnosticsPayloadSize == 20 && kBlankPayloadSize == 8);

// USB command packets: the signature, command words A and B, then zeros.
constexpr ULONG kCommandPacketBytes = 64;
constexpr ULONG kCommandSignature = 0x01020304;

// Command numbers (the low byte of USBbulkwrite's argument). The sensor also
// knows commands 3 to 5, which no path sends; any unknown number is sent as
// the stop command.
constexpr ULONG kCommandStartCapture = 1;
constexpr ULONG kCommandStop = 2;
constexpr ULONG kCommandNumberMask = 0xFF;
constexpr ULONG kCommandReserved3 = 3;
constexpr ULONG kCommandReserved4 = 4;
constexpr ULONG kCommandReserved5 = 5;

// The two command words of each command; their meaning is the sensor's.
struct CommandWords {
    ULONG a;
    ULONG b;
};
constexpr ULONG kControlWordA = 0x00000091;  // word A of every command but the start
constexpr CommandWords kStartCaptureWords{0x003900D3, 0x64000000};
constexpr CommandWords kStopWords{kControlWordA, 0xFF000000};
constexpr CommandWords kReserved3Words{kControlWordA, 0xFE000000};
constexpr CommandWords kReserved4Words{kControlWordA, 0xFD000000};
constexpr CommandWords kReserved5Words{kControlWordA, 0xFC000000};

// Capture-specific results.
constexpr HRESULT kCaptureCancelled = HRESULT_FROM_WIN32(ERROR_CANCELLED);          // reset, hardware release
constexpr HRESULT kCaptureAborted = HRESULT_FROM_WIN32(ERROR_OPERATION_ABORTED);    // framework cancel
static_assert(kCaptureCancelled == hresult_of(0x800704C7u) && kCaptureAborted == hresult_of(0x800703E3u));

}  // namespace fpusbdrv
