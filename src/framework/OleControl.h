// Base of an ActiveX control: the interfaces a container needs to create, persist, in-place activate,
// draw, connect to and script the control. The control's own window is this object (a CWnd): it is
// created when the container activates the control in place and destroyed on deactivation.
#pragma once
#include "framework/ComObject.h"
#include "framework/ComPtr.h"
#include "framework/ConnectionPoint.h"
#include "framework/DispatchCall.h"
#include "framework/Wnd.h"
#include <ocidl.h>
#include <ole2.h>

// What a concrete control tells the base about itself.
struct COleControlInfo {
    const CLSID* clsid;
    const IID* dispatchIid;
    const IID* eventsIid;
    const GUID* libId;
    WORD verMajor, verMinor;
    DWORD miscStatus;
    const CLSID* propertyPage; // the one property page, or null
    DWORD persistedVersion;    // written by the persistence interfaces
};

class COleControl : public CComObjectBase,
                    public CWnd,
                    public IOleObject,
                    public IOleInPlaceObject,
                    public IOleInPlaceActiveObject,
                    public IOleControl,
                    public IViewObject2,
                    public IPersistStreamInit,
                    public IPersistPropertyBag,
                    public IProvideClassInfo2,
                    public IConnectionPointContainer,
                    public ISpecifyPropertyPages,
                    public IDispatch {
public:
    explicit COleControl(const COleControlInfo& info);
    ~COleControl() override;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return InternalAddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return InternalRelease(); }

    // IOleObject
    STDMETHODIMP SetClientSite(IOleClientSite* site) override;
    STDMETHODIMP GetClientSite(IOleClientSite** site) override;
    STDMETHODIMP SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
    STDMETHODIMP Close(DWORD saveOption) override;
    STDMETHODIMP SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    STDMETHODIMP InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP GetClipboardData(DWORD, IDataObject**) override { return E_NOTIMPL; }
    STDMETHODIMP DoVerb(LONG verb, LPMSG msg, IOleClientSite* site, LONG index, HWND parent, LPCRECT rect) override;
    STDMETHODIMP EnumVerbs(IEnumOLEVERB** out) override;
    STDMETHODIMP Update() override { return S_OK; }
    STDMETHODIMP IsUpToDate() override { return S_OK; }
    STDMETHODIMP GetUserClassID(CLSID* clsid) override;
    STDMETHODIMP GetUserType(DWORD form, LPOLESTR* type) override;
    STDMETHODIMP SetExtent(DWORD aspect, SIZEL* size) override;
    STDMETHODIMP GetExtent(DWORD aspect, SIZEL* size) override;
    STDMETHODIMP Advise(IAdviseSink* sink, DWORD* cookie) override;
    STDMETHODIMP Unadvise(DWORD cookie) override;
    STDMETHODIMP EnumAdvise(IEnumSTATDATA** out) override;
    STDMETHODIMP GetMiscStatus(DWORD aspect, DWORD* status) override;
    STDMETHODIMP SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

    // IOleWindow, IOleInPlaceObject, IOleInPlaceActiveObject
    STDMETHODIMP GetWindow(HWND* hwnd) override;
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP InPlaceDeactivate() override;
    STDMETHODIMP UIDeactivate() override;
    STDMETHODIMP SetObjectRects(LPCRECT pos, LPCRECT clip) override;
    STDMETHODIMP ReactivateAndUndo() override { return E_NOTIMPL; }
    // Keys the container's loop offers while the control is active: those the control uses go to it (the
    // container then neither translates nor dispatches them), the rest back to the container.
    STDMETHODIMP TranslateAccelerator(LPMSG msg) override;
    STDMETHODIMP OnFrameWindowActivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnDocWindowActivate(BOOL) override { return S_OK; }
    STDMETHODIMP ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return S_OK; }
    STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }

    // IOleControl
    STDMETHODIMP GetControlInfo(CONTROLINFO* info) override;
    STDMETHODIMP OnMnemonic(MSG*) override { return S_OK; }
    STDMETHODIMP OnAmbientPropertyChange(DISPID) override { return S_OK; }
    STDMETHODIMP FreezeEvents(BOOL) override { return S_OK; }

    // IViewObject2
    STDMETHODIMP Draw(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* device, HDC targetDc, HDC dc,
                      LPCRECTL bounds, LPCRECTL wBounds, BOOL(STDMETHODCALLTYPE* cont)(ULONG_PTR),
                      ULONG_PTR contArg) override;
    STDMETHODIMP GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE**) override { return S_FALSE; }
    STDMETHODIMP Freeze(DWORD, LONG, void*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP Unfreeze(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) override;
    STDMETHODIMP GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) override;
    STDMETHODIMP GetExtent(DWORD aspect, LONG index, DVTARGETDEVICE* device, LPSIZEL size) override;

    // IPersist, IPersistStreamInit, IPersistPropertyBag
    STDMETHODIMP GetClassID(CLSID* clsid) override;
    STDMETHODIMP IsDirty() override { return m_dirty ? S_OK : S_FALSE; }
    STDMETHODIMP Load(LPSTREAM stream) override;
    STDMETHODIMP Save(LPSTREAM stream, BOOL clearDirty) override;
    STDMETHODIMP GetSizeMax(ULARGE_INTEGER* size) override;
    STDMETHODIMP InitNew() override;
    STDMETHODIMP Load(IPropertyBag* bag, IErrorLog* log) override;
    STDMETHODIMP Save(IPropertyBag* bag, BOOL clearDirty, BOOL saveAll) override;

    // IProvideClassInfo2
    STDMETHODIMP GetClassInfo(ITypeInfo** info) override;
    STDMETHODIMP GetGUID(DWORD kind, GUID* guid) override;

    // IConnectionPointContainer
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** points) override;
    STDMETHODIMP FindConnectionPoint(REFIID iid, IConnectionPoint** point) override;

    // ISpecifyPropertyPages
    STDMETHODIMP GetPages(CAUUID* pages) override;

    // IDispatch: names, type information and the binding of every call's arguments from the type library
    // (CDispatchCall); the bound call goes to InvokeMethod.
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* excep, UINT* argErr) override;

    // Loads the type information of `guid` from the control's type library: registered first, the
    // module's own resource when the registry does not have it.
    HRESULT LoadTypeInfo(REFGUID guid, ITypeInfo** info) const;

    // Posted to the control's window by the windows inside it when one of them gains or loses the focus:
    // the control tells its site, and becomes UI-active when the focus comes in.
    static UINT FocusMovedMessage();

protected:
    // The dispatch map of the concrete control: method `id` with its arguments bound to the declared
    // parameter types, in declaration order.
    virtual HRESULT InvokeMethod(DISPID id, const CDispatchCall& call) = 0;
    // Paints the control's picture when the container draws it without its window.
    virtual void OnDraw(HDC dc, const RECT& bounds);
    // Shows the property pages (the standard properties verb).
    virtual HRESULT ShowPropertyPages(HWND parent);
    HRESULT InPlaceActivate(LONG verb);
    // What the control does with a key its container offers while the focus is inside it.
    enum class KeyAnswer {
        NotUsed,   // the container handles it
        Used,      // the control handled it
        Leave,     // Tab past the control's last part, or Shift+Tab before its first: the container moves on
    };
    virtual KeyAnswer OnContainerKey(MSG&) { return KeyAnswer::NotUsed; }
    // The control's own window was given the focus (by the container, a click, Tab): the control passes
    // it on to whichever of its parts should have it.
    virtual void OnFocusGiven() {}
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
    HWND ContainerWindow() const;

    const COleControlInfo m_info;

private:
    // UI activation without moving the focus: the container's frame learns who takes its keys.
    void UIActivate();
    // Whether the focus is on the control's window or one inside it.
    bool FocusInside() const;
    // Tells the site whether the focus is inside the control now, when that changed.
    void FocusMoved();

    CComPtr<IOleClientSite> m_clientSite;
    CComPtr<IOleInPlaceSite> m_inPlaceSite;
    CComPtr<IOleInPlaceFrame> m_frame;
    CComPtr<IOleInPlaceUIWindow> m_uiWindow;
    CComPtr<IOleAdviseHolder> m_adviseHolder;
    CComPtr<IAdviseSink> m_viewSink;
    DWORD m_viewAspects = 0, m_viewFlags = 0;
    bool m_inPlaceActive = false;
    bool m_uiActive = false;
    bool m_dirty = false;
    bool m_hasFocus = false;
    SIZEL m_extent;
    CConnectionPoint m_events;
    CComPtr<ITypeInfo> m_dispatchInfo; // loaded at the first call
};
