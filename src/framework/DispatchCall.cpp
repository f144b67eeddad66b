#include "framework/DispatchCall.h"
#include "framework/ComPtr.h"
#include "framework/TypeLibrary.h"
#include <oleauto.h>

namespace {

bool Missing(const VARIANT* arg) {
    return !arg || (arg->vt == VT_ERROR && arg->scode == DISP_E_PARAMNOTFOUND);
}

// An overflow is the caller's to know about; every other failed conversion is a type mismatch.
HRESULT ConversionError(HRESULT hr) {
    return hr == DISP_E_OVERFLOW ? hr : DISP_E_TYPEMISMATCH;
}

// The function `id` declares for a method call, or null.
FUNCDESC* FindMethod(ITypeInfo* info, DISPID id) {
    TYPEATTR* attr = nullptr;
    if (FAILED(info->GetTypeAttr(&attr)) || !attr)
        return nullptr;
    const WORD functions = attr->cFuncs;
    info->ReleaseTypeAttr(attr);
    for (WORD i = 0; i < functions; ++i) {
        FUNCDESC* desc = nullptr;
        if (FAILED(info->GetFuncDesc(i, &desc)) || !desc)
            continue;
        if (desc->memid == id && desc->invkind == INVOKE_FUNC)
            return desc;
        info->ReleaseFuncDesc(desc);
    }
    return nullptr;
}

} // namespace

CDispatchCall::~CDispatchCall() {
    for (VARIANT& v : m_args)
        VariantClear(&v); // a by-reference VARIANT owns nothing: this only resets it
    for (VARIANT& v : m_copies)
        VariantClear(&v);
}

HRESULT CDispatchCall::Bind(ITypeInfo* info, DISPID id, WORD flags, const DISPPARAMS& params, UINT* argErr) {
    if (!info)
        return E_UNEXPECTED;
    if (!(flags & DISPATCH_METHOD))
        return DISP_E_MEMBERNOTFOUND;
    FUNCDESC* desc = FindMethod(info, id);
    if (!desc)
        return DISP_E_MEMBERNOTFOUND;
    struct Release {
        ITypeInfo* info;
        FUNCDESC* desc;
        ~Release() { info->ReleaseFuncDesc(desc); }
    } release{info, desc};

    const UINT count = static_cast<UINT>(desc->cParams);
    if (params.cArgs > count)
        return DISP_E_BADPARAMCOUNT;
    if (params.cNamedArgs > params.cArgs || (params.cArgs && !params.rgvarg) ||
        (params.cNamedArgs && !params.rgdispidNamedArgs))
        return E_INVALIDARG;

    // Positional arguments come last first, after the named ones.
    std::vector<VARIANT*> given(count, nullptr);
    std::vector<UINT> index(count, 0);
    const UINT positional = params.cArgs - params.cNamedArgs;
    for (UINT p = 0; p < positional; ++p) {
        index[p] = params.cArgs - 1 - p;
        given[p] = &params.rgvarg[index[p]];
    }
    for (UINT k = 0; k < params.cNamedArgs; ++k) {
        const DISPID named = params.rgdispidNamedArgs[k];
        if (named < 0 || static_cast<UINT>(named) >= count || given[named]) {
            if (argErr)
                *argErr = k;
            return DISP_E_PARAMNOTFOUND;
        }
        index[named] = k;
        given[named] = &params.rgvarg[k];
    }

    m_args.assign(count, VARIANT{});
    m_copies.assign(count, VARIANT{});
    m_writeBack.assign(count, nullptr);
    const UINT optional = desc->cParamsOpt > 0 ? static_cast<UINT>(desc->cParamsOpt) : 0;
    for (UINT i = 0; i < count; ++i) {
        const ELEMDESC& param = desc->lprgelemdescParam[i];
        VARTYPE declared = VT_EMPTY;
        if (!VarTypeOfTypeDesc(info, param.tdesc, declared))
            return DISP_E_BADVARTYPE;
        if (Missing(given[i])) {
            const bool isOptional = (param.paramdesc.wParamFlags & PARAMFLAG_FOPT) || i >= count - optional;
            if (isOptional && declared == VT_VARIANT) {
                m_args[i].vt = VT_ERROR;
                m_args[i].scode = DISP_E_PARAMNOTFOUND;
                continue;
            }
            // Too few arguments is a count error; a hole left among them, a parameter not optional.
            if (!given[i] && params.cNamedArgs == 0)
                return DISP_E_BADPARAMCOUNT;
            return DISP_E_PARAMNOTOPTIONAL;
        }
        const HRESULT hr = BindOne(i, declared, *given[i]);
        if (FAILED(hr)) {
            if (argErr)
                *argErr = index[i];
            return hr;
        }
    }
    return S_OK;
}

HRESULT CDispatchCall::BindOne(UINT i, VARTYPE declared, VARIANT& arg) {
    VARIANT& out = m_args[i];
    if (!(declared & VT_BYREF)) {
        if (declared == VT_VARIANT)
            return VariantCopyInd(&out, &arg);
        const HRESULT hr = VariantChangeType(&out, &arg, 0, declared);
        return FAILED(hr) ? ConversionError(hr) : S_OK;
    }
    const VARTYPE base = declared & ~VT_BYREF;
    if (arg.vt == declared) {
        if (!arg.byref)
            return DISP_E_TYPEMISMATCH;
        out.vt = declared;
        out.byref = arg.byref;
        return S_OK;
    }
    VARIANT* source = &arg;
    if (arg.vt == (VT_BYREF | VT_VARIANT)) {
        if (!arg.pvarVal)
            return DISP_E_TYPEMISMATCH;
        source = arg.pvarVal;
        if (source->vt == base && base != VT_VARIANT) {
            // The variable already holds the declared type: the method writes straight into it. Every
            // member of the VARIANT's value union starts at the same place.
            out.vt = declared;
            out.byref = &source->llVal;
            return S_OK;
        }
        if (base == VT_VARIANT) {
            out.vt = declared;
            out.pvarVal = source;
            return S_OK;
        }
        m_writeBack[i] = source;
    } else if (arg.vt & VT_BYREF) {
        // Another type by reference: the method could not write through it.
        return DISP_E_TYPEMISMATCH;
    }
    VARIANT& copy = m_copies[i];
    const HRESULT hr = VariantChangeType(&copy, source, 0, base);
    if (FAILED(hr)) {
        m_writeBack[i] = nullptr;
        return ConversionError(hr);
    }
    out.vt = declared;
    out.byref = &copy.llVal;
    return S_OK;
}

void CDispatchCall::WriteBack() {
    for (size_t i = 0; i < m_writeBack.size(); ++i) {
        if (!m_writeBack[i])
            continue;
        VariantClear(m_writeBack[i]);
        *m_writeBack[i] = m_copies[i];
        m_copies[i].vt = VT_EMPTY; // the caller's variable owns it now
        m_writeBack[i] = nullptr;
    }
}
