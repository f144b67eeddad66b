#include "mainwnd/ProgressDialogs.h"

void CProgressDialogs::Create(HWND owner, HWND cancelWindow, UINT cancelMessage) {
    Destroy();
    m_task = std::make_unique<CQuorDialogEventTask>();
    m_task->Create(owner);
    m_file = std::make_unique<CQuorDialogEventFile>();
    m_file->SetCancelInfo(cancelWindow, cancelMessage);
    m_file->Create(owner);
}

void CProgressDialogs::Destroy() {
    m_file.reset();
    m_task.reset();
}

long CProgressDialogs::TaskStart(long task, const std::string& title, const std::string& file) {
    return m_task ? m_task->OnTaskStart(task, title.c_str(), file.c_str()) : 0;
}

long CProgressDialogs::TaskProgress(long task, long percent, const std::string& text, long step) {
    return m_task ? m_task->OnTaskProgress(task, percent, text.c_str(), step) : 0;
}

void CProgressDialogs::TaskComplete(long task, BYTE success) {
    if (m_task)
        m_task->OnTaskComplete(task, success);
}

void CProgressDialogs::FileXferBatchStart(long batch, const std::string& title, long files, long totalKB) {
    if (m_file)
        m_file->OnFileXferBatchStart(batch, title.c_str(), files, totalKB);
}

void CProgressDialogs::FileXferFileStart(long batch, const std::string& source, const std::string& destination,
                                         long sizeBytes, BYTE upload, const std::string& name) {
    if (m_file)
        m_file->OnFileXferFileStart(batch, source.c_str(), destination.c_str(), sizeBytes, upload, name.c_str());
}

void CProgressDialogs::FileXferFileProgress(long batch, long fileIndex, long files, long bytesDone,
                                            long bytesTotal) {
    if (m_file)
        m_file->OnFileXferFileProgress(batch, fileIndex, files, bytesDone, bytesTotal);
}

void CProgressDialogs::FileXferFileFinish(long batch, BYTE success) {
    if (m_file)
        m_file->OnFileXferFileFinish(batch, success);
}

void CProgressDialogs::FileXferBatchFinish(long batch, BYTE success) {
    if (m_file)
        m_file->OnFileXferBatchFinish(batch, success);
}
