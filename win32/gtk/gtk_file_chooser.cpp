// GetOpenFileNameA's chooser on GTK: GtkFileChooserDialog with the program's title, filters and file.
// [x] title, filters (case-blind), initial folder and file, "file not found" and another try
// [ ] the read-only box, the default extension (GetOpenFileNameA completes answers), multiple selection
#include "commdlg/file_chooser.h"
#include "gtk/gtk_desktop.h"
#include "gtk/gtk_state.h"

namespace w32 {
namespace {

// Our choice when the program gives no title: the title of Windows' English open dialog.
const char kDefaultTitle[] = "Open";
// Our choice: about the size of Windows' open dialog.
constexpr int kDefaultWidth = 640;
constexpr int kDefaultHeight = 480;

struct GtkChooser {
    FileChooserSession* session = nullptr;
    GtkWidget* dialog = nullptr;
    GtkWidget* notice = nullptr;          // "file not found", while shown
    std::vector<GtkFileFilter*> filters;  // owned by the dialog
};

// A Windows pattern as a GTK glob that ignores case: letters become [xX], '[' is taken literally, and
// "*.*" (every file on Windows, with or without a dot) becomes "*".
std::string CaseInsensitiveGlob(const std::string& pattern) {
    if (pattern == "*.*") return "*";
    std::string glob;
    for (char c : pattern) {
        if (g_ascii_isalpha(c)) {
            glob += '[';
            glob += g_ascii_tolower(c);
            glob += g_ascii_toupper(c);
            glob += ']';
        } else if (c == '[') {
            glob += "[[]";
        } else {
            glob += c;
        }
    }
    return glob;
}

size_t FilterIndexOf(const GtkChooser& chooser) {
    GtkFileFilter* current = gtk_file_chooser_get_filter(GTK_FILE_CHOOSER(chooser.dialog));
    for (size_t i = 0; i < chooser.filters.size(); ++i) {
        if (chooser.filters[i] == current) return i;
    }
    return 0;
}

void OnResponse(GtkDialog*, gint response, gpointer data) {
    auto* chooser = static_cast<GtkChooser*>(data);
    FileChooserAnswer answer;
    answer.filterIndex = FilterIndexOf(*chooser);
    gchar* path =
        response == GTK_RESPONSE_ACCEPT ? gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(chooser->dialog)) : nullptr;
    if (path != nullptr) {
        answer.outcome = FileChooserOutcome::Chosen;
        answer.path = path;
        g_free(path);
    } else {
        answer.outcome = FileChooserOutcome::Cancelled;  // Cancel, the close box, or a file that is not local
    }
    AnswerFileChooser(chooser->session, answer);
}

std::string CurrentDirectory() {
    gchar* directory = g_get_current_dir();
    std::string result(directory);
    g_free(directory);
    return result;
}

// Windows' dialog opens in the folder of the initial name, else the initial directory, else (for a
// process that has not used the dialog yet) the current directory; the initial name fills the name box,
// which GTK's open mode shows by selecting the file when it exists.
void PlaceAtInitialFile(GtkFileChooser* dialog, const FileChooserRequest& request) {
    std::string folder = request.initialDirectory.empty() ? CurrentDirectory() : request.initialDirectory;
    std::string name = request.initialName;
    if (!name.empty() && name[0] != '/') name = folder + "/" + name;
    gtk_file_chooser_set_current_folder(dialog, folder.c_str());
    if (request.initialName.empty()) return;
    if (g_file_test(name.c_str(), G_FILE_TEST_IS_REGULAR)) {
        gtk_file_chooser_set_filename(dialog, name.c_str());
    } else {
        gchar* parent = g_path_get_dirname(name.c_str());
        if (g_file_test(parent, G_FILE_TEST_IS_DIR)) gtk_file_chooser_set_current_folder(dialog, parent);
        g_free(parent);
    }
}

// GTK sizes the chooser from its font when it is shown, which can be larger than a small screen.
void OnMapped(GtkWidget* dialog, gpointer) { gtk_window_resize(GTK_WINDOW(dialog), kDefaultWidth, kDefaultHeight); }

void* Open(FileChooserSession* session, const FileChooserRequest& request) {
    GtkWindowEntry* owner = TopLevelEntry(request.owner);
    GtkWindow* parent = owner != nullptr ? GTK_WINDOW(owner->toplevel) : nullptr;
    std::string title = request.title.empty() ? kDefaultTitle : ValidUtf8(request.title.c_str());
    GtkWidget* dialog = gtk_file_chooser_dialog_new(title.c_str(), parent, GTK_FILE_CHOOSER_ACTION_OPEN, "_Cancel",
                                                    GTK_RESPONSE_CANCEL, "_Open", GTK_RESPONSE_ACCEPT, nullptr);
    if (dialog == nullptr) return nullptr;
    auto* chooser = new GtkChooser;
    chooser->session = session;
    chooser->dialog = dialog;
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
    gtk_file_chooser_set_local_only(GTK_FILE_CHOOSER(dialog), TRUE);

    for (const FileChooserFilter& filter : request.filters) {
        GtkFileFilter* gtkFilter = gtk_file_filter_new();
        gtk_file_filter_set_name(gtkFilter, ValidUtf8(filter.description.c_str()).c_str());
        for (const std::string& pattern : filter.patterns)
            gtk_file_filter_add_pattern(gtkFilter, CaseInsensitiveGlob(pattern).c_str());
        gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(dialog), gtkFilter);
        chooser->filters.push_back(gtkFilter);
    }
    if (request.filterIndex < chooser->filters.size())
        gtk_file_chooser_set_filter(GTK_FILE_CHOOSER(dialog), chooser->filters[request.filterIndex]);
    PlaceAtInitialFile(GTK_FILE_CHOOSER(dialog), request);

    g_signal_connect(dialog, "response", G_CALLBACK(OnResponse), chooser);
    g_signal_connect_after(dialog, "map", G_CALLBACK(OnMapped), nullptr);
    PresentWindow(GTK_WINDOW(dialog));
    return chooser;
}

void OnNoticeAnswered(GtkDialog* notice, gint, gpointer data) {
    static_cast<GtkChooser*>(data)->notice = nullptr;
    gtk_widget_destroy(GTK_WIDGET(notice));
}

// Windows' dialog says so and stays open for another try.
void Refused(void* data, const std::string& path) {
    auto* chooser = static_cast<GtkChooser*>(data);
    if (chooser->notice != nullptr) gtk_widget_destroy(chooser->notice);
    chooser->notice = gtk_message_dialog_new(GTK_WINDOW(chooser->dialog), GTK_DIALOG_MODAL, GTK_MESSAGE_WARNING,
                                             GTK_BUTTONS_OK, "%s", ValidUtf8(path.c_str()).c_str());
    gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(chooser->notice),
                                             "File not found.\nCheck the file name and try again.");
    g_signal_connect(chooser->notice, "response", G_CALLBACK(OnNoticeAnswered), chooser);
    PresentWindow(GTK_WINDOW(chooser->notice));
}

void Close(void* data) {
    auto* chooser = static_cast<GtkChooser*>(data);
    if (chooser->notice != nullptr) gtk_widget_destroy(chooser->notice);
    gtk_widget_destroy(chooser->dialog);
    delete chooser;
}

}  // namespace

void UseGtkFileChooser() {
    static FileChooserBackend gtkChooser = [] {
        FileChooserBackend filled{};
        filled.name = "gtk";
        filled.Open = Open;
        filled.Refused = Refused;
        filled.Close = Close;
        return filled;
    }();
    InstallFileChooserBackend(gtkChooser);
}

}  // namespace w32
