// The host application's own automation object, as the control calls it when it holds no environment:
// its class, its interface and the one method the control uses. The host application registers them.
#pragma once
#include <windows.h>
#include <oaidl.h>

// {4F8E2F93-99C4-4753-9612-54EAC8B5171D}
constexpr CLSID kClsidHostApplication = {
    0x4f8e2f93, 0x99c4, 0x4753, {0x96, 0x12, 0x54, 0xea, 0xc8, 0xb5, 0x17, 0x1d}};
// {5D783FF3-6319-4F4D-9C74-D5146CE707BF}
constexpr IID kIidHostApplication = {
    0x5d783ff3, 0x6319, 0x4f4d, {0x9c, 0x74, 0xd5, 0x14, 0x6c, 0xe7, 0x07, 0xbf}};

// The interface's first own method starts the host as its command line says; the long receives a value
// the control does not use.
struct IHostApplication : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE RunCommandLine(BSTR commandLine, long* value) = 0;
};
