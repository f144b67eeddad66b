// What the end-to-end tests share: the OLE apartment, a call by name, and a host in the test program that
// embeds the control through the system's container.
#pragma once
#include <windows.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include "SessionTestSupport.h"

#include <oleauto.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace host_test {
// Looks the name up in the system locale and invokes it in the user's, as plug-ins do; args in order.
inline HRESULT CallByName(IDispatch* target, const wchar_t* name, std::vector<VARIANT> args,
                          VARIANT* result = nullptr, UINT* argError = nullptr, WORD flags = DISPATCH_METHOD) {
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPPARAMS params = {reversed.empty() ? nullptr : reversed.data(), nullptr,
                         static_cast<UINT>(reversed.size()), 0};
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    target->GetIDsOfNames(IID_NULL, names, 1, 0x800, &id);
    return target->Invoke(id, IID_NULL, 0x400, flags, &params, result, nullptr, argError);
}
} // namespace host_test

// Each test in OLE's apartment, with the host library's own boxes turned into answers.
class COleTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetEnvironmentVariableA("QUORGUI_NO_WINDOWS", "1");
        ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
    }
    void TearDown() override { OleUninitialize(); }
};

// The control in the system's ActiveX container (AtlAxWin) inside a frame window of this thread.
class CContainerHost {
public:
    ~CContainerHost() { Close(); }
    // Embeds the control registered under the control's ProgID; false when it could not be created. In a
    // frame window of its own, or in `dialog` at `place`, as a dialog host's control: the container passes
    // Tab on into the control's window, which is a tab stop.
    bool Open(HWND dialog = nullptr, RECT place = {0, 0, 640, 360});
    // Destroys the container window, and the control with it.
    void Close();

    HRESULT Call(const wchar_t* name, std::initializer_list<VARIANT> args);
    // The host's sequence: environment through a marshalled stream, the sizes, then the connection.
    HRESULT GiveEnvironment(IDispatch* environment);
    // Asks the control for its sizes (kept in `sizes` when given) and shows it at the preferred one.
    HRESULT ShowAtPreferredSize(short* sizes = nullptr);
    HRESULT Connect(const std::string& connection);
    // Open, the environment and the sizes: the control shown and ready for a connection.
    HRESULT Start(IDispatch* environment);

    IUnknown* Control() const { return m_control; }
    HWND Container() const { return m_container; }
    HWND ControlWindow() const { return m_controlWindow; }
    HWND MainWindow() const { return GetDlgItem(m_controlWindow, 1700); }
    HWND Tree() const { return GetDlgItem(MainWindow(), 1703); }

private:
    HMODULE m_atl = nullptr;
    HWND m_frame = nullptr;
    HWND m_container = nullptr;
    HWND m_controlWindow = nullptr;
    IUnknown* m_control = nullptr;
    IDispatch* m_dispatch = nullptr;
};
