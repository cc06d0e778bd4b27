// The tests' scripted file chooser: tests queue the answers the "user" gives and read back every request
// and refusal. Leaves out showing anything; with no answer queued it cancels.
#ifndef PELOMI_WIN32_TESTING_SCRIPTED_FILE_CHOOSER_H
#define PELOMI_WIN32_TESTING_SCRIPTED_FILE_CHOOSER_H

#include <string>
#include <vector>

#include "commdlg/file_chooser.h"

namespace w32 {

// GetOpenFileNameA answers from the script from now on.
void UseScriptedFileChooser();

// One thing the scripted user does with a chooser.
struct ScriptedFileAnswer {
    enum class Action {
        Choose,     // picks `path`
        Cancel,     // closes the chooser
        BreakDown,  // the chooser fails after opening (FileChooserOutcome::Failed)
        NoChooser,  // no chooser can be opened at all (`Open` returns null)
    };
    Action action = Action::Cancel;
    std::string path;
    size_t filterIndex = 0;
    // How many messages the modal loop dispatches before the answer comes; 0 answers from `Open`.
    int afterMessages = 0;

    static ScriptedFileAnswer Choose(const std::string& path, int afterMessages = 0, size_t filterIndex = 0);
    static ScriptedFileAnswer Cancel(int afterMessages = 0);
    static ScriptedFileAnswer BreakDown();
    static ScriptedFileAnswer NoChooser();
};

// Answers are taken in order: one when a chooser opens, and the next each time GetOpenFileNameA refuses
// the answer given (a missing file under OFN_FILEMUSTEXIST), as a user tries again.
void ScriptFileChooser(const std::vector<ScriptedFileAnswer>& answers);

// What the scripted chooser has seen since the last reset.
std::vector<FileChooserRequest> ScriptedFileChooserRequests();
std::vector<std::string> ScriptedFileChooserRefusals();
int OpenScriptedFileChoosers();  // choosers opened and not closed yet

// Forgets the script and everything recorded.
void ResetScriptedFileChooser();

}  // namespace w32

#endif
