#include "SessionEvents.h"

#include "BlockArrays.h"

#include "framework/Handles.h"
#include "paramblock/ParamBlock.h"

void CSessionEvents::RequestComplete(long error, long request, bool success, const CParamBlock& answer,
                                     LONG_PTR userData) {
    SAFEARRAY* array = ByteArrayFromBlock(answer);
    if (!array)
        throw std::bad_alloc();
    CEventArgs args;
    args.Long(error).Long(request).Bool(success).ByteArrayRef(&array).PointerSized(userData);
    m_point.Fire(EV_REQUEST_COMPLETE, args);
    // Whatever the sinks left in the slot, ours or a replacement, is ours to free.
    if (array)
        SafeArrayDestroy(array);
}

void CSessionEvents::ConnectionStatus(short status) {
    CEventArgs args;
    m_point.Fire(EV_CONNECTION_STATUS, args.Short(status));
}

void CSessionEvents::ConnectionParamsChanged(const std::string& connection) {
    CEventArgs args;
    m_point.Fire(EV_CONNECTION_PARAMS_CHANGED, args.Text(connection));
}

long CSessionEvents::TaskStart(long task, const std::string& title, const std::string& file) {
    CEventArgs args;
    return m_point.Fire(EV_TASK_START, args.Long(task).Text(title).Text(file).Long(0));
}

long CSessionEvents::TaskProgress(long task, long percent, const std::string& text, long step) {
    CEventArgs args;
    return m_point.Fire(EV_TASK_PROGRESS, args.Long(task).Long(percent).Text(text).Long(step).Long(0));
}

void CSessionEvents::TaskComplete(long task, bool success) {
    CEventArgs args;
    m_point.Fire(EV_TASK_COMPLETE, args.Long(task).Byte(success ? 1 : 0).Long(0));
}

void CSessionEvents::BatchStart(long batch, const std::string& title, long files, long totalKB) {
    CEventArgs args;
    m_point.Fire(EV_XFER_BATCH_START, args.Long(batch).Text(title).Long(files).Long(totalKB).Long(0));
}

void CSessionEvents::FileStart(long batch, const std::string& source, const std::string& destination,
                               long sizeBytes, bool upload, const std::string& name) {
    CEventArgs args;
    args.Long(batch).Text(source).Text(destination).Long(sizeBytes).Byte(upload ? 1 : 0).Text(name).Long(0);
    m_point.Fire(EV_XFER_FILE_START, args);
}

void CSessionEvents::FileProgress(long batch, long fileIndex, long files, long bytesDone, long bytesTotal) {
    CEventArgs args;
    args.Long(batch).Long(fileIndex).Long(files).Long(bytesDone).Long(bytesTotal).Long(0);
    m_point.Fire(EV_XFER_FILE_PROGRESS, args);
}

void CSessionEvents::FileFinish(long batch, bool success) {
    CEventArgs args;
    m_point.Fire(EV_XFER_FILE_FINISH, args.Long(batch).Byte(success ? 1 : 0).Long(0));
}

void CSessionEvents::BatchFinish(long batch, bool success) {
    CEventArgs args;
    m_point.Fire(EV_XFER_BATCH_FINISH, args.Long(batch).Byte(success ? 1 : 0).Long(0));
}

bool CSessionEvents::HostQuery(long queryType, const std::string& prompt, std::string& answer) {
    for (const CComPtr<IDispatch>& sink : m_point.Sinks()) {
        CBstr given; // owns whatever text the sink leaves in the slot
        BSTR* slot = &given;
        *slot = SysAllocString(L"");
        CEventArgs args;
        args.Long(0).Long(queryType).Text(prompt).TextRef(slot).Long(0);
        CVariant result;
        if (CConnectionPoint::Call(sink.Get(), EV_HOST_QUERY, args, &result) != S_OK)
            continue;
        // A sink that returns nothing has handled the query; a non-zero long says it has not.
        if (V_VT(&result) != VT_EMPTY &&
            (FAILED(VariantChangeType(&result, &result, 0, VT_I4)) || V_I4(&result) != 0))
            continue;
        answer = given.Narrow();
        return true;
    }
    return false;
}
