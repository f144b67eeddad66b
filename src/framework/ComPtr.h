// Reference-holding interface pointer. Using an empty one raises a CComError carrying E_POINTER,
// so a missing component surfaces as a COM error at the call, not as a crash.
#pragma once
#include "framework/ComError.h"
#include <unknwn.h>
#include <memory>

template <class T> class CComPtr {
public:
    CComPtr() = default;
    CComPtr(T* p) : m_p(p) { // NOLINT: adopts with AddRef, like the classic smart pointers
        if (m_p)
            m_p->AddRef();
    }
    CComPtr(const CComPtr& o) : CComPtr(o.m_p) {}
    CComPtr(CComPtr&& o) noexcept : m_p(o.m_p) { o.m_p = nullptr; }
    ~CComPtr() { Release(); }
    CComPtr& operator=(const CComPtr& o) {
        if (o.m_p)
            o.m_p->AddRef();
        Release();
        m_p = o.m_p;
        return *this;
    }
    CComPtr& operator=(CComPtr&& o) noexcept {
        if (this != std::addressof(o)) {
            Release();
            m_p = o.m_p;
            o.m_p = nullptr;
        }
        return *this;
    }

    void Release() {
        if (T* p = m_p) {
            m_p = nullptr;
            p->Release();
        }
    }
    // Takes over a reference the caller already owns.
    void Attach(T* p) {
        Release();
        m_p = p;
    }
    T* Detach() {
        T* p = m_p;
        m_p = nullptr;
        return p;
    }
    T** operator&() {
        Release();
        return &m_p;
    }
    T* operator->() const {
        if (!m_p)
            throw CComError(E_POINTER);
        return m_p;
    }
    T* Get() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }

    template <class Q> HRESULT QueryInterface(REFIID iid, CComPtr<Q>& out) const {
        if (!m_p)
            return E_POINTER;
        return m_p->QueryInterface(iid, reinterpret_cast<void**>(&out));
    }

private:
    T* m_p = nullptr;
};
