// COM-style objects: the IUnknown interface, a reference-counting base that
// keeps a process-wide count of live objects, and a smart pointer.
#pragma once

#include <atomic>
#include <tuple>
#include <utility>

#include "win_types.h"

// Every interface declares its identifier as a static member `iid`.
struct IUnknown {
    static constexpr IID iid{0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

    virtual HRESULT QueryInterface(REFIID riid, void** object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;
};

struct IClassFactory : IUnknown {
    static constexpr IID iid{0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

    virtual HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** object) = 0;
    virtual HRESULT LockServer(BOOL lock) = 0;

protected:
    ~IClassFactory() = default;
};

using DllGetClassObjectFunction = HRESULT (*)(REFCLSID clsid, REFIID riid, void** object);

namespace fp_platform {

// Number of ComObject instances alive in this process (module).
long live_com_objects();

// Reference-counted object base: created with one reference, destroyed when
// the last reference goes. Derived classes forward AddRef/Release here.
class ComObject {
public:
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

protected:
    ComObject();
    virtual ~ComObject();

    ULONG add_reference() { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
    ULONG release_reference()
    {
        const ULONG remaining = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (remaining == 0) {
            delete this;
        }
        return remaining;
    }

private:
    std::atomic<ULONG> refs_{1};
};

// Answers QueryInterface for a list of interfaces implemented by `self`.
template <typename Self, typename... Interfaces>
HRESULT query_interfaces(Self* self, REFIID riid, void** object)
{
    if (object == nullptr) {
        return E_POINTER;
    }
    *object = nullptr;
    if (riid == IUnknown::iid) {
        using First = std::tuple_element_t<0, std::tuple<Interfaces...>>;
        *object = static_cast<IUnknown*>(static_cast<First*>(self));
    }
    ((*object == nullptr && riid == Interfaces::iid ? (*object = static_cast<Interfaces*>(self), 0) : 0), ...);
    if (*object == nullptr) {
        return E_NOINTERFACE;
    }
    self->AddRef();
    return S_OK;
}

}  // namespace fp_platform

// Owning interface pointer.
template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    explicit ComPtr(T* pointer) : pointer_(pointer)
    {
        if (pointer_ != nullptr) {
            pointer_->AddRef();
        }
    }
    ComPtr(const ComPtr& other) : ComPtr(other.pointer_) {}
    ComPtr(ComPtr&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
    ~ComPtr() { reset(); }

    ComPtr& operator=(ComPtr other) noexcept
    {
        std::swap(pointer_, other.pointer_);
        return *this;
    }

    // Takes over a reference the caller already owns.
    static ComPtr attach(T* pointer)
    {
        ComPtr result;
        result.pointer_ = pointer;
        return result;
    }
    T* detach() { return std::exchange(pointer_, nullptr); }

    void reset()
    {
        if (T* old = std::exchange(pointer_, nullptr)) {
            old->Release();
        }
    }

    // Releases the current pointer and gives the address to receive a new one.
    T** put()
    {
        reset();
        return &pointer_;
    }
    void** put_void() { return reinterpret_cast<void**>(put()); }

    T* get() const { return pointer_; }
    T* operator->() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }

    template <typename U>
    HRESULT query(ComPtr<U>* result) const
    {
        if (pointer_ == nullptr) {
            return E_POINTER;
        }
        return pointer_->QueryInterface(U::iid, result->put_void());
    }

private:
    T* pointer_ = nullptr;
};
