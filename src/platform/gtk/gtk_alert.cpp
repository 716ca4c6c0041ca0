// The alert dialog: message, informative text and buttons in the given order, modal to the window.
#include "platform/gtk/gtk_alert.h"

#include <algorithm>
#include <string>

#include "platform/gtk/gobject_ptr.h"

namespace lorvane::gtk {

namespace {

constexpr std::size_t kMaxButtons = 3;
constexpr AlertAnswer kButtonAnswers[kMaxButtons] = {AlertAnswer::FirstButton, AlertAnswer::SecondButton,
                                                     AlertAnswer::ThirdButton};
constexpr const char* kAnswerKey = "lorvane-answer";

GtkWidget* makeLabel(const std::string& text, bool heading) {
    GtkWidget* label = gtk_label_new(text.c_str());
    if (heading) {
        g_autoptr(PangoAttrList) attributes = pango_attr_list_new();
        pango_attr_list_insert(attributes, pango_attr_weight_new(PANGO_WEIGHT_BOLD));
        gtk_label_set_attributes(GTK_LABEL(label), attributes);
    }
    gtk_label_set_wrap(GTK_LABEL(label), TRUE);
    gtk_label_set_max_width_chars(GTK_LABEL(label), 60);
    gtk_label_set_selectable(GTK_LABEL(label), FALSE);
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    return label;
}

using AnswerCallback = std::function<void(AlertAnswer)>;

gboolean answerDismissed(gpointer data) {
    (*static_cast<AnswerCallback*>(data))(AlertAnswer::Dismissed);
    return G_SOURCE_REMOVE;
}

}  // namespace

struct GtkAlerts::Open {
    GtkAlerts* owner = nullptr;
    GObjectPtr<GtkWindow> dialog;
    std::vector<GObjectPtr<GtkWidget>> buttons;
    AnswerCallback onAnswer;

    // The handlers point at this record: cut them before it goes.
    void disconnect() {
        g_signal_handlers_disconnect_by_data(dialog.get(), this);
        for (const auto& button : buttons) g_signal_handlers_disconnect_by_data(button.get(), this);
    }
};

GtkAlerts::GtkAlerts() = default;

GtkAlerts::~GtkAlerts() {
    for (const auto& open : open_) {
        open->disconnect();
        gtk_window_destroy(open->dialog.get());
    }
}

void GtkAlerts::show(GtkWindow* parent, const Alert& alert, AnswerCallback onAnswer) {
    if (dismissed_) {
        g_idle_add_full(G_PRIORITY_DEFAULT, answerDismissed,
                        releaseToGLib(std::make_unique<AnswerCallback>(std::move(onAnswer))),
                        destroyOwned<AnswerCallback>);
        return;
    }
    auto open = std::make_unique<Open>();
    open->owner = this;
    open->onAnswer = std::move(onAnswer);
    open->dialog = GObjectPtr<GtkWindow>::retain(GTK_WINDOW(gtk_window_new()));
    GtkWindow* dialog = open->dialog.get();
    gtk_window_set_modal(dialog, TRUE);
    gtk_window_set_resizable(dialog, FALSE);
    gtk_window_set_title(dialog, "");
    if (parent) gtk_window_set_transient_for(dialog, parent);

    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
    gtk_widget_set_margin_top(box, 20);
    gtk_widget_set_margin_bottom(box, 16);
    gtk_widget_set_margin_start(box, 20);
    gtk_widget_set_margin_end(box, 20);
    gtk_box_append(GTK_BOX(box), makeLabel(alert.messageText, true));
    if (!alert.informativeText.empty()) gtk_box_append(GTK_BOX(box), makeLabel(alert.informativeText, false));

    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
    gtk_widget_set_halign(row, GTK_ALIGN_END);
    gtk_widget_set_margin_top(row, 8);
    // An alert without buttons still needs one way to answer, as the platform alert has "OK".
    const std::vector<std::string> titles = alert.buttons.empty() ? std::vector<std::string>{"OK"} : alert.buttons;
    for (std::size_t i = 0; i < std::min(titles.size(), kMaxButtons); ++i) {
        GtkWidget* button = gtk_button_new_with_label(titles[i].c_str());
        g_object_set_data(G_OBJECT(button), kAnswerKey, GINT_TO_POINTER(static_cast<int>(i)));
        g_signal_connect(button, "clicked", G_CALLBACK(onButtonClicked), open.get());
        gtk_box_append(GTK_BOX(row), button);
        open->buttons.push_back(GObjectPtr<GtkWidget>::retain(button));
    }
    gtk_box_append(GTK_BOX(box), row);
    gtk_window_set_child(dialog, box);
    // Return answers with the first button, the default one; Escape closes the dialog.
    GtkWidget* first = open->buttons.front().get();
    gtk_window_set_default_widget(dialog, first);
    gtk_widget_add_css_class(first, "suggested-action");
    GtkEventController* shortcuts = gtk_shortcut_controller_new();
    gtk_shortcut_controller_add_shortcut(GTK_SHORTCUT_CONTROLLER(shortcuts),
                                         gtk_shortcut_new(gtk_keyval_trigger_new(GDK_KEY_Escape, GdkModifierType(0)),
                                                          gtk_named_action_new("window.close")));
    gtk_widget_add_controller(GTK_WIDGET(dialog), shortcuts);
    g_signal_connect(dialog, "close-request", G_CALLBACK(onCloseRequest), open.get());

    open_.push_back(std::move(open));
    gtk_window_present(dialog);
    gtk_widget_grab_focus(first);
}

void GtkAlerts::dismissAll() {
    dismissed_ = true;
    while (!open_.empty()) answer(open_.front().get(), AlertAnswer::Dismissed);
}

void GtkAlerts::onButtonClicked(GtkButton* button, gpointer data) {
    auto* open = static_cast<Open*>(data);
    const auto index = static_cast<std::size_t>(GPOINTER_TO_INT(g_object_get_data(G_OBJECT(button), kAnswerKey)));
    open->owner->answer(open, kButtonAnswers[std::min(index, kMaxButtons - 1)]);
}

gboolean GtkAlerts::onCloseRequest(GtkWindow*, gpointer data) {
    auto* open = static_cast<Open*>(data);
    open->owner->answer(open, AlertAnswer::Dismissed);
    return TRUE;  // answer() has destroyed the dialog already
}

void GtkAlerts::answer(Open* open, AlertAnswer given) {
    const auto found = std::find_if(open_.begin(), open_.end(), [open](const auto& o) { return o.get() == open; });
    if (found == open_.end()) return;
    const std::unique_ptr<Open> record = std::move(*found);
    open_.erase(found);
    record->disconnect();
    gtk_window_destroy(record->dialog.get());
    // Last, with the record out of the list: the callback may show the next alert.
    record->onAnswer(given);
}

}  // namespace lorvane::gtk
