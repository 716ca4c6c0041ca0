// The alert dialog: message, informative text and buttons in the given order, run modally.
#include "platform/gtk/gtk_alert.h"

#include <string>

#include "platform/gtk/gobject_ptr.h"

namespace lorvane::gtk {

void ModalLoops::abortAll() {
    aborted_ = true;
    for (GMainLoop* loop : loops_) g_main_loop_quit(loop);
}

void ModalLoops::run(GMainLoop* loop) {
    loops_.push_back(loop);
    g_main_loop_run(loop);
    std::erase(loops_, loop);
}

namespace {

struct AlertRun {
    GMainLoop* loop = nullptr;
    int response = kAlertAborted;  // what remains if the loop is ended from outside
};

void onButtonClicked(GtkButton* button, gpointer data) {
    auto* run = static_cast<AlertRun*>(data);
    run->response = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(button), "lorvane-response"));
    g_main_loop_quit(run->loop);
}

gboolean onCloseRequest(GtkWindow*, gpointer data) {
    auto* run = static_cast<AlertRun*>(data);
    run->response = kAlertDismissed;
    g_main_loop_quit(run->loop);
    return TRUE;  // the dialog is destroyed by runAlert once the loop has ended
}

GtkWidget* makeLabel(const std::string& text, bool heading) {
    GtkWidget* label = gtk_label_new(text.c_str());
    if (heading) {
        PangoAttrList* attributes = pango_attr_list_new();
        pango_attr_list_insert(attributes, pango_attr_weight_new(PANGO_WEIGHT_BOLD));
        gtk_label_set_attributes(GTK_LABEL(label), attributes);
        pango_attr_list_unref(attributes);
    }
    gtk_label_set_wrap(GTK_LABEL(label), TRUE);
    gtk_label_set_max_width_chars(GTK_LABEL(label), 60);
    gtk_label_set_selectable(GTK_LABEL(label), FALSE);
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    return label;
}

}  // namespace

int runAlert(GtkWindow* parent, const Alert& alert, ModalLoops& loops) {
    if (loops.aborted()) return kAlertAborted;

    auto dialog = GObjectPtr<GtkWindow>::retain(GTK_WINDOW(gtk_window_new()));
    gtk_window_set_modal(dialog.get(), TRUE);
    gtk_window_set_resizable(dialog.get(), FALSE);
    gtk_window_set_title(dialog.get(), "");
    if (parent) gtk_window_set_transient_for(dialog.get(), parent);

    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
    gtk_widget_set_margin_top(box, 20);
    gtk_widget_set_margin_bottom(box, 16);
    gtk_widget_set_margin_start(box, 20);
    gtk_widget_set_margin_end(box, 20);
    gtk_box_append(GTK_BOX(box), makeLabel(alert.messageText, true));
    if (!alert.informativeText.empty()) gtk_box_append(GTK_BOX(box), makeLabel(alert.informativeText, false));

    AlertRun run;
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    run.loop = loop;

    GtkWidget* buttons = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
    gtk_widget_set_halign(buttons, GTK_ALIGN_END);
    gtk_widget_set_margin_top(buttons, 8);
    // An alert without buttons still needs one way to answer, as the platform alert has "OK".
    const std::vector<std::string> titles = alert.buttons.empty() ? std::vector<std::string>{"OK"} : alert.buttons;
    GtkWidget* first = nullptr;
    for (std::size_t i = 0; i < titles.size(); ++i) {
        GtkWidget* button = gtk_button_new_with_label(titles[i].c_str());
        g_object_set_data(G_OBJECT(button), "lorvane-response",
                          GINT_TO_POINTER(kAlertFirstButtonReturn + static_cast<int>(i)));
        g_signal_connect(button, "clicked", G_CALLBACK(onButtonClicked), &run);
        gtk_box_append(GTK_BOX(buttons), button);
        if (!first) first = button;
    }
    gtk_box_append(GTK_BOX(box), buttons);
    gtk_window_set_child(dialog.get(), box);
    // Return answers with the first button, the default one; Escape closes the dialog.
    gtk_window_set_default_widget(dialog.get(), first);
    gtk_widget_add_css_class(first, "suggested-action");
    GtkEventController* shortcuts = gtk_shortcut_controller_new();
    gtk_shortcut_controller_add_shortcut(GTK_SHORTCUT_CONTROLLER(shortcuts),
                                         gtk_shortcut_new(gtk_keyval_trigger_new(GDK_KEY_Escape, GdkModifierType(0)),
                                                          gtk_named_action_new("window.close")));
    gtk_widget_add_controller(GTK_WIDGET(dialog.get()), shortcuts);
    g_signal_connect(dialog.get(), "close-request", G_CALLBACK(onCloseRequest), &run);

    gtk_window_present(dialog.get());
    gtk_widget_grab_focus(first);
    loops.run(loop);

    // The handlers point at `run`, which ends here: cut them before anything else can fire.
    g_signal_handlers_disconnect_by_data(dialog.get(), &run);
    for (GtkWidget* child = gtk_widget_get_first_child(buttons); child; child = gtk_widget_get_next_sibling(child)) {
        g_signal_handlers_disconnect_by_data(child, &run);
    }
    gtk_window_destroy(dialog.get());
    g_main_loop_unref(loop);
    return run.response;
}

}  // namespace lorvane::gtk
