// The codes the session component's GetLastErrorInfo and RequestComplete report (host/session/README.md
// has the table).
#pragma once

enum SessionErrorCode : long {
    SE_OK = 0,
    SE_NOT_CONNECTED = 1,
    SE_BAD_CONNECTION_TEXT = 2,
    SE_DEVICE_NOT_FOUND = 3,
    SE_CONNECTION_REFUSED = 4,
    SE_CHECK_FAILED = 5,
    SE_UNKNOWN_REQUEST = 10,
    SE_BAD_INPUT = 11,
    SE_BAD_PATH = 12,
    SE_NOT_FOUND = 13,
    SE_EXISTS = 14,
    SE_DEVICE_IO = 15,
    SE_NOT_EMPTY = 16,
    SE_LOCAL_IO = 17,
    SE_WRONG_FILE_KIND = 18,
    SE_BUSY = 20,
    SE_NOT_RESERVED = 21,
    SE_NO_SUCH_REQUEST = 22,
    SE_INJECTED_FAILURE = 30,
    SE_TIMEOUT = 31,
    SE_CANCELLED = 33,
    SE_CONNECTION_LOST = 45,
    SE_DISCONNECTED = 46,
};
