// What the shell does when the user drags files out of a folder window: a data object offering local files
// as CF_HDROP and the drag's source, for the tour and the tests. With it, the input a hand gives: the
// pointer moved to a screen point, the left button, a key.
#pragma once
#include <windows.h>
#include <ole2.h>
#include <string>
#include <vector>

class CFileDragSource : public IDataObject, public IDropSource {
public:
    explicit CFileDragSource(std::vector<std::string> paths) : m_paths(std::move(paths)) {}
    CFileDragSource(const CFileDragSource&) = delete;
    CFileDragSource& operator=(const CFileDragSource&) = delete;
    virtual ~CFileDragSource() = default;

    // Drags the files until the button goes up (a drop) or Escape (a cancel); DoDragDrop's result.
    HRESULT Drag(DWORD* effect);

    // A stack object: it lives as long as the drag, so the counts do nothing.
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override;
    STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryGetData(FORMATETC* format) override;
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
    STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP EnumFormatEtc(DWORD direction, IEnumFORMATETC** out) override;
    STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return OLE_E_ADVISENOTSUPPORTED; }
    STDMETHODIMP DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }
    STDMETHODIMP QueryContinueDrag(BOOL escape, DWORD keys) override;
    STDMETHODIMP GiveFeedback(DWORD) override { return DRAGDROP_S_USEDEFAULTCURSORS; }

private:
    std::vector<std::string> m_paths;
};

// Real input, as the user's hand gives it.
void MoveTo(POINT screen);
void LeftButton(bool down);
void Key(WORD key, bool down);
