#include "browser/Messages.h"
#include "session/TransferList.h"

bool PostPath(HWND window, UINT message, const std::string& path) {
    auto copy = std::make_unique<std::string>(path);
    if (!window || !PostMessageA(window, message, 0, reinterpret_cast<LPARAM>(copy.get())))
        return false;
    copy.release(); // the receiver's now
    return true;
}

std::unique_ptr<std::string> TakePath(LPARAM lParam) {
    return std::unique_ptr<std::string>(reinterpret_cast<std::string*>(lParam));
}

bool PostTransferList(HWND window, UINT message, std::unique_ptr<CTransferList> list) {
    if (!window || !PostMessageA(window, message, 0, reinterpret_cast<LPARAM>(list.get())))
        return false;
    list.release();
    return true;
}

std::unique_ptr<CTransferList> TakeTransferList(LPARAM lParam) {
    return std::unique_ptr<CTransferList>(reinterpret_cast<CTransferList*>(lParam));
}

void DrainPrivateMessages(HWND window) {
    MSG msg;
    while (window && PeekMessageA(&msg, window, UWM_LIST_SHOW_DIR, UWM_CONNECT_FAILED, PM_REMOVE)) {
        switch (msg.message) {
        case UWM_LIST_SHOW_DIR:
        case UWM_TREE_SELECT_PATH:
        case UWM_TREE_REFRESH_PATH:
            TakePath(msg.lParam);
            break;
        case UWM_TRANSFER_START:
        case UWM_TRANSFER_STEP:
            TakeTransferList(msg.lParam);
            break;
        default:
            break;
        }
    }
}
