// GetOpenFileNameA and CommDlgExtendedError: the OPENFILENAMEA record read into a chooser request, the
// chosen file checked and written back. Leaves out multiple selection, hooks, templates, custom filters,
// OFN_NOCHANGEDIR (the chooser never changes the current directory) and the read-only box.
#include <windows.h>
#include <commdlg.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "base/ansi_codepage.h"
#include "commdlg/file_chooser_session.h"

namespace w32 {
namespace {

// Like Windows, the error of the last common dialog call is kept per thread.
thread_local DWORD lastDialogError = 0;

BOOL Fail(DWORD error) {
    lastDialogError = error;
    return FALSE;
}

std::string Trimmed(const std::string& text) {
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return std::string();
    size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

// Description/pattern pairs of NUL-terminated strings, ended by an empty string; a description without
// its pattern ends the list too. Patterns are separated by ';'.
std::vector<FileChooserFilter> ReadFilters(const char* text) {
    std::vector<FileChooserFilter> filters;
    while (text != nullptr && *text != '\0') {
        FileChooserFilter filter;
        filter.description = text;
        text += filter.description.size() + 1;
        if (*text == '\0') break;
        std::string patterns = text;
        text += patterns.size() + 1;
        size_t start = 0;
        for (;;) {
            size_t end = patterns.find(';', start);
            std::string pattern = Trimmed(patterns.substr(start, end == std::string::npos ? end : end - start));
            if (!pattern.empty()) filter.patterns.push_back(pattern);
            if (end == std::string::npos) break;
            start = end + 1;
        }
        filters.push_back(std::move(filter));
    }
    return filters;
}

FileChooserRequest ReadRequest(const OPENFILENAMEA& record) {
    FileChooserRequest request;
    request.owner = record.hwndOwner;
    if (record.lpstrTitle != nullptr) request.title = record.lpstrTitle;
    request.filters = ReadFilters(record.lpstrFilter);
    // Our choice: an index past the last filter selects the first one, as 0 does.
    if (record.nFilterIndex >= 1 && record.nFilterIndex <= request.filters.size())
        request.filterIndex = record.nFilterIndex - 1;
    if (record.lpstrInitialDir != nullptr) request.initialDirectory = record.lpstrInitialDir;
    request.initialName.assign(record.lpstrFile, strnlen(record.lpstrFile, record.nMaxFile));
    if (record.lpstrDefExt != nullptr) request.defaultExtension = record.lpstrDefExt;
    request.fileMustExist = (record.Flags & OFN_FILEMUSTEXIST) != 0;
    request.pathMustExist = request.fileMustExist || (record.Flags & OFN_PATHMUSTEXIST) != 0;
    return request;
}

bool IsFile(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

bool IsDirectory(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string CurrentDirectory() {
    std::string buffer(4096, '\0');
    if (getcwd(&buffer[0], buffer.size()) == nullptr) return "/";
    buffer.resize(std::strlen(buffer.c_str()));
    return buffer;
}

// Windows hands back a full path: a relative answer counts from the current directory. A name typed
// without an extension gets the default one, unless the file must exist and only the bare name does.
// A trailing '.' says "no extension". Windows' dialog refuses a missing file under OFN_FILEMUSTEXIST
// and a missing folder under OFN_PATHMUSTEXIST, and stays open.
bool CompleteChoice(const FileChooserRequest& request, FileChooserAnswer* answer) {
    std::string path = answer->path;
    if (path.empty()) return false;
    if (path[0] != '/') path = CurrentDirectory() + "/" + path;
    size_t nameStart = path.rfind('/') + 1;
    if (nameStart == path.size()) return false;  // a folder, not a file
    std::string name = path.substr(nameStart);
    if (!request.defaultExtension.empty() && name.find('.') == std::string::npos) {
        std::string withExtension = path + "." + request.defaultExtension;
        if (!request.fileMustExist || IsFile(withExtension) || !IsFile(path)) path = withExtension;
    }
    if (request.fileMustExist && !IsFile(path)) return false;
    if (request.pathMustExist && !IsDirectory(nameStart > 1 ? path.substr(0, nameStart - 1) : "/")) return false;
    answer->path = path;
    return true;
}

// The path goes whole into lpstrFile or not at all: when it does not fit, the first two bytes receive the
// size it needs (NUL included), as Windows documents. Our choice: a file title that does not fit
// lpstrFileTitle is cut to fit, without splitting a character, and the call still succeeds.
BOOL WriteChoice(OPENFILENAMEA* record, const FileChooserRequest& request, const FileChooserAnswer& answer) {
    const std::string& path = answer.path;
    size_t needed = path.size() + 1;
    if (needed > record->nMaxFile) {
        if (record->nMaxFile >= sizeof(WORD)) {
            WORD size = static_cast<WORD>(needed > 0xFFFF ? 0xFFFF : needed);
            std::memcpy(record->lpstrFile, &size, sizeof size);
        }
        return Fail(FNERR_BUFFERTOOSMALL);
    }
    std::memcpy(record->lpstrFile, path.c_str(), needed);
    size_t nameStart = path.rfind('/') + 1;
    size_t dot = path.rfind('.');
    record->nFileOffset = static_cast<WORD>(nameStart);
    if (dot == std::string::npos || dot < nameStart)
        record->nFileExtension = static_cast<WORD>(path.size());  // no extension: the terminating NUL
    else if (dot + 1 == path.size())
        record->nFileExtension = 0;  // the name ends in '.'
    else
        record->nFileExtension = static_cast<WORD>(dot + 1);
    if (record->lpstrFileTitle != nullptr && record->nMaxFileTitle > 0)
        CopyAnsiToBuffer(path.substr(nameStart), record->lpstrFileTitle, static_cast<int>(record->nMaxFileTitle));
    if (!request.filters.empty()) {
        size_t filter = answer.filterIndex < request.filters.size() ? answer.filterIndex : request.filterIndex;
        record->nFilterIndex = static_cast<DWORD>(filter + 1);
    }
    return TRUE;
}

}  // namespace
}  // namespace w32

using namespace w32;

// Our choices where Windows documents nothing: a null record, a null lpstrFile or an nMaxFile of 0 fail
// with CDERR_INITIALIZATION, an owner that is not a window with CDERR_DIALOGFAILURE. A WM_QUIT that comes
// while the chooser is open closes it like a cancel and is posted again.
extern "C" BOOL WINAPI GetOpenFileNameA(LPOPENFILENAMEA record) {
    lastDialogError = 0;
    if (record == nullptr) return Fail(CDERR_INITIALIZATION);
    if (record->lStructSize != OPENFILENAME_SIZE_VERSION_400A && record->lStructSize != sizeof(OPENFILENAMEA))
        return Fail(CDERR_STRUCTSIZE);
    if (record->lpstrFile == nullptr || record->nMaxFile == 0) return Fail(CDERR_INITIALIZATION);
    if (record->hwndOwner != nullptr && !IsWindow(record->hwndOwner)) return Fail(CDERR_DIALOGFAILURE);

    const FileChooserRequest request = ReadRequest(*record);
    FileChooserAnswer answer;
    auto acceptable = [&request](FileChooserAnswer* chosen) { return CompleteChoice(request, chosen); };
    switch (RunFileChooser(request, acceptable, &answer)) {
    case ChooserEnd::OpenFailed:
        return Fail(CDERR_DIALOGFAILURE);
    case ChooserEnd::Quit:
        return FALSE;
    case ChooserEnd::Answered:
        break;
    }
    switch (answer.outcome) {
    case FileChooserOutcome::Cancelled:
        return FALSE;
    case FileChooserOutcome::Failed:
        return Fail(CDERR_DIALOGFAILURE);
    case FileChooserOutcome::Chosen:
        break;
    }
    return WriteChoice(record, request, answer);
}

extern "C" DWORD WINAPI CommDlgExtendedError(void) { return lastDialogError; }
