#include "session/DeviceRequests.h"

RequestResult IDeviceRequests::OnePath(long request, const std::string& path, long wait, CParamBlock* answer) {
    CParamBlock input;
    input.At(0).SetText(path.c_str());
    if (request == REQ_DELETE_DIR)
        input.At(1).SetBool(true); // with everything below it
    return Execute(request, input, answer, wait);
}

RequestResult IDeviceRequests::Probe(long wait) {
    CParamBlock input;
    CParamBlock answer;
    return Execute(REQ_FS_PROBE, input, &answer, wait);
}

RequestResult IDeviceRequests::List(const std::string& path, long wait, CParamBlock& answer) {
    return OnePath(REQ_LIST_DIR, path, wait, &answer);
}

RequestResult IDeviceRequests::ChangeDir(const std::string& path, long wait) {
    return OnePath(REQ_CHANGE_DIR, path, wait);
}

RequestResult IDeviceRequests::MakeDir(const std::string& name, long wait) {
    return OnePath(REQ_MAKE_DIR, name, wait);
}

RequestResult IDeviceRequests::RemoveFile(const std::string& path, long wait) {
    return OnePath(REQ_DELETE_FILE, path, wait);
}

RequestResult IDeviceRequests::RemoveDir(const std::string& path, long wait) {
    return OnePath(REQ_DELETE_DIR, path, wait);
}
