// What the main window's component tests share: a scripted session component served by COM, scripted
// prompts, a host frame and the main window inside it, and the clean-up that checks both scripts ran out.
#pragma once
#include <windows.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include "DeviceSessionDouble.h"
#include "mainwnd/DorvexWnd.h"

#include <memory>

class MainWindowFixture : public ::testing::Test {
protected:
    void SetUp() override {
        // Every main window leaves its layout to the next: each test starts from none.
        RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Dorvex\\Browser");
        ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
        ASSERT_TRUE(EnsureSessionTypeLibrary());
        ASSERT_EQ(factory.Register(), S_OK);
        frame = CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, 0, 700, 400,
                                nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(frame, nullptr);
    }
    void TearDown() override {
        if (main) {
            if (main->HasSession())
                session.ExpectDestruction();
            main.reset();
        }
        session.VerifyDone();
        prompts.VerifyDone();
        DestroyWindow(frame);
        factory.Revoke();
        FreeTestStrings();
        OleUninitialize();
        RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Dorvex\\Browser");
    }

    // The main window as the control creates it: child 1700 of the control's window (here the frame);
    // the whole frame's client area unless `rect` is given.
    void CreateMainWindow(DWORD style, bool expectSession = true, const RECT* rect = nullptr) {
        if (expectSession)
            session.ExpectCreation();
        main = std::make_unique<CDorvexWnd>();
        RECT client;
        GetClientRect(frame, &client);
        ASSERT_TRUE(main->Create(nullptr, "Dorvex", style, rect ? *rect : client, frame, 1700));
        session.VerifyDone();
    }

    CSessionDouble session;
    CSessionFactory factory{session};
    CScriptedPrompts prompts;
    HWND frame = nullptr;
    std::unique_ptr<CDorvexWnd> main;
};
