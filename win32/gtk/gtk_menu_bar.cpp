// A window's menu as a GtkMenuBar, for the GTK display.
// [x] popups as submenus, '&' mnemonics as GTK's, items posting WM_COMMAND with their id
// [ ] the shortcut column after '\t', check marks   [ ] WM_INITMENU and WM_INITMENUPOPUP
// [ ] wrapping onto more rows in a window narrower than the bar (cut at the window's edge instead)
#include "gtk/gtk_state.h"
#include "resources/menu_object.h"
#include "user/input_delivery.h"

namespace w32 {
namespace {

const char kCommandKey[] = "pelomi-command";

void OnItemActivated(GtkMenuItem* item, gpointer window) {
    UINT id = GPOINTER_TO_UINT(g_object_get_data(G_OBJECT(item), kCommandKey));
    DeliverMenuCommand(static_cast<HWND>(window), id);
}

std::string LabelPart(const std::string& text) { return text.substr(0, text.find('\t')); }

void AddItems(GtkMenuShell* shell, const std::vector<MenuTreeItem>& items, HWND window) {
    for (const MenuTreeItem& item : items) {
        GtkWidget* widget;
        if (item.IsSeparator()) {
            widget = gtk_separator_menu_item_new();
        } else {
            widget = gtk_menu_item_new_with_mnemonic(MnemonicText(ValidUtf8(LabelPart(item.text).c_str())).c_str());
            if (item.flags & (MF_GRAYED | MF_DISABLED)) gtk_widget_set_sensitive(widget, FALSE);
            if (item.IsPopup()) {
                GtkWidget* submenu = gtk_menu_new();
                AddItems(GTK_MENU_SHELL(submenu), item.children, window);
                gtk_menu_item_set_submenu(GTK_MENU_ITEM(widget), submenu);
            } else {
                g_object_set_data(G_OBJECT(widget), kCommandKey, GUINT_TO_POINTER(item.id));
                g_signal_connect(widget, "activate", G_CALLBACK(OnItemActivated), window);
            }
        }
        gtk_menu_shell_append(shell, widget);
    }
}

}  // namespace

std::string MnemonicText(const std::string& windowsText) {
    std::string text;
    text.reserve(windowsText.size() + 4);
    for (size_t i = 0; i < windowsText.size(); ++i) {
        char c = windowsText[i];
        if (c == '_') {
            text += "__";
        } else if (c != '&') {
            text += c;
        } else if (i + 1 < windowsText.size()) {
            char next = windowsText[++i];
            if (next == '&')
                text += '&';
            else if (next == '_')
                text += "__";  // GTK cannot make an underscore its mnemonic: shown plain
            else
                (text += '_') += next;
        }
    }
    return text;
}

// Windows lets a window be made smaller than its menu bar. A GtkMenuBar asks for all its items in a row, and a
// window given less (by an X server without a window manager) failed GTK's checks and was pushed back to that
// width; so the bar sits in a holder with no minimum size, which clips it.
// Our choice: a window narrower (or lower) than its menu bar cuts the bar at its edge (Windows wraps it).
void ShowMenuBar(GtkWindowEntry& entry, HMENU menu) {
    if (entry.menuBar != nullptr) gtk_widget_destroy(gtk_widget_get_ancestor(entry.menuBar, GTK_TYPE_SCROLLED_WINDOW));
    entry.menuBar = nullptr;
    std::vector<MenuTreeItem> items;
    if (menu == nullptr || !CopyMenuTree(menu, &items)) return;
    entry.menuBar = gtk_menu_bar_new();
    AddItems(GTK_MENU_SHELL(entry.menuBar), items, entry.window);
    GtkWidget* holder = gtk_scrolled_window_new(nullptr, nullptr);
    GtkScrolledWindow* scrolled = GTK_SCROLLED_WINDOW(holder);
    gtk_scrolled_window_set_policy(scrolled, GTK_POLICY_EXTERNAL, GTK_POLICY_EXTERNAL);
    gtk_scrolled_window_set_propagate_natural_width(scrolled, TRUE);
    gtk_scrolled_window_set_propagate_natural_height(scrolled, TRUE);
    // A cut bar stays where it is under the wheel, as Windows' does.
    g_signal_connect(holder, "scroll-event", G_CALLBACK(gtk_true), nullptr);
    gtk_container_add(GTK_CONTAINER(holder), entry.menuBar);  // in a GtkViewport, which clips it
    gtk_viewport_set_shadow_type(GTK_VIEWPORT(gtk_bin_get_child(GTK_BIN(holder))), GTK_SHADOW_NONE);
    gtk_box_pack_start(GTK_BOX(entry.column), holder, FALSE, FALSE, 0);
    gtk_widget_show_all(holder);
}

}  // namespace w32
