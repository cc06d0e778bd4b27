// The modal side of a file chooser: one session per open chooser, the answer a backend hands over, and
// the loop that keeps the thread's messages flowing until then. Leaves out everything about the record
// (open_file_dialog.cpp) and about showing a chooser (the backends).
#include "commdlg/file_chooser_session.h"

#include <atomic>
#include <memory>
#include <mutex>

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
    DisplayWake(session->queue->wait);
}

void SetFileChooserBackend(const FileChooserBackend* backend) { installedBackend.store(backend); }

const FileChooserBackend& CurrentFileChooserBackend() {
    const FileChooserBackend* backend = installedBackend.load();
    return backend != nullptr ? *backend : ScriptedFileChooserBackend();
}

ChooserEnd RunFileChooser(const FileChooserRequest& request, const AnswerCheck& acceptable,
                          FileChooserAnswer* answer) {
    const FileChooserBackend& backend = CurrentFileChooserBackend();
    auto session = std::make_unique<FileChooserSession>();
    session->queue = CurrentThreadQueue();

    // Like a modal dialog, the chooser disables its owner's top-level window while it is open.
    HWND owner = request.owner != nullptr ? TopLevelWindowOf(request.owner) : nullptr;
    bool ownerWasEnabled = owner != nullptr && IsWindowEnabled(owner);
    if (ownerWasEnabled) EnableWindow(owner, FALSE);

    void* chooser = backend.open != nullptr ? backend.open(session.get(), request) : nullptr;
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
            if (backend.refused != nullptr) backend.refused(chooser, taken.path);
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
            if (backend.messageDispatched != nullptr) backend.messageDispatched(chooser);
            continue;
        }
        DisplayWaitForEvents(session->queue->wait);
    }
    if (chooser != nullptr && backend.close != nullptr) backend.close(chooser);

    if (ownerWasEnabled && IsWindow(owner)) EnableWindow(owner, TRUE);
    if (end == ChooserEnd::Quit) PostQuitMessage(quitCode);
    return end;
}

}  // namespace w32
