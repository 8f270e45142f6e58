// The simulated host's framework request: a device I/O control request sent
// by a test (completion reaches its IoctlCall), or a request the driver
// creates for its own USB transfers (a synchronous bulk-out write or an
// asynchronous bulk-in read served by the SimSensor).
#pragma once

#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "sim_host_usb.h"

namespace fp_sim {

class SimIoRequest final : public fp_platform::ComObject, public IWDFIoRequest {
public:
    // A request created by the driver for its own I/O.
    explicit SimIoRequest(SimHost* host) : host_(host) {}

    // A device I/O control request from the host. Output bytes the driver
    // does not write stay visible as 0xCD.
    SimIoRequest(SimHost* host, ULONG code, std::vector<uint8_t> input, size_t output_size,
                 std::shared_ptr<IoctlCall> call);

    HRESULT QueryInterface(REFIID riid, void** object) override
    {
        return fp_platform::query_interfaces<SimIoRequest, IWDFIoRequest, IWDFObject>(this, riid, object);
    }
    FP_SIM_COM_REFCOUNT
    HRESULT DeleteWdfObject() override { return S_OK; }

    // Completion; a completion the framework would refuse (a second one, one
    // of a request still cancelable, or one of a request being cancelled by
    // anyone but its cancel callback) is counted as a host fault.
    void Complete(HRESULT status) override;
    void CompleteWithInformation(HRESULT status, SIZE_T information) override;
    void SetInformation(ULONG_PTR information) override;

    void GetDeviceIoControlParameters(ULONG* code, SIZE_T* input_size, SIZE_T* output_size) override;
    void GetInputMemory(IWDFMemory** memory) override;
    void GetOutputMemory(IWDFMemory** memory) override;

    // Cancellation, driver side.
    void MarkCancelable(IRequestCallbackCancel* callback) override;
    HRESULT UnmarkCancelable() override;
    // Host side of a cancellation: false when the request was not cancelable.
    // The request counts as being cancelled from here; the driver's cancel
    // callback runs after the host's cancel hold (see SimHost::hold_cancels).
    bool cancel();

    // The driver's own transfers.
    BOOL CancelSentRequest() override;
    void SetCompletionCallback(IRequestCallbackRequestCompletion* callback, void* context) override;
    HRESULT Send(IWDFIoTarget* target, DWORD flags, LONGLONG) override;
    void GetCompletionParams(IWDFRequestCompletionParams** params) override;
    void format(ComPtr<SimUsbPipe> pipe, IWDFMemory* memory, bool read);

    bool incoming() const { return incoming_; }
    ULONG code() const { return code_; }
    void mark_delivered() { delivered_ = true; }

private:
    enum class CancelState { None, Cancelable, Cancelling };

    void finish_read(HRESULT status, size_t bytes);

    SimHost* host_;
    const bool incoming_ = false;
    const ULONG code_ = 0;
    ComPtr<SimMemory> input_;
    ComPtr<SimMemory> output_;
    std::shared_ptr<IoctlCall> call_;

    std::mutex mutex_;
    bool delivered_ = false;
    bool completed_ = false;
    bool cancel_requested_ = false;
    CancelState cancel_state_ = CancelState::None;
    std::thread::id cancel_thread_;  // the thread that runs the cancel callback
    ComPtr<IRequestCallbackCancel> cancel_callback_;
    ULONG_PTR information_ = 0;

    ComPtr<SimUsbPipe> pipe_;
    ComPtr<IWDFMemory> memory_;
    bool is_read_ = false;
    bool outstanding_ = false;
    uint64_t read_id_ = 0;
    ComPtr<IRequestCallbackRequestCompletion> completion_callback_;
    void* completion_context_ = nullptr;
    ComPtr<SimCompletionParams> params_;
};

}  // namespace fp_sim
