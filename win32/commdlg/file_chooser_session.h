// The modal run of one file chooser, for GetOpenFileNameA: opens it through the installed backend and
// dispatches the thread's messages until an acceptable answer comes. Leaves out reading and writing the
// OPENFILENAMEA record.
#ifndef PELOMI_WIN32_FILE_CHOOSER_SESSION_H
#define PELOMI_WIN32_FILE_CHOOSER_SESSION_H

#include <windows.h>

#include <functional>

#include "commdlg/file_chooser.h"

namespace w32 {

enum class ChooserEnd {
    Answered,    // *answer holds what the user did (a chosen path has passed the check)
    Quit,        // a WM_QUIT came first; it has been posted again for the loop outside
    OpenFailed,  // the backend could not show a chooser
};

// Looks at a chosen answer before it is taken: may rewrite the path (completing it), and returns false to
// refuse it, which keeps the chooser open (the backend's `Refused` tells the user).
using AnswerCheck = std::function<bool(FileChooserAnswer* answer)>;

// Disables the top-level window of request.owner while the chooser is open, as a modal dialog does.
ChooserEnd RunFileChooser(const FileChooserRequest& request, const AnswerCheck& acceptable,
                          FileChooserAnswer* answer);

}  // namespace w32

#endif
