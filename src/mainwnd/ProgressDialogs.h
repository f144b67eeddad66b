// The host's two progress dialogs, file transfers and device tasks, and the session events that drive
// them. Before they are made and after they are gone every event is answered 0.
#pragma once
#include "contracts/QuorGui.h"
#include "session/DeviceSession.h"
#include <memory>

class CProgressDialogs : public ISessionListener {
public:
    // Makes a fresh pair owned by `owner` (the host's top-level window, or none); the file dialog's
    // Cancel posts `cancelMessage` to `cancelWindow`.
    void Create(HWND owner, HWND cancelWindow, UINT cancelMessage);
    void Destroy();

    CQuorDialogEventFile* File() const { return m_file.get(); }
    CQuorDialogEventTask* Task() const { return m_task.get(); }

    long TaskStart(long task, const std::string& title, const std::string& file) override;
    long TaskProgress(long task, long percent, const std::string& text, long step) override;
    void TaskComplete(long task, BYTE success) override;
    void FileXferBatchStart(long batch, const std::string& title, long files, long totalKB) override;
    void FileXferFileStart(long batch, const std::string& source, const std::string& destination, long sizeBytes,
                           BYTE upload, const std::string& name) override;
    void FileXferFileProgress(long batch, long fileIndex, long files, long bytesDone, long bytesTotal) override;
    void FileXferFileFinish(long batch, BYTE success) override;
    void FileXferBatchFinish(long batch, BYTE success) override;

private:
    // The library's destructors destroy the dialogs' windows.
    std::unique_ptr<CQuorDialogEventFile> m_file;
    std::unique_ptr<CQuorDialogEventTask> m_task;
};
