#include "framework/PropertyPage.h"
#include "framework/Handles.h"

namespace {
const QITableEntry kPageTable[] = {QI_ENTRY(CPropertyPageBase, IPropertyPage), QI_END};

LPOLESTR TaskMemText(const std::string& text) {
    std::wstring wide = WideFromNarrow(text.c_str());
    auto* out = static_cast<LPOLESTR>(CoTaskMemAlloc((wide.size() + 1) * sizeof(wchar_t)));
    if (out)
        lstrcpyW(out, wide.c_str());
    return out;
}
} // namespace

CPropertyPageBase::~CPropertyPageBase() { Deactivate(); }

STDMETHODIMP CPropertyPageBase::QueryInterface(REFIID iid, void** out) { return QITableQuery(this, kPageTable, iid, out); }

STDMETHODIMP CPropertyPageBase::SetPageSite(IPropertyPageSite* site) {
    m_site = site;
    return S_OK;
}

INT_PTR CALLBACK CPropertyPageBase::DialogProc(HWND, UINT msg, WPARAM, LPARAM) { return msg == WM_INITDIALOG; }

STDMETHODIMP CPropertyPageBase::Activate(HWND parent, LPCRECT rect, BOOL) {
    if (m_hwnd)
        return E_UNEXPECTED;
    m_hwnd = CreateDialogParamA(CModule::Instance(), MAKEINTRESOURCEA(m_info.dialogId), parent, DialogProc, 0);
    if (!m_hwnd)
        return E_OUTOFMEMORY;
    if (rect)
        Move(rect);
    return S_OK;
}

STDMETHODIMP CPropertyPageBase::Deactivate() {
    if (m_hwnd) {
        DestroyWindow(m_hwnd);
        m_hwnd = nullptr;
    }
    return S_OK;
}

STDMETHODIMP CPropertyPageBase::GetPageInfo(PROPPAGEINFO* info) {
    if (!info)
        return E_POINTER;
    char caption[256] = "";
    LoadStringA(CModule::Instance(), m_info.captionId, caption, sizeof caption);
    info->cb = sizeof(PROPPAGEINFO);
    info->pszTitle = TaskMemText(caption);
    info->pszDocString = TaskMemText(m_info.docString);
    info->pszHelpFile = TaskMemText(m_info.helpFile);
    info->dwHelpContext = m_info.helpContext;
    // The page's size is its dialog template's, in pixels.
    info->size = {0, 0};
    HWND probe = CreateDialogParamA(CModule::Instance(), MAKEINTRESOURCEA(m_info.dialogId), GetDesktopWindow(),
                                    DialogProc, 0);
    if (probe) {
        RECT r;
        GetWindowRect(probe, &r);
        info->size = {r.right - r.left, r.bottom - r.top};
        DestroyWindow(probe);
    }
    return S_OK;
}

STDMETHODIMP CPropertyPageBase::SetObjects(ULONG count, IUnknown**) {
    m_objectCount = count;
    return S_OK;
}

STDMETHODIMP CPropertyPageBase::Show(UINT cmdShow) {
    if (!m_hwnd)
        return E_UNEXPECTED;
    ShowWindow(m_hwnd, static_cast<int>(cmdShow));
    return S_OK;
}

STDMETHODIMP CPropertyPageBase::Move(LPCRECT rect) {
    if (!m_hwnd)
        return E_UNEXPECTED;
    if (!rect)
        return E_POINTER;
    MoveWindow(m_hwnd, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, TRUE);
    return S_OK;
}

STDMETHODIMP CPropertyPageBase::TranslateAccelerator(MSG* msg) {
    return m_hwnd && msg && IsDialogMessageA(m_hwnd, msg) ? S_OK : S_FALSE;
}
