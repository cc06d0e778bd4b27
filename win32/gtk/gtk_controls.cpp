// Dialog controls as GTK widgets, for the GTK display.
// [x] push buttons as GtkButton (a click reaches the Button class as a press and release)   [x] text statics
// [ ] other button and static styles, icon statics included: those show their own surface
#include <strings.h>

#include "gtk/gtk_state.h"
#include "user/input_delivery.h"

namespace w32 {
namespace {

constexpr DWORD kButtonTypeMask = 0x0F;
constexpr DWORD kStaticTypeMask = 0x1F;
constexpr DWORD kStaticCenter = 0x01;
constexpr DWORD kStaticRight = 0x02;
constexpr DWORD kStaticSimple = 0x0B;
constexpr DWORD kStaticLeftNoWordWrap = 0x0C;
const char kControlClass[] = "pelomi-control";

bool IsClass(const char* className, const char* name) {
    return className != nullptr && strcasecmp(className, name) == 0;  // class names ignore case
}

void OnClicked(GtkButton*, gpointer window) {
    HWND button = static_cast<HWND>(window);
    GtkWindowEntry* entry = FindEntry(button);
    if (entry == nullptr) return;
    int x = (entry->clientRect.right - entry->clientRect.left) / 2;
    int y = (entry->clientRect.bottom - entry->clientRect.top) / 2;
    if (DeliverMouseButton(button, MouseButton::Left, true, x, y, 0))
        DeliverMouseButton(button, MouseButton::Left, false, x, y, 0);
}

GtkWidget* CreateButton(const DisplayWindowInfo& info) {
    GtkWidget* button = gtk_button_new_with_mnemonic(MnemonicText(ValidUtf8(info.text)).c_str());
    gtk_widget_set_focus_on_click(button, FALSE);
    if ((info.style & kButtonTypeMask) == BS_DEFPUSHBUTTON) gtk_widget_set_can_default(button, TRUE);
    g_signal_connect(button, "clicked", G_CALLBACK(OnClicked), info.window);
    return button;
}

void SetLabelText(GtkLabel* label, DWORD style, const char* text) {
    std::string valid = ValidUtf8(text);
    if (style & SS_NOPREFIX)
        gtk_label_set_text(label, valid.c_str());
    else
        gtk_label_set_text_with_mnemonic(label, MnemonicText(valid).c_str());
}

// Our choice: text that does not fit ends in an ellipsis; Windows wraps SS_LEFT text at word breaks, which
// GTK cannot do inside a fixed height.
GtkWidget* CreateLabel(const DisplayWindowInfo& info) {
    GtkWidget* label = gtk_label_new(nullptr);
    SetLabelText(GTK_LABEL(label), info.style, info.text);
    DWORD type = info.style & kStaticTypeMask;
    gtk_label_set_xalign(GTK_LABEL(label), type == kStaticCenter ? 0.5f : type == kStaticRight ? 1.0f : 0.0f);
    gtk_label_set_yalign(GTK_LABEL(label), 0.0f);
    gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_END);
    return label;
}

}  // namespace

GtkWidget* CreateControlWidget(const DisplayWindowInfo& info) {
    GtkWidget* widget = nullptr;
    if (IsClass(info.className, "Button")) {
        DWORD type = info.style & kButtonTypeMask;
        if (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON) widget = CreateButton(info);
    } else if (IsClass(info.className, "Static")) {
        DWORD type = info.style & kStaticTypeMask;
        if (type == SS_LEFT || type == kStaticCenter || type == kStaticRight || type == kStaticSimple ||
            type == kStaticLeftNoWordWrap)
            widget = CreateLabel(info);
    }
    if (widget != nullptr) gtk_style_context_add_class(gtk_widget_get_style_context(widget), kControlClass);
    return widget;
}

void SetControlText(GtkWindowEntry& entry, const char* text) {
    if (GTK_IS_BUTTON(entry.control))
        gtk_button_set_label(GTK_BUTTON(entry.control), MnemonicText(ValidUtf8(text)).c_str());
    else if (GTK_IS_LABEL(entry.control))
        SetLabelText(GTK_LABEL(entry.control), entry.style, text);
}

}  // namespace w32
