#include "framework/OleControl.h"
#include "framework/Handles.h"
#include "framework/Module.h"
#include "framework/TypeLibrary.h"
#include <olectl.h>

namespace {
const QITableEntry kControlTable[] = {
    QI_ENTRY(COleControl, IOleObject),
    QI_ENTRY2(COleControl, IOleWindow, IOleInPlaceObject),
    QI_ENTRY(COleControl, IOleInPlaceObject),
    QI_ENTRY(COleControl, IOleInPlaceActiveObject),
    QI_ENTRY(COleControl, IOleControl),
    QI_ENTRY2(COleControl, IViewObject, IViewObject2),
    QI_ENTRY(COleControl, IViewObject2),
    QI_ENTRY2(COleControl, IPersist, IPersistStreamInit),
    QI_ENTRY(COleControl, IPersistStreamInit),
    QI_ENTRY(COleControl, IPersistPropertyBag),
    QI_ENTRY2(COleControl, IProvideClassInfo, IProvideClassInfo2),
    QI_ENTRY(COleControl, IProvideClassInfo2),
    QI_ENTRY(COleControl, IConnectionPointContainer),
    QI_ENTRY(COleControl, ISpecifyPropertyPages),
    QI_ENTRY(COleControl, IDispatch),
    QI_END,
};

// The site's modifier flags (KEYMOD_SHIFT, KEYMOD_CONTROL), which not every SDK's headers declare.
constexpr DWORD kKeyModShift = 1, kKeyModControl = 2;

const wchar_t kVersionProperty[] = L"_Version";
const wchar_t kExtentXProperty[] = L"_ExtentX";
const wchar_t kExtentYProperty[] = L"_ExtentY";

// HIMETRIC (0.01 mm) from screen pixels, for the default extent.
LONG HimetricFromPixels(int pixels, bool horizontal) {
    HDC dc = GetDC(nullptr);
    int dpi = GetDeviceCaps(dc, horizontal ? LOGPIXELSX : LOGPIXELSY);
    ReleaseDC(nullptr, dc);
    return MulDiv(pixels, 2540, dpi ? dpi : 96);
}
} // namespace

COleControl::COleControl(const COleControlInfo& info)
    : m_info(info), m_events(static_cast<IConnectionPointContainer*>(this), *info.eventsIid) {
    m_extent.cx = HimetricFromPixels(600, true);
    m_extent.cy = HimetricFromPixels(300, false);
}

COleControl::~COleControl() {
    // The window must go before the sites it talks to.
    DestroyWindow();
}

STDMETHODIMP COleControl::QueryInterface(REFIID iid, void** out) { return QITableQuery(this, kControlTable, iid, out); }

STDMETHODIMP COleControl::SetClientSite(IOleClientSite* site) {
    // A container that lets go of its site may not have deactivated us: the in-place site it handed
    // out goes with it, so our window must go first.
    if (!site)
        ComBoundary([&] { return InPlaceDeactivate(); });
    m_clientSite = site;
    return S_OK;
}

STDMETHODIMP COleControl::GetClientSite(IOleClientSite** site) {
    if (!site)
        return E_POINTER;
    *site = m_clientSite.Get();
    if (*site)
        (*site)->AddRef();
    return S_OK;
}

STDMETHODIMP COleControl::Close(DWORD) {
    InPlaceDeactivate();
    if (m_adviseHolder)
        m_adviseHolder->SendOnClose();
    return S_OK;
}

HWND COleControl::ContainerWindow() const {
    HWND parent = nullptr;
    if (m_inPlaceSite)
        m_inPlaceSite.Get()->GetWindow(&parent);
    return parent;
}

HRESULT COleControl::InPlaceActivate(LONG verb) {
    if (!m_clientSite)
        return E_UNEXPECTED;
    if (!m_inPlaceActive) {
        CComPtr<IOleInPlaceSite> site;
        RETURN_IF_FAILED(m_clientSite->QueryInterface(IID_PPV_ARGS(&site)));
        if (site->CanInPlaceActivate() != S_OK)
            return E_FAIL;
        m_inPlaceSite = site;
        m_inPlaceSite->OnInPlaceActivate();
        m_inPlaceActive = true;
    }
    if (!IsWindow()) {
        HWND parent = nullptr;
        m_inPlaceSite->GetWindow(&parent);
        RECT pos = {0, 0, 0, 0}, clip = {0, 0, 0, 0};
        OLEINPLACEFRAMEINFO frameInfo = {};
        frameInfo.cb = sizeof(frameInfo);
        m_frame.Release();
        m_uiWindow.Release();
        m_inPlaceSite->GetWindowContext(&m_frame, &m_uiWindow, &pos, &clip, &frameInfo);
        if (!Create(nullptr, "", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, pos, parent, 0))
            return E_FAIL;
    }
    ShowWindow(m_hWnd, SW_SHOW);
    if ((verb == OLEIVERB_UIACTIVATE || verb == OLEIVERB_PRIMARY) && !m_uiActive) {
        UIActivate();
        SetFocus(m_hWnd);
    }
    return S_OK;
}

void COleControl::UIActivate() {
    if (m_uiActive || !m_inPlaceSite)
        return;
    m_uiActive = true;
    m_inPlaceSite->OnUIActivate();
    if (m_frame)
        m_frame->SetActiveObject(static_cast<IOleInPlaceActiveObject*>(this), nullptr);
    if (m_uiWindow)
        m_uiWindow->SetActiveObject(static_cast<IOleInPlaceActiveObject*>(this), nullptr);
}

UINT COleControl::FocusMovedMessage() {
    static const UINT message = RegisterWindowMessageA("Dorvex.ControlFocusMoved");
    return message;
}

bool COleControl::FocusInside() const {
    HWND focus = GetFocus();
    return IsWindow() && focus && (focus == m_hWnd || IsChild(m_hWnd, focus));
}

void COleControl::FocusMoved() {
    const bool inside = FocusInside();
    if (inside == m_hasFocus)
        return;
    m_hasFocus = inside;
    if (inside)
        UIActivate();
    CComPtr<IOleControlSite> site;
    if (m_clientSite && SUCCEEDED(m_clientSite->QueryInterface(IID_PPV_ARGS(&site))))
        site->OnFocus(inside);
}

LRESULT COleControl::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_SETFOCUS) {
        OnFocusGiven();
        FocusMoved();
    } else if (msg == WM_KILLFOCUS) {
        PostMessageA(m_hWnd, FocusMovedMessage(), 0, 0); // where the focus went is known once the move is over
    } else if (msg == FocusMovedMessage()) {
        FocusMoved();
    } else if (msg == WM_MOUSEACTIVATE) {
        // A click anywhere in the control makes it the container's active object, as Tab into it does.
        if (m_inPlaceActive)
            UIActivate();
    }
    return CWnd::WindowProc(msg, wParam, lParam);
}

STDMETHODIMP COleControl::TranslateAccelerator(LPMSG msg) {
    return ComBoundary([&]() -> HRESULT {
        if (!msg || msg->message < WM_KEYFIRST || msg->message > WM_KEYLAST || !FocusInside())
            return S_FALSE;
        switch (OnContainerKey(*msg)) {
        case KeyAnswer::Used:
            return S_OK;
        case KeyAnswer::Leave: {
            // A site that moves the focus itself does so; otherwise the container's dialog handling does.
            CComPtr<IOleControlSite> site;
            const DWORD modifiers = (GetKeyState(VK_SHIFT) < 0 ? kKeyModShift : 0) |
                                    (GetKeyState(VK_CONTROL) < 0 ? kKeyModControl : 0);
            if (m_clientSite && SUCCEEDED(m_clientSite->QueryInterface(IID_PPV_ARGS(&site))) &&
                site->TranslateAccelerator(msg, modifiers) == S_OK)
                return S_OK;
            return S_FALSE;
        }
        case KeyAnswer::NotUsed:
        default:
            return S_FALSE;
        }
    });
}

STDMETHODIMP COleControl::DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND parent, LPCRECT) {
    return ComBoundary([&]() -> HRESULT {
        if (site && !m_clientSite)
            m_clientSite = site;
        switch (verb) {
        case OLEIVERB_PRIMARY:
        case OLEIVERB_SHOW:
        case OLEIVERB_INPLACEACTIVATE:
        case OLEIVERB_UIACTIVATE:
            return InPlaceActivate(verb);
        case OLEIVERB_HIDE:
            if (IsWindow())
                ShowWindow(m_hWnd, SW_HIDE);
            return S_OK;
        case OLEIVERB_PROPERTIES:
            return ShowPropertyPages(parent ? parent : ContainerWindow());
        default:
            return OLEOBJ_S_INVALIDVERB;
        }
    });
}

HRESULT COleControl::ShowPropertyPages(HWND parent) {
    if (!m_info.propertyPage)
        return S_OK;
    IUnknown* self = static_cast<IOleObject*>(this);
    CLSID page = *m_info.propertyPage;
    return OleCreatePropertyFrame(parent, 0, 0, L"", 1, &self, 1, &page, GetUserDefaultLCID(), 0, nullptr);
}

STDMETHODIMP COleControl::EnumVerbs(IEnumOLEVERB** out) { return OleRegEnumVerbs(*m_info.clsid, out); }

STDMETHODIMP COleControl::GetUserClassID(CLSID* clsid) { return GetClassID(clsid); }

STDMETHODIMP COleControl::GetUserType(DWORD form, LPOLESTR* type) { return OleRegGetUserType(*m_info.clsid, form, type); }

STDMETHODIMP COleControl::SetExtent(DWORD aspect, SIZEL* size) {
    if (aspect != DVASPECT_CONTENT)
        return DV_E_DVASPECT;
    if (!size)
        return E_POINTER;
    m_extent = *size;
    m_dirty = true; // the size is saved with the control
    return S_OK;
}

STDMETHODIMP COleControl::GetExtent(DWORD aspect, SIZEL* size) {
    if (aspect != DVASPECT_CONTENT)
        return DV_E_DVASPECT;
    if (!size)
        return E_POINTER;
    *size = m_extent;
    return S_OK;
}

STDMETHODIMP COleControl::Advise(IAdviseSink* sink, DWORD* cookie) {
    if (!m_adviseHolder)
        RETURN_IF_FAILED(CreateOleAdviseHolder(&m_adviseHolder));
    return m_adviseHolder->Advise(sink, cookie);
}

STDMETHODIMP COleControl::Unadvise(DWORD cookie) {
    return m_adviseHolder ? m_adviseHolder->Unadvise(cookie) : OLE_E_NOCONNECTION;
}

STDMETHODIMP COleControl::EnumAdvise(IEnumSTATDATA** out) {
    return m_adviseHolder ? m_adviseHolder->EnumAdvise(out) : E_FAIL;
}

STDMETHODIMP COleControl::GetMiscStatus(DWORD aspect, DWORD* status) {
    if (!status)
        return E_POINTER;
    *status = aspect == DVASPECT_CONTENT ? m_info.miscStatus : 0;
    return S_OK;
}

STDMETHODIMP COleControl::GetWindow(HWND* hwnd) {
    if (!hwnd)
        return E_POINTER;
    *hwnd = m_hWnd;
    return m_hWnd ? S_OK : E_FAIL;
}

STDMETHODIMP COleControl::UIDeactivate() {
    if (!m_uiActive)
        return S_OK;
    m_uiActive = false;
    if (m_uiWindow)
        m_uiWindow.Get()->SetActiveObject(nullptr, nullptr);
    if (m_frame)
        m_frame.Get()->SetActiveObject(nullptr, nullptr);
    if (m_inPlaceSite)
        m_inPlaceSite.Get()->OnUIDeactivate(FALSE);
    return S_OK;
}

STDMETHODIMP COleControl::InPlaceDeactivate() {
    if (!m_inPlaceActive)
        return S_OK;
    UIDeactivate();
    DestroyWindow();
    m_inPlaceActive = false;
    m_hasFocus = false; // the window that had it is gone
    if (m_inPlaceSite)
        m_inPlaceSite.Get()->OnInPlaceDeactivate();
    m_inPlaceSite.Release();
    m_frame.Release();
    m_uiWindow.Release();
    return S_OK;
}

STDMETHODIMP COleControl::SetObjectRects(LPCRECT pos, LPCRECT) {
    if (!pos)
        return E_POINTER;
    if (IsWindow())
        SetWindowPos(m_hWnd, nullptr, pos->left, pos->top, pos->right - pos->left, pos->bottom - pos->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    return S_OK;
}

STDMETHODIMP COleControl::GetControlInfo(CONTROLINFO* info) {
    if (!info)
        return E_POINTER;
    info->cb = sizeof(CONTROLINFO);
    info->hAccel = nullptr;
    info->cAccel = 0;
    info->dwFlags = 0;
    return S_OK;
}

void COleControl::OnDraw(HDC dc, const RECT& bounds) { FillRect(dc, &bounds, GetSysColorBrush(COLOR_WINDOW)); }

STDMETHODIMP COleControl::Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC dc, LPCRECTL bounds, LPCRECTL,
                               BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR) {
    if (aspect != DVASPECT_CONTENT)
        return DV_E_DVASPECT;
    if (!dc || !bounds)
        return E_INVALIDARG;
    RECT rect = {bounds->left, bounds->top, bounds->right, bounds->bottom};
    return ComBoundary([&] {
        OnDraw(dc, rect);
        return S_OK;
    });
}

STDMETHODIMP COleControl::SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) {
    m_viewAspects = aspects;
    m_viewFlags = flags;
    m_viewSink = sink;
    return S_OK;
}

STDMETHODIMP COleControl::GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) {
    if (aspects)
        *aspects = m_viewAspects;
    if (flags)
        *flags = m_viewFlags;
    if (sink) {
        *sink = m_viewSink.Get();
        if (*sink)
            (*sink)->AddRef();
    }
    return S_OK;
}

STDMETHODIMP COleControl::GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) { return GetExtent(aspect, size); }

STDMETHODIMP COleControl::GetClassID(CLSID* clsid) {
    if (!clsid)
        return E_POINTER;
    *clsid = *m_info.clsid;
    return S_OK;
}

// The stream holds the persisted version and the extent, nothing else: the control has no properties. No
// version reads differently, so the one stored is not kept.
STDMETHODIMP COleControl::Load(LPSTREAM stream) {
    if (!stream)
        return E_POINTER;
    DWORD data[3] = {};
    ULONG read = 0;
    RETURN_IF_FAILED(stream->Read(data, sizeof data, &read));
    if (read != sizeof data)
        return STG_E_READFAULT;
    m_extent.cx = static_cast<LONG>(data[1]);
    m_extent.cy = static_cast<LONG>(data[2]);
    m_dirty = false;
    return S_OK;
}

STDMETHODIMP COleControl::Save(LPSTREAM stream, BOOL clearDirty) {
    if (!stream)
        return E_POINTER;
    // Always the current version: an older stream is converted on the next save.
    DWORD data[3] = {m_info.persistedVersion, static_cast<DWORD>(m_extent.cx), static_cast<DWORD>(m_extent.cy)};
    RETURN_IF_FAILED(stream->Write(data, sizeof data, nullptr));
    if (clearDirty)
        m_dirty = false;
    return S_OK;
}

STDMETHODIMP COleControl::GetSizeMax(ULARGE_INTEGER* size) {
    if (!size)
        return E_POINTER;
    size->QuadPart = 3 * sizeof(DWORD);
    return S_OK;
}

STDMETHODIMP COleControl::InitNew() {
    m_dirty = false;
    return S_OK;
}

STDMETHODIMP COleControl::Load(IPropertyBag* bag, IErrorLog* log) {
    if (!bag)
        return E_POINTER;
    const wchar_t* names[] = {kExtentXProperty, kExtentYProperty};
    LONG* extent[] = {&m_extent.cx, &m_extent.cy};
    for (int i = 0; i < 2; ++i) {
        CVariant v;
        v.vt = VT_I4;
        if (SUCCEEDED(bag->Read(names[i], &v, log)) && SUCCEEDED(VariantChangeType(&v, &v, 0, VT_I4)))
            *extent[i] = v.lVal;
    }
    return S_OK;
}

STDMETHODIMP COleControl::Save(IPropertyBag* bag, BOOL clearDirty, BOOL) {
    if (!bag)
        return E_POINTER;
    const wchar_t* names[] = {kVersionProperty, kExtentXProperty, kExtentYProperty};
    LONG values[] = {static_cast<LONG>(m_info.persistedVersion), m_extent.cx, m_extent.cy};
    for (int i = 0; i < 3; ++i) {
        VARIANT v;
        v.vt = VT_I4;
        v.lVal = values[i];
        RETURN_IF_FAILED(bag->Write(names[i], &v));
    }
    if (clearDirty)
        m_dirty = false;
    return S_OK;
}

HRESULT COleControl::LoadTypeInfo(REFGUID guid, ITypeInfo** info) const {
    if (!info)
        return E_POINTER;
    *info = nullptr;
    CComPtr<ITypeLib> lib;
    if (FAILED(LoadRegTypeLib(*m_info.libId, m_info.verMajor, m_info.verMinor, GetUserDefaultLCID(), &lib)))
        RETURN_IF_FAILED(LoadModuleTypeLib(&lib));
    return lib->GetTypeInfoOfGuid(guid, info);
}

STDMETHODIMP COleControl::GetClassInfo(ITypeInfo** info) {
    return ComBoundary([&] { return LoadTypeInfo(*m_info.clsid, info); });
}

STDMETHODIMP COleControl::GetGUID(DWORD kind, GUID* guid) {
    if (!guid)
        return E_POINTER;
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
        *guid = GUID_NULL;
        return E_INVALIDARG;
    }
    *guid = *m_info.eventsIid;
    return S_OK;
}

STDMETHODIMP COleControl::FindConnectionPoint(REFIID iid, IConnectionPoint** point) {
    if (!point)
        return E_POINTER;
    *point = nullptr;
    if (!IsEqualIID(iid, *m_info.eventsIid))
        return CONNECT_E_NOCONNECTION;
    *point = &m_events;
    m_events.AddRef();
    return S_OK;
}

STDMETHODIMP COleControl::EnumConnectionPoints(IEnumConnectionPoints** points) {
    return CSinglePointEnum::Create(&m_events, false, points);
}

STDMETHODIMP COleControl::GetPages(CAUUID* pages) {
    if (!pages)
        return E_POINTER;
    pages->cElems = 0;
    pages->pElems = nullptr;
    if (!m_info.propertyPage)
        return S_OK;
    pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
    if (!pages->pElems)
        return E_OUTOFMEMORY;
    pages->pElems[0] = *m_info.propertyPage;
    pages->cElems = 1;
    return S_OK;
}

STDMETHODIMP COleControl::GetTypeInfoCount(UINT* count) {
    if (!count)
        return E_POINTER;
    *count = 1;
    return S_OK;
}

STDMETHODIMP COleControl::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
    if (index != 0)
        return DISP_E_BADINDEX;
    return ComBoundary([&] { return LoadTypeInfo(*m_info.dispatchIid, info); });
}

STDMETHODIMP COleControl::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    return ComBoundary([&] {
        if (!m_dispatchInfo)
            RETURN_IF_FAILED(LoadTypeInfo(*m_info.dispatchIid, &m_dispatchInfo));
        return m_dispatchInfo->GetIDsOfNames(names, count, ids);
    });
}

STDMETHODIMP COleControl::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                 EXCEPINFO*, UINT* argErr) {
    if (!IsEqualIID(iid, IID_NULL))
        return DISP_E_UNKNOWNINTERFACE;
    const DISPPARAMS none = {nullptr, nullptr, 0, 0};
    return ComBoundary([&]() -> HRESULT {
        if (!m_dispatchInfo)
            RETURN_IF_FAILED(LoadTypeInfo(*m_info.dispatchIid, &m_dispatchInfo));
        CDispatchCall call;
        RETURN_IF_FAILED(call.Bind(m_dispatchInfo.Get(), id, flags, params ? *params : none, argErr));
        if (result)
            VariantInit(result);
        RETURN_IF_FAILED(InvokeMethod(id, call));
        call.WriteBack();
        return S_OK;
    });
}
