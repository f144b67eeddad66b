// One late-bound call bound to the function its type information declares, as the platform's dispatch
// helpers bind it: positional and named arguments matched to parameters, each converted to the declared
// type by VariantChangeType, and the standard errors for what does not fit (DISP_E_MEMBERNOTFOUND,
// DISP_E_BADPARAMCOUNT, DISP_E_PARAMNOTOPTIONAL, DISP_E_PARAMNOTFOUND, DISP_E_TYPEMISMATCH with the
// argument's index). So a script host's variables by reference and numbers of any type reach a method
// declared with short* as a short*, and a text reaches BSTR* by value or by reference.
#pragma once
#include <windows.h>
#include <oaidl.h>
#include <vector>

class CDispatchCall {
public:
    CDispatchCall() = default;
    CDispatchCall(const CDispatchCall&) = delete;
    CDispatchCall& operator=(const CDispatchCall&) = delete;
    ~CDispatchCall();

    // Binds `params` to method `id` of `info`; `argErr` receives the index (in params->rgvarg) of an
    // argument that cannot be converted or names no parameter.
    HRESULT Bind(ITypeInfo* info, DISPID id, WORD flags, const DISPPARAMS& params, UINT* argErr);
    UINT Count() const { return static_cast<UINT>(m_args.size()); }
    // Parameter `position` (from the first declared), of exactly its declared type. A by-reference one
    // points at the caller's storage when that has the declared type, otherwise at a converted copy.
    const VARIANT& Arg(UINT position) const { return m_args[position]; }
    // After the method ran: the copies that stand for a caller's VARIANT by reference go back into it, now
    // of the declared type, as a script engine expects its variables to be filled.
    void WriteBack();

private:
    HRESULT BindOne(UINT position, VARTYPE declared, VARIANT& arg);

    std::vector<VARIANT> m_args;        // owned when by value; by reference they own nothing
    std::vector<VARIANT> m_copies;      // converted values of by-reference parameters
    std::vector<VARIANT*> m_writeBack;  // the caller's variable each copy returns to, or null
};
