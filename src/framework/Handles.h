// RAII for the system handles and OLE automation types the control holds.
#pragma once
#include <windows.h>
#include <ole2.h>
#include <string>
#include <utility>

// Narrow (system code page) <-> wide text at COM boundaries.
std::wstring WideFromNarrow(const char* text);
std::string NarrowFromWide(const wchar_t* text, int length = -1);

class CBstr {
public:
    CBstr() = default;
    explicit CBstr(const wchar_t* text) : m_b(text ? SysAllocString(text) : nullptr) {}
    explicit CBstr(const char* narrow) : m_b(SysAllocString(WideFromNarrow(narrow).c_str())) {}
    CBstr(const CBstr&) = delete;
    CBstr& operator=(const CBstr&) = delete;
    ~CBstr() { SysFreeString(m_b); }
    BSTR* operator&() {
        SysFreeString(m_b);
        m_b = nullptr;
        return &m_b;
    }
    BSTR Get() const { return m_b; }
    BSTR Detach() { return std::exchange(m_b, nullptr); }
    std::string Narrow() const { return m_b ? NarrowFromWide(m_b, static_cast<int>(SysStringLen(m_b))) : ""; }

private:
    BSTR m_b = nullptr;
};

class CVariant : public VARIANT {
public:
    CVariant() { VariantInit(this); }
    CVariant(const CVariant&) = delete;
    CVariant& operator=(const CVariant&) = delete;
    ~CVariant() { VariantClear(this); }
};

// Any handle with a close function: GDI objects, kernel handles, registry keys.
template <class H, auto Close> class CHandle {
public:
    CHandle() = default;
    explicit CHandle(H h) : m_h(h) {}
    CHandle(const CHandle&) = delete;
    CHandle& operator=(const CHandle&) = delete;
    CHandle(CHandle&& o) noexcept : m_h(std::exchange(o.m_h, H{})) {}
    CHandle& operator=(CHandle&& o) noexcept {
        Reset(std::exchange(o.m_h, H{}));
        return *this;
    }
    ~CHandle() { Reset(); }
    void Reset(H h = H{}) {
        if (m_h)
            Close(m_h);
        m_h = h;
    }
    H Get() const { return m_h; }
    H Detach() { return std::exchange(m_h, H{}); }
    explicit operator bool() const { return m_h != H{}; }

private:
    H m_h{};
};

using CGdiObject = CHandle<HGDIOBJ, DeleteObject>;
using CKernelHandle = CHandle<HANDLE, CloseHandle>;
using CRegKey = CHandle<HKEY, RegCloseKey>;
