#include "browser/DropTarget.h"
#include "framework/Dpi.h"
#include "browser/ShellTransfer.h"
#include "framework/ComObject.h"
#include <shlobj.h>

namespace {

class CFileDropTarget : public CComObjectBase, public IDropTarget {
public:
    CFileDropTarget(HWND window, IFileDropPane* pane) : m_window(window), m_pane(pane) {
        // The drag image the source gave, drawn over the view; a system without the helper goes without it.
        CoCreateInstance(CLSID_DragDropHelper, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&m_helper));
    }
    void Detach() { m_pane = nullptr; }

    static const QITableEntry kTable[];
    DECLARE_IUNKNOWN(kTable)

    STDMETHODIMP DragEnter(IDataObject* data, DWORD, POINTL point, DWORD* effect) override {
        m_accept = m_pane && data && !IsDeviceData(data) && HasFiles(data);
        m_lastScroll = 0;
        *effect = Effect(point, *effect);
        if (m_helper) {
            POINT at = {point.x, point.y};
            m_helper->DragEnter(m_window, data, &at, *effect);
        }
        return S_OK;
    }
    STDMETHODIMP DragOver(DWORD, POINTL point, DWORD* effect) override {
        *effect = Effect(point, *effect);
        if (m_accept && Scroll(point))
            *effect |= DROPEFFECT_SCROLL;
        if (m_helper) {
            POINT at = {point.x, point.y};
            m_helper->DragOver(&at, *effect);
        }
        return S_OK;
    }
    STDMETHODIMP DragLeave() override {
        if (m_pane)
            m_pane->EndDropHighlight();
        if (m_helper)
            m_helper->DragLeave();
        return S_OK;
    }
    STDMETHODIMP Drop(IDataObject* data, DWORD, POINTL point, DWORD* effect) override {
        std::string directory;
        if (m_accept && m_pane)
            directory = m_pane->DropDirectoryAt(ClientPoint(point));
        *effect = directory.empty() ? DROPEFFECT_NONE : (*effect & DROPEFFECT_COPY);
        if (m_helper) {
            POINT at = {point.x, point.y};
            m_helper->Drop(data, &at, *effect);
        }
        if (m_pane)
            m_pane->EndDropHighlight();
        if (*effect == DROPEFFECT_NONE)
            return S_OK;
        // The files are read now, while the source still holds them; the batch runs after the drop.
        const std::vector<std::string> paths = DataFiles(data);
        if (paths.empty()) {
            *effect = DROPEFFECT_NONE;
            return S_OK;
        }
        m_pane->DropFiles(paths, directory, POINT{point.x, point.y});
        return S_OK;
    }

private:
    static bool HasFiles(IDataObject* data) {
        FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        return data->QueryGetData(&format) == S_OK;
    }
    POINT ClientPoint(POINTL point) const {
        POINT client = {point.x, point.y};
        ScreenToClient(m_window, &client);
        return client;
    }
    // Copy where a directory takes files, nothing elsewhere; a source that offers no copy gets nothing.
    DWORD Effect(POINTL point, DWORD allowed) {
        if (!m_accept || !m_pane || !(allowed & DROPEFFECT_COPY))
            return DROPEFFECT_NONE;
        return m_pane->DropDirectoryAt(ClientPoint(point)).empty() ? DROPEFFECT_NONE : DROPEFFECT_COPY;
    }
    // One line at a time while the pointer rests near the top or bottom edge. True when it scrolled.
    bool Scroll(POINTL point) {
        RECT client = {};
        GetClientRect(m_window, &client);
        const POINT at = ClientPoint(point);
        const int margin = MulDiv(kDropScrollMargin, WindowDpi(m_window), 96);
        const int direction = at.y < client.top + margin ? SB_LINEUP : at.y >= client.bottom - margin ? SB_LINEDOWN : -1;
        if (direction < 0 || at.x < client.left || at.x >= client.right)
            return false;
        const DWORD now = GetTickCount();
        if (m_lastScroll && now - m_lastScroll < kDropScrollInterval)
            return true;
        m_lastScroll = now;
        if (m_helper)
            m_helper->Show(FALSE); // the image would smear across the scrolled rows
        SendMessageA(m_window, WM_VSCROLL, MAKEWPARAM(direction, 0), 0);
        UpdateWindow(m_window);
        if (m_helper)
            m_helper->Show(TRUE);
        return true;
    }

    HWND m_window;
    IFileDropPane* m_pane;
    CComPtr<IDropTargetHelper> m_helper;
    bool m_accept = false;
    DWORD m_lastScroll = 0;
};

const QITableEntry CFileDropTarget::kTable[] = {QI_ENTRY(CFileDropTarget, IDropTarget), QI_END};

} // namespace

bool CDropRegistration::Register(HWND window, IFileDropPane* pane) {
    Revoke();
    CComPtr<IDropTarget> target;
    target.Attach(new CFileDropTarget(window, pane));
    if (FAILED(RegisterDragDrop(window, target.Get())))
        return false;
    m_window = window;
    m_target = target;
    return true;
}

void CDropRegistration::Revoke() {
    if (!m_target)
        return;
    RevokeDragDrop(m_window);
    // The system may still hold the target (a drag over the view): it must not reach the pane any more.
    static_cast<CFileDropTarget*>(m_target.Get())->Detach();
    m_target.Release();
    m_window = nullptr;
}
