// The interface between GetOpenFileNameA and the thing that shows a file chooser (GTK, or the scripted one
// of the tests). Leaves out saving, multiple selection, hooks, templates and custom filters.
#ifndef PELOMI_WIN32_FILE_CHOOSER_H
#define PELOMI_WIN32_FILE_CHOOSER_H

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

namespace w32 {

// One description/pattern pair of OPENFILENAMEA.lpstrFilter.
struct FileChooserFilter {
    std::string description;            // as the program wrote it (UTF-8)
    std::vector<std::string> patterns;  // the pattern string split at ';', blanks around each removed
};

// What the program asked for, already read out of its OPENFILENAMEA. Strings are UTF-8; empty means "not
// given".
struct FileChooserRequest {
    HWND owner = nullptr;                    // null: the chooser belongs to no window
    std::string title;                       // empty: the backend's own title
    std::vector<FileChooserFilter> filters;  // in the program's order; may be empty
    size_t filterIndex = 0;                  // the filter selected first; < filters.size() when there are any
    std::string initialDirectory;            // lpstrInitialDir
    std::string initialName;                 // lpstrFile on entry: a bare name or a path
    std::string defaultExtension;            // lpstrDefExt, without the dot
    bool fileMustExist = false;              // OFN_FILEMUSTEXIST
    bool pathMustExist = false;              // OFN_PATHMUSTEXIST (implied by OFN_FILEMUSTEXIST)
};

enum class FileChooserOutcome {
    Chosen,     // the user picked `path`
    Cancelled,  // the user closed the chooser without a file
    Failed,     // the chooser broke down; GetOpenFileNameA fails with CDERR_DIALOGFAILURE
};

struct FileChooserAnswer {
    FileChooserOutcome outcome = FileChooserOutcome::Cancelled;
    std::string path;        // Chosen: the file (UTF-8); a relative path counts from the current directory
    size_t filterIndex = 0;  // the filter selected when the user answered
};

// One open chooser. GetOpenFileNameA owns it: it exists from before `Open` until after `Close` returns.
struct FileChooserSession;

// Hands the user's answer to the GetOpenFileNameA waiting on `session` and wakes its thread's message
// loop. Callable from any thread, never after the backend's `Close` for this session has returned. A
// later answer replaces one that was not taken yet.
void AnswerFileChooser(FileChooserSession* session, const FileChooserAnswer& answer);

// A backend: a table of functions, filled member by member by name and completed by
// InstallFileChooserBackend. Open and Close are required; MessageDispatched and Refused may be left null and
// get their defaults there, which do nothing. GetOpenFileNameA calls every member on the thread that called
// it, never while holding a lock; while a chooser is open it keeps dispatching the thread's messages
// (PeekMessageA, TranslateMessage, DispatchMessageA, then waiting through the display backend) until
// AnswerFileChooser was called.
// Several choosers may be open at once when a dispatched message calls GetOpenFileNameA again.
struct FileChooserBackend {
    const char* name;

    // Shows a chooser for `request` and returns the backend's state for it, handed back to the other
    // members; null when no chooser could be shown (GetOpenFileNameA fails with CDERR_DIALOGFAILURE).
    // It may answer from inside `Open`.
    void* (*Open)(FileChooserSession* session, const FileChooserRequest& request);
    // The modal loop dispatched one message while this chooser was open.
    void (*MessageDispatched)(void* chooser);
    // GetOpenFileNameA refused the answer `path` (OFN_FILEMUSTEXIST or OFN_PATHMUSTEXIST and it does not
    // exist), as Windows' dialog says "file not found" and stays open: tell the user and keep the chooser
    // open for another answer.
    void (*Refused)(void* chooser, const std::string& path);
    // Takes the chooser down, answered or not (the loop also ends on WM_QUIT). No AnswerFileChooser for
    // this session once it returns.
    void (*Close)(void* chooser);
};

// Completes `backend` as above and makes it the one GetOpenFileNameA uses from now on; false, with one line
// on stderr, when it lacks a required member. Not while a chooser is open. Before any is installed,
// GetOpenFileNameA fails with CDERR_DIALOGFAILURE.
bool InstallFileChooserBackend(FileChooserBackend& backend);

}  // namespace w32

#endif
