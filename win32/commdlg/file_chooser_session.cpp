// The modal side of a file chooser: one session per open chooser, the answer a backend hands over, and
// the loop that keeps the thread's messages flowing until then. Leaves out everything about the record
// (open_file_dialog.cpp) and about showing a chooser (the backends).
#include "commdlg/file_chooser_session.h"

#include <atomic>
#include <memory>
#include <mutex>

#include "base/backend_install.h"
#include "dialogs/dialog_internal.h"
#include "user/display_backend.h"
#include "user/message_queue.h"

namespace w32 {

struct FileChooserSession {
    std::shared_ptr<ThreadQueue> queue;  // of the thread running GetOpenFileNameA
    std::mutex lock;
    bool answered = false;
    FileChooserAnswer answer;
};

namespace {

std::atomic<const FileChooserBackend*> installedBackend{nullptr};

void IgnoreDispatch(void*) {}
void IgnoreRefusal(void*, const std::string&) {}

bool TakeAnswer(FileChooserSession& session, FileChooserAnswer* answer) {
    std::lock_guard<std::mutex> guard(session.lock);
    if (!session.answered) return false;
    session.answered = false;
    *answer = std::move(session.answer);
    return true;
}

}  // namespace

void AnswerFileChooser(FileChooserSession* session, const FileChooserAnswer& answer) {
    if (session == nullptr) return;
    {
        std::lock_guard<std::mutex> guard(session->lock);
        session->answer = answer;
        session->answered = true;
    }
    CurrentDisplay().Wake(session->queue->wait);
}

bool InstallFileChooserBackend(FileChooserBackend& backend) {
    if (!HasRequiredMembers("file chooser", backend.name,
                            {{"Open", backend.Open != nullptr}, {"Close", backend.Close != nullptr}}))
        return false;
    if (!backend.MessageDispatched) backend.MessageDispatched = IgnoreDispatch;
    if (!backend.Refused) backend.Refused = IgnoreRefusal;
    installedBackend.store(&backend);
    return true;
}

ChooserEnd RunFileChooser(const FileChooserRequest& request, const AnswerCheck& acceptable,
                          FileChooserAnswer* answer) {
    const FileChooserBackend* installed = installedBackend.load();
    if (installed == nullptr) {
        static std::atomic<bool> said{false};
        SayNotInstalled(said, "file chooser", "GetOpenFileNameA fails with CDERR_DIALOGFAILURE");
        return ChooserEnd::OpenFailed;
    }
    const FileChooserBackend& backend = *installed;
    auto session = std::make_unique<FileChooserSession>();
    session->queue = CurrentThreadQueue();

    // Like a modal dialog, the chooser disables its owner's top-level window while it is open.
    HWND owner = request.owner != nullptr ? TopLevelWindowOf(request.owner) : nullptr;
    bool ownerWasEnabled = owner != nullptr && IsWindowEnabled(owner);
    if (ownerWasEnabled) EnableWindow(owner, FALSE);

    void* chooser = backend.Open(session.get(), request);
    ChooserEnd end = ChooserEnd::OpenFailed;
    int quitCode = 0;
    while (chooser != nullptr) {
        FileChooserAnswer taken;
        if (TakeAnswer(*session, &taken)) {
            if (taken.outcome != FileChooserOutcome::Chosen || acceptable(&taken)) {
                *answer = std::move(taken);
                end = ChooserEnd::Answered;
                break;
            }
            backend.Refused(chooser, taken.path);
            continue;
        }
        MSG msg;
        if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                quitCode = static_cast<int>(msg.wParam);
                end = ChooserEnd::Quit;
                break;
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
            backend.MessageDispatched(chooser);
            continue;
        }
        CurrentDisplay().WaitForEvents(session->queue->wait);
    }
    if (chooser != nullptr) backend.Close(chooser);

    if (ownerWasEnabled && IsWindow(owner)) EnableWindow(owner, TRUE);
    if (end == ChooserEnd::Quit) PostQuitMessage(quitCode);
    return end;
}

}  // namespace w32
