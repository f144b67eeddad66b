// COM error object and the helpers that keep exceptions inside our own code: every COM method and
// window procedure converts whatever was raised into an HRESULT or a default answer.
#pragma once
#include <windows.h>
#include <new>

class CComError {
public:
    explicit CComError(HRESULT hr) : m_hr(hr) {}
    HRESULT Error() const { return m_hr; }

private:
    HRESULT m_hr;
};

inline void ThrowIfFailed(HRESULT hr) {
    if (FAILED(hr))
        throw CComError(hr);
}

#define RETURN_IF_FAILED(expr)                                                                               \
    do {                                                                                                     \
        HRESULT hr_ = (expr);                                                                                \
        if (FAILED(hr_))                                                                                     \
            return hr_;                                                                                      \
    } while (0)

// Runs f() and turns anything it raises into an HRESULT: the caller is a COM client.
template <class F> HRESULT ComBoundary(F&& f) noexcept {
    try {
        return f();
    } catch (const CComError& e) {
        return e.Error();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}
