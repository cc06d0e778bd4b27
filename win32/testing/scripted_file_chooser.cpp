// The tests' scripted file chooser: answers GetOpenFileNameA from a queue of scripted answers.
// [x] answers after a count of dispatched messages, refusals answered from the script   [x] requests recorded
// [ ] a screen, real users: with no answer queued it cancels
#include "testing/scripted_file_chooser.h"

#include <deque>
#include <memory>
#include <mutex>

namespace w32 {
namespace {

struct ScriptedChooser {
    FileChooserSession* session = nullptr;
    bool hasPending = false;  // an answer waits for its message count
    ScriptedFileAnswer pending;
    int dispatched = 0;
};

struct ScriptedFileChooserState {
    std::mutex lock;
    std::deque<ScriptedFileAnswer> script;
    std::vector<FileChooserRequest> requests;
    std::vector<std::string> refusals;
    int openChoosers = 0;
};

ScriptedFileChooserState& State() {
    static ScriptedFileChooserState* state = new ScriptedFileChooserState;  // never destroyed
    return *state;
}

ScriptedFileAnswer NextAnswerLocked(ScriptedFileChooserState& state) {
    if (state.script.empty()) return ScriptedFileAnswer::Cancel();
    ScriptedFileAnswer answer = state.script.front();
    state.script.pop_front();
    return answer;
}

FileChooserAnswer ToAnswer(const ScriptedFileAnswer& scripted) {
    FileChooserAnswer answer;
    answer.filterIndex = scripted.filterIndex;
    switch (scripted.action) {
    case ScriptedFileAnswer::Action::Choose:
        answer.outcome = FileChooserOutcome::Chosen;
        answer.path = scripted.path;
        break;
    case ScriptedFileAnswer::Action::BreakDown:
        answer.outcome = FileChooserOutcome::Failed;
        break;
    default:
        answer.outcome = FileChooserOutcome::Cancelled;
        break;
    }
    return answer;
}

// Gives the pending answer once enough messages have gone by. Called without the state lock held.
void AnswerWhenDue(ScriptedChooser* chooser) {
    if (!chooser->hasPending || chooser->dispatched < chooser->pending.afterMessages) return;
    chooser->hasPending = false;
    AnswerFileChooser(chooser->session, ToAnswer(chooser->pending));
}

void* Open(FileChooserSession* session, const FileChooserRequest& request) {
    ScriptedFileChooserState& state = State();
    ScriptedFileAnswer answer;
    {
        std::lock_guard<std::mutex> guard(state.lock);
        state.requests.push_back(request);
        answer = NextAnswerLocked(state);
        if (answer.action == ScriptedFileAnswer::Action::NoChooser) return nullptr;
        state.openChoosers++;
    }
    auto chooser = std::make_unique<ScriptedChooser>();
    chooser->session = session;
    chooser->pending = answer;
    chooser->hasPending = true;
    AnswerWhenDue(chooser.get());
    return chooser.release();
}

void MessageDispatched(void* opened) {
    auto* chooser = static_cast<ScriptedChooser*>(opened);
    chooser->dispatched++;
    AnswerWhenDue(chooser);
}

void Refused(void* opened, const std::string& path) {
    auto* chooser = static_cast<ScriptedChooser*>(opened);
    ScriptedFileChooserState& state = State();
    {
        std::lock_guard<std::mutex> guard(state.lock);
        state.refusals.push_back(path);
        chooser->pending = NextAnswerLocked(state);
    }
    chooser->hasPending = true;
    chooser->dispatched = 0;
    AnswerWhenDue(chooser);
}

void Close(void* opened) {
    delete static_cast<ScriptedChooser*>(opened);
    ScriptedFileChooserState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    state.openChoosers--;
}

FileChooserBackend MakeScriptedBackend() {
    FileChooserBackend backend{};
    backend.name = "scripted";
    backend.Open = Open;
    backend.MessageDispatched = MessageDispatched;
    backend.Refused = Refused;
    backend.Close = Close;
    return backend;
}

}  // namespace

ScriptedFileAnswer ScriptedFileAnswer::Choose(const std::string& path, int afterMessages, size_t filterIndex) {
    ScriptedFileAnswer answer;
    answer.action = Action::Choose;
    answer.path = path;
    answer.afterMessages = afterMessages;
    answer.filterIndex = filterIndex;
    return answer;
}

ScriptedFileAnswer ScriptedFileAnswer::Cancel(int afterMessages) {
    ScriptedFileAnswer answer;
    answer.action = Action::Cancel;
    answer.afterMessages = afterMessages;
    return answer;
}

ScriptedFileAnswer ScriptedFileAnswer::BreakDown() {
    ScriptedFileAnswer answer;
    answer.action = Action::BreakDown;
    return answer;
}

ScriptedFileAnswer ScriptedFileAnswer::NoChooser() {
    ScriptedFileAnswer answer;
    answer.action = Action::NoChooser;
    return answer;
}

void UseScriptedFileChooser() {
    static FileChooserBackend backend = MakeScriptedBackend();
    InstallFileChooserBackend(backend);
}

void ScriptFileChooser(const std::vector<ScriptedFileAnswer>& answers) {
    ScriptedFileChooserState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    state.script.insert(state.script.end(), answers.begin(), answers.end());
}

std::vector<FileChooserRequest> ScriptedFileChooserRequests() {
    ScriptedFileChooserState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    return state.requests;
}

std::vector<std::string> ScriptedFileChooserRefusals() {
    ScriptedFileChooserState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    return state.refusals;
}

int OpenScriptedFileChoosers() {
    ScriptedFileChooserState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    return state.openChoosers;
}

void ResetScriptedFileChooser() {
    ScriptedFileChooserState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    state.script.clear();
    state.requests.clear();
    state.refusals.clear();
}

}  // namespace w32
