#include "framework/DispatchCall.h"
#include "framework/ComPtr.h"
#include "framework/TypeLibrary.h"
#include <oleauto.h>

namespace {

bool Missing(const VARIANT* arg) {
    return !arg || (arg->vt == VT_ERROR && arg->scode == DISP_E_PARAMNOTFOUND);
}

// An overflow is the caller's to know about; every other failed conversion is a type mismatch.
HRESULT ConversionResult(HRESULT hr) {
    return SUCCEEDED(hr) ? S_OK : hr == DISP_E_OVERFLOW ? hr : DISP_E_TYPEMISMATCH;
}

} // namespace

bool FindMethodParams(ITypeInfo* info, DISPID id, std::vector<DeclaredParam>& params) {
    params.clear();
    TYPEATTR* attr = nullptr;
    if (!info || FAILED(info->GetTypeAttr(&attr)) || !attr)
        return false;
    const WORD functions = attr->cFuncs;
    info->ReleaseTypeAttr(attr);
    for (WORD i = 0; i < functions; ++i) {
        FUNCDESC* desc = nullptr;
        if (FAILED(info->GetFuncDesc(i, &desc)) || !desc)
            continue;
        struct Release {
            ITypeInfo* info;
            FUNCDESC* desc;
            ~Release() { info->ReleaseFuncDesc(desc); }
        } release{info, desc};
        if (desc->memid != id || desc->invkind != INVOKE_FUNC)
            continue;
        const UINT count = static_cast<UINT>(desc->cParams);
        const UINT optional = desc->cParamsOpt > 0 ? static_cast<UINT>(desc->cParamsOpt) : 0;
        params.resize(count);
        for (UINT p = 0; p < count; ++p) {
            const ELEMDESC& param = desc->lprgelemdescParam[p];
            params[p].known = VarTypeOfTypeDesc(info, param.tdesc, params[p].type);
            params[p].optional = (param.paramdesc.wParamFlags & PARAMFLAG_FOPT) || p >= count - optional;
        }
        return true;
    }
    return false;
}

HRESULT BindArgument(VARIANT& arg, VARTYPE declared, VARIANT& out, VARIANT* copy, VARIANT** writeBack) {
    if (!(declared & VT_BYREF)) {
        if (declared == VT_VARIANT)
            return VariantCopyInd(&out, &arg);
        return ConversionResult(VariantChangeType(&out, &arg, 0, declared));
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
        if (source->vt == base) {
            // The variable already holds the declared type: the callee writes straight into it. Every
            // member of the VARIANT's value union starts at the same place.
            out.vt = declared;
            out.byref = &source->llVal;
            return S_OK;
        }
    } else if (arg.vt & VT_BYREF) {
        // Another type by reference: the callee could not write through it.
        return DISP_E_TYPEMISMATCH;
    }
    if (!copy)
        return DISP_E_TYPEMISMATCH;
    RETURN_IF_FAILED(ConversionResult(VariantChangeType(copy, source, 0, base)));
    if (writeBack)
        *writeBack = source == &arg ? nullptr : source;
    out.vt = declared;
    out.byref = &copy->llVal;
    return S_OK;
}

CDispatchCall::~CDispatchCall() {
    for (VARIANT& v : m_args)
        VariantClear(&v); // a by-reference VARIANT owns nothing: this only resets it
    for (VARIANT& v : m_copies)
        VariantClear(&v);
}

HRESULT CDispatchCall::Bind(ITypeInfo* info, DISPID id, WORD flags, const DISPPARAMS& params, UINT* argErr) {
    if (!info)
        return E_UNEXPECTED;
    std::vector<DeclaredParam> declared;
    if (!(flags & DISPATCH_METHOD) || !FindMethodParams(info, id, declared))
        return DISP_E_MEMBERNOTFOUND;

    const UINT count = static_cast<UINT>(declared.size());
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
    for (UINT i = 0; i < count; ++i) {
        const DeclaredParam& param = declared[i];
        if (!param.known)
            return DISP_E_BADVARTYPE;
        if (Missing(given[i])) {
            if (param.optional && param.type == VT_VARIANT) {
                m_args[i].vt = VT_ERROR;
                m_args[i].scode = DISP_E_PARAMNOTFOUND;
                continue;
            }
            // Too few arguments is a count error; a hole left among them, a parameter not optional.
            if (!given[i] && params.cNamedArgs == 0)
                return DISP_E_BADPARAMCOUNT;
            return DISP_E_PARAMNOTOPTIONAL;
        }
        const HRESULT hr = BindArgument(*given[i], param.type, m_args[i], &m_copies[i], &m_writeBack[i]);
        if (FAILED(hr)) {
            if (argErr)
                *argErr = index[i];
            return hr;
        }
    }
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
