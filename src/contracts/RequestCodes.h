// The request codes of the session's operations, shared by the control and the session component (the
// typed operations use the same numbers as their menu commands).
#pragma once

enum RequestCode : long {
    REQ_FS_PROBE = 0x1002,
    REQ_MAKE_DIR = 0x1003,
    REQ_CHANGE_DIR = 0x1007,
    REQ_LIST_DIR = 0x1009,
    REQ_DELETE_FILE = 0x100A,
    REQ_DELETE_DIR = 0x100D,
    REQ_SEND_FILE = 0x1800,
    REQ_RECEIVE_FILE = 0x1801,
    REQ_CONNECT_CHECK = 0x5003,
    REQ_FIRMWARE_SPECS = 0x5400,
    REQ_UPDATE_FIRMWARE = 0x5404,
    REQ_LOAD_PROGRAM = 0x7401,
    REQ_PROGRAM_SPEC = 0x740A,
    REQ_LOAD_DISPLAY_LIST = 0x8801,
    REQ_DISPLAY_LIST_SPEC = 0x8804,
};
