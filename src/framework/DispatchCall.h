// One late-bound call bound to the function its type information declares, as the platform's dispatch
// helpers bind it: positional and named arguments matched to parameters, each converted to the declared
// type by VariantChangeType, and the standard errors for what does not fit (DISP_E_MEMBERNOTFOUND,
// DISP_E_BADPARAMCOUNT, DISP_E_PARAMNOTOPTIONAL, DISP_E_PARAMNOTFOUND, DISP_E_TYPEMISMATCH with the
// argument's index). So a script host's variables by reference and numbers of any type reach a method
// declared with short* as a short*, and a text reaches BSTR* by value or by reference. The reading of a
// declaration and the binding of one argument serve the session's event sink as well.
#pragma once
#include <windows.h>
#include <oaidl.h>
#include <vector>

// One parameter as a method's type information declares it.
struct DeclaredParam {
    VARTYPE type = VT_EMPTY; // by reference with VT_BYREF, a SAFEARRAY with VT_ARRAY
    bool known = false;      // false: a type no VARIANT carries
    bool optional = false;
};

// The parameters of method `id` of `info` in declaration order; false when `info` declares no such method.
bool FindMethodParams(ITypeInfo* info, DISPID id, std::vector<DeclaredParam>& params);

// Binds `arg` as the caller sent it to a parameter declared as `declared`, into `out`. By value it is
// converted as VariantChangeType converts (read through a reference); a VARIANT parameter takes a copy of
// the value. By reference `out` points at storage of exactly the declared type for the callee to write
// through and owns nothing: the caller's own reference, or the value inside a VARIANT it references. When
// neither has that type, a value or the referenced VARIANT is converted into `copy` and `out` points at
// the copy, `*writeBack` naming the caller's VARIANT the copy belongs back into (null for a value); without
// `copy` such an argument is refused. Failures: DISP_E_OVERFLOW for a number out of range, what copying a
// VARIANT failed with, DISP_E_TYPEMISMATCH for everything else.
HRESULT BindArgument(VARIANT& arg, VARTYPE declared, VARIANT& out, VARIANT* copy = nullptr,
                     VARIANT** writeBack = nullptr);

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
    std::vector<VARIANT> m_args;        // owned when by value; by reference they own nothing
    std::vector<VARIANT> m_copies;      // converted values of by-reference parameters
    std::vector<VARIANT*> m_writeBack;  // the caller's variable each copy returns to, or null
};
