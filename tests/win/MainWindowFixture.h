// A scripted session component served by COM and scripted prompts, both checked at the end; for the main
// window's tests also a host frame with the main window in it.
#pragma once
#include <windows.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include "DeviceSessionDouble.h"
#include "mainwnd/DorvexWnd.h"

#include <memory>

class ScriptedSessionFixture : public ::testing::Test {
protected:
    void SetUp() override {
        // The host library shows nothing and runs no modal loop of its own.
        SetEnvironmentVariableA("QUORGUI_NO_WINDOWS", "1");
        ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
        ASSERT_TRUE(EnsureSessionTypeLibrary())
            << "the session's type library is neither registered nor next to the program";
        ASSERT_EQ(factory.Register(), S_OK);
    }
    void TearDown() override {
        session.VerifyDone();
        prompts.VerifyDone();
        factory.Revoke();
        FreeTestStrings();
        OleUninitialize();
    }

    CSessionDouble session;
    CSessionFactory factory{session};
    CScriptedPrompts prompts;
};

class MainWindowFixture : public ScriptedSessionFixture {
protected:
    void SetUp() override {
        // Every main window leaves its layout to the next: each test starts from none.
        RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Dorvex\\Browser");
        ScriptedSessionFixture::SetUp();
        frame = CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, 0, 700, 400,
                                nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(frame, nullptr);
    }
    void TearDown() override {
        if (main && main->HasSession())
            session.ExpectDestruction();
        main.reset();
        DestroyWindow(frame);
        ScriptedSessionFixture::TearDown();
        RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Dorvex\\Browser");
    }

    // The main window as the control creates it: child 1700 of the control's window (here the frame);
    // the whole frame's client area unless `rect` is given. Hidden unless `style` says otherwise.
    void CreateMainWindow(DWORD style = WS_CHILD, bool expectSession = true, const RECT* rect = nullptr) {
        if (expectSession)
            session.ExpectCreation();
        main = std::make_unique<CDorvexWnd>();
        RECT client;
        GetClientRect(frame, &client);
        ASSERT_TRUE(main->Create(nullptr, "Dorvex", style, rect ? *rect : client, frame, 1700));
        session.VerifyDone();
        tree = GetDlgItem(main->m_hWnd, 1703);
        list = GetDlgItem(main->m_hWnd, 1702);
    }

    HWND frame = nullptr;
    std::unique_ptr<CDorvexWnd> main;
    HWND tree = nullptr;
    HWND list = nullptr;
};
