#include "sim_host_request.h"

#include <cstring>
#include <thread>

namespace fp_sim {

SimIoRequest::SimIoRequest(SimHost* host, ULONG code, std::vector<uint8_t> input, size_t output_size,
                           std::shared_ptr<IoctlCall> call)
    : host_(host),
      incoming_(true),
      code_(code),
      input_(ComPtr<SimMemory>::attach(new SimMemory(input.size()))),
      output_(ComPtr<SimMemory>::attach(new SimMemory(output_size))),
      call_(std::move(call))
{
    if (output_->size() > 0) {
        std::memset(output_->data(), 0xCD, output_->size());
    }
    if (!input.empty()) {
        std::memcpy(input_->data(), input.data(), input.size());
    }
}

void SimIoRequest::Complete(HRESULT status)
{
    ULONG_PTR information = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        information = information_;
    }
    CompleteWithInformation(status, information);
}

void SimIoRequest::CompleteWithInformation(HRESULT status, SIZE_T information)
{
    ComPtr<SimIoRequest> keep(this);
    std::shared_ptr<IoctlCall> call;
    ComPtr<IRequestCallbackCancel> cancel_callback;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (completed_) {
            std::lock_guard<std::mutex> host_lock(host_->mutex_);
            host_->faults_.completed_twice += 1;
            return;
        }
        if (cancel_state_ == CancelState::Cancelable) {
            std::lock_guard<std::mutex> host_lock(host_->mutex_);
            host_->faults_.completed_while_cancelable += 1;
        }
        if (cancel_state_ == CancelState::Cancelling && std::this_thread::get_id() != cancel_thread_) {
            // Only the cancel callback may complete a request being cancelled.
            std::lock_guard<std::mutex> host_lock(host_->mutex_);
            host_->faults_.completed_while_cancelling += 1;
        }
        completed_ = true;
        cancel_state_ = CancelState::None;
        cancel_callback = std::move(cancel_callback_);
        call = std::move(call_);
    }
    if (call) {
        call->complete(status, information,
                       std::vector<uint8_t>(output_->data(), output_->data() + output_->size()));
    }
    if (incoming_) {
        std::lock_guard<std::mutex> lock(host_->mutex_);
        host_->in_flight_ -= delivered_ ? 1 : 0;
        host_->in_flight_changed_.notify_all();
    }
}

void SimIoRequest::SetInformation(ULONG_PTR information)
{
    std::lock_guard<std::mutex> lock(mutex_);
    information_ = information;
}

void SimIoRequest::GetDeviceIoControlParameters(ULONG* code, SIZE_T* input_size, SIZE_T* output_size)
{
    if (code != nullptr) {
        *code = code_;
    }
    if (input_size != nullptr) {
        *input_size = input_ ? input_->size() : 0;
    }
    if (output_size != nullptr) {
        *output_size = output_ ? output_->size() : 0;
    }
}

void SimIoRequest::GetInputMemory(IWDFMemory** memory)
{
    *memory = input_ && input_->size() > 0 ? ComPtr<SimMemory>(input_.get()).detach() : nullptr;
}

void SimIoRequest::GetOutputMemory(IWDFMemory** memory)
{
    *memory = output_ && output_->size() > 0 ? ComPtr<SimMemory>(output_.get()).detach() : nullptr;
}

void SimIoRequest::MarkCancelable(IRequestCallbackCancel* callback)
{
    bool cancel_now = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (completed_) {
            return;
        }
        if (cancel_requested_) {
            cancel_state_ = CancelState::Cancelling;
            cancel_thread_ = std::this_thread::get_id();
            cancel_now = true;
        } else {
            cancel_state_ = CancelState::Cancelable;
            cancel_callback_ = ComPtr<IRequestCallbackCancel>(callback);
        }
    }
    if (cancel_now && callback != nullptr) {
        callback->OnCancel(this);
    }
}

HRESULT SimIoRequest::UnmarkCancelable()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (cancel_state_ == CancelState::Cancelling) {
        return kRequestAborted;
    }
    cancel_state_ = CancelState::None;
    cancel_callback_.reset();
    return S_OK;
}

bool SimIoRequest::cancel()
{
    ComPtr<IRequestCallbackCancel> callback;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (completed_) {
            return false;
        }
        cancel_requested_ = true;
        if (cancel_state_ != CancelState::Cancelable) {
            return false;
        }
        cancel_state_ = CancelState::Cancelling;
        cancel_thread_ = std::this_thread::get_id();
        callback = std::move(cancel_callback_);
    }
    host_->pass_cancel_hold();
    callback->OnCancel(this);
    return true;
}

BOOL SimIoRequest::CancelSentRequest()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!outstanding_) {
        return FALSE;
    }
    return host_->sensor_.cancel_read(read_id_) ? TRUE : FALSE;
}

void SimIoRequest::SetCompletionCallback(IRequestCallbackRequestCompletion* callback, void* context)
{
    std::lock_guard<std::mutex> lock(mutex_);
    completion_callback_ = ComPtr<IRequestCallbackRequestCompletion>(callback);
    completion_context_ = context;
}

HRESULT SimIoRequest::Send(IWDFIoTarget* target, DWORD flags, LONGLONG)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (!pipe_ || target == nullptr) {
        return E_UNEXPECTED;
    }
    {
        std::lock_guard<std::mutex> host_lock(host_->mutex_);
        if (host_->target_deleted_) {
            host_->faults_.sent_after_target_deleted += 1;
            return kInvalidHandle;
        }
    }
    SIZE_T size = 0;
    auto* buffer = static_cast<uint8_t*>(memory_->GetDataBuffer(&size));
    const bool synchronous = (flags & WDF_REQUEST_SEND_OPTION_SYNCHRONOUS) != 0;
    if (!is_read_) {
        size_t written = 0;
        const HRESULT status = host_->sensor_.write(buffer, size, &written);
        params_ = ComPtr<SimCompletionParams>::attach(new SimCompletionParams(status, written, memory_, false));
        if (!synchronous) {
            return E_NOTIMPL;  // asynchronous writes are not used
        }
        return S_OK;
    }
    if (synchronous) {
        return E_NOTIMPL;  // synchronous reads are not used
    }
    if (FAILED(host_->usb_.read_send_result)) {
        return host_->usb_.read_send_result;
    }
    add_reference();  // held until the completion has been delivered
    outstanding_ = true;
    read_id_ = host_->sensor_.submit_read(buffer, size,
                                          [this](HRESULT status, size_t bytes) { finish_read(status, bytes); });
    return S_OK;
}

void SimIoRequest::GetCompletionParams(IWDFRequestCompletionParams** params)
{
    std::lock_guard<std::mutex> lock(mutex_);
    *params = params_ ? ComPtr<SimCompletionParams>(params_.get()).detach() : nullptr;
}

void SimIoRequest::format(ComPtr<SimUsbPipe> pipe, IWDFMemory* memory, bool read)
{
    std::lock_guard<std::mutex> lock(mutex_);
    pipe_ = std::move(pipe);
    memory_ = ComPtr<IWDFMemory>(memory);
    is_read_ = read;
}

void SimIoRequest::finish_read(HRESULT status, size_t bytes)
{
    ComPtr<IRequestCallbackRequestCompletion> callback;
    void* context = nullptr;
    ComPtr<SimUsbPipe> pipe;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        outstanding_ = false;
        params_ = ComPtr<SimCompletionParams>::attach(new SimCompletionParams(status, bytes, memory_, true));
        callback = completion_callback_;
        context = completion_context_;
        pipe = pipe_;
    }
    if (callback) {
        ComPtr<IWDFRequestCompletionParams> params;
        GetCompletionParams(params.put());
        callback->OnCompletion(this, pipe.get(), params.get(), context);
    }
    callback.reset();
    release_reference();
}

}  // namespace fp_sim
