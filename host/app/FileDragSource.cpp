#include "FileDragSource.h"
#include <shlobj.h>
#include <cstring>

HRESULT CFileDragSource::Drag(DWORD* effect) {
    return DoDragDrop(this, this, DROPEFFECT_COPY, effect);
}

STDMETHODIMP CFileDragSource::QueryInterface(REFIID iid, void** out) {
    if (iid == IID_IUnknown || iid == IID_IDataObject)
        *out = static_cast<IDataObject*>(this);
    else if (iid == IID_IDropSource)
        *out = static_cast<IDropSource*>(this);
    else
        *out = nullptr;
    return *out ? S_OK : E_NOINTERFACE;
}

STDMETHODIMP CFileDragSource::QueryGetData(FORMATETC* format) {
    return format && format->cfFormat == CF_HDROP && (format->tymed & TYMED_HGLOBAL) ? S_OK : DV_E_FORMATETC;
}

// DROPFILES, then the ANSI paths, each with its NUL, and one more NUL: what the shell hands over.
STDMETHODIMP CFileDragSource::GetData(FORMATETC* format, STGMEDIUM* medium) {
    if (QueryGetData(format) != S_OK || !medium)
        return DV_E_FORMATETC;
    std::string list;
    for (const std::string& path : m_paths)
        list += path + '\0';
    list += '\0';
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + list.size());
    auto* block = memory ? static_cast<char*>(GlobalLock(memory)) : nullptr;
    if (!block) {
        if (memory)
            GlobalFree(memory);
        return E_OUTOFMEMORY;
    }
    reinterpret_cast<DROPFILES*>(block)->pFiles = sizeof(DROPFILES);
    std::memcpy(block + sizeof(DROPFILES), list.data(), list.size());
    GlobalUnlock(memory);
    *medium = {};
    medium->tymed = TYMED_HGLOBAL;
    medium->hGlobal = memory;
    return S_OK;
}

STDMETHODIMP CFileDragSource::EnumFormatEtc(DWORD direction, IEnumFORMATETC** out) {
    if (direction != DATADIR_GET)
        return E_NOTIMPL;
    FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    return SHCreateStdEnumFmtEtc(1, &format, out);
}

STDMETHODIMP CFileDragSource::QueryContinueDrag(BOOL escape, DWORD keys) {
    return escape ? DRAGDROP_S_CANCEL : (keys & MK_LBUTTON) ? S_OK : DRAGDROP_S_DROP;
}

namespace {
void Send(INPUT input) {
    SendInput(1, &input, sizeof input);
}
} // namespace

void MoveTo(POINT screen) {
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dx = MulDiv(screen.x, 65535, GetSystemMetrics(SM_CXSCREEN) - 1);
    input.mi.dy = MulDiv(screen.y, 65535, GetSystemMetrics(SM_CYSCREEN) - 1);
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    Send(input);
}

void LeftButton(bool down) {
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = down ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP;
    Send(input);
}

void Key(WORD key, bool down) {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
    Send(input);
}
