// The methods of the environment object the host hands its plug-in. The object has no type information:
// a plug-in looks each name up (GetIDsOfNames, without regard to case) and the host answers with the
// DISPID here.
#pragma once

enum EnvironmentMethod : long {
    ENV_UPDATE_CONNECTION_STATUS = 1,
    ENV_UPDATE_CONNECTION_PARAMS = 2,
    ENV_LAUNCH_PLUGIN = 3,
    ENV_SET_PLUGIN_WINDOW_SIZE = 4,
    ENV_GET_CURRENT_ADDRESS = 5,
    ENV_SHOW_FRAME_FOOTER = 6,
    ENV_APPEND_TO_WINDOW_TITLE = 7,
    ENV_SET_WINDOW_TITLE_TOOL = 8,
};

inline constexpr long kEnvironmentMethodCount = 8;

// By DISPID - 1.
inline constexpr const wchar_t* kEnvironmentMethodNames[kEnvironmentMethodCount] = {
    L"VNLENVUpdateConnectionStatus", L"VNLENVUpdateConnectionParams", L"VNLENVLaunchPlugin",
    L"VNLENVSetPluginWindowSize",    L"VNLENVGetCurrentAddress",      L"VNLENVShowFrameFooter",
    L"VNLENVAppendToWindowTitle",    L"VNLENVSetWindowTitleTool",
};

constexpr const wchar_t* EnvironmentMethodName(EnvironmentMethod method) {
    return kEnvironmentMethodNames[method - 1];
}
