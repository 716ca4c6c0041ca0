// The GTK alerts on a real display: the answers the desktop tests cannot see, and quitting.
// (Return on the first button and Escape are the update tests' under tests/e2e.)
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/gtk/gtk_alert.h"

namespace lorvane::gtk {
namespace {

class GtkAlertTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(gtk_init_check()) << "no display"; }

    // The dialogs now on screen (the test opens no other windows).
    static std::vector<GtkWindow*> dialogs() {
        std::vector<GtkWindow*> found;
        GListModel* toplevels = gtk_window_get_toplevels();
        for (guint i = 0; i < g_list_model_get_n_items(toplevels); ++i) {
            g_autoptr(GObject) item = G_OBJECT(g_list_model_get_item(toplevels, i));
            found.push_back(GTK_WINDOW(item));
        }
        return found;
    }

    // The dialog's buttons, left to right.
    static std::vector<GtkWidget*> buttonsOf(GtkWidget* widget) {
        std::vector<GtkWidget*> buttons;
        if (GTK_IS_BUTTON(widget)) buttons.push_back(widget);
        for (GtkWidget* child = gtk_widget_get_first_child(widget); child; child = gtk_widget_get_next_sibling(child)) {
            for (GtkWidget* button : buttonsOf(child)) buttons.push_back(button);
        }
        return buttons;
    }

    static void runPending() {
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
    }

    void show(Alert alert) {
        alerts.show(nullptr, alert, [this](AlertAnswer answer) { answers.push_back(answer); });
    }

    GtkAlerts alerts;
    std::vector<AlertAnswer> answers;
};

TEST_F(GtkAlertTest, ButtonsAnswerByTheirPlaceOnce) {
    struct Case {
        const char* name;
        std::vector<std::string> buttons;
        std::optional<std::size_t> click;  // absent: the dialog is closed instead
        std::size_t shownButtons;
        AlertAnswer expected;
    };
    const Case cases[] = {
        {"second button", {"Открыть загрузки", "Позже"}, 1, 2, AlertAnswer::SecondButton},
        {"third button", {"a", "b", "c"}, 2, 3, AlertAnswer::ThirdButton},
        {"no buttons: one OK", {}, 0, 1, AlertAnswer::FirstButton},
        {"a fourth button is not shown", {"a", "b", "c", "d"}, std::nullopt, 3, AlertAnswer::Dismissed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        answers.clear();
        show(Alert{"Сообщение", "Пояснение", c.buttons});
        ASSERT_EQ(dialogs().size(), 1u);
        GtkWindow* dialog = dialogs().front();
        EXPECT_TRUE(gtk_window_get_modal(dialog));
        const auto buttons = buttonsOf(GTK_WIDGET(dialog));
        ASSERT_EQ(buttons.size(), c.shownButtons);
        if (c.buttons.empty()) {
            EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(buttons[0])), "OK");
        }
        EXPECT_TRUE(answers.empty()) << "answered before anyone did anything";

        if (c.click) {
            g_signal_emit_by_name(buttons[*c.click], "clicked");
        } else {
            gtk_window_close(dialog);
        }
        runPending();
        EXPECT_EQ(answers, std::vector<AlertAnswer>{c.expected});
        EXPECT_TRUE(dialogs().empty()) << "the dialog is gone once answered";
    }
}

TEST_F(GtkAlertTest, QuittingAnswersEveryOpenAlertDismissedAndShowsNoMore) {
    show(Alert{"first", "", {"Открыть загрузки", "Позже"}});
    show(Alert{"second", "", {"OK"}});
    ASSERT_EQ(dialogs().size(), 2u);

    alerts.dismissAll();
    EXPECT_EQ(answers, (std::vector<AlertAnswer>{AlertAnswer::Dismissed, AlertAnswer::Dismissed}));
    EXPECT_TRUE(dialogs().empty());

    show(Alert{"after quitting", "", {"Открыть загрузки"}});
    EXPECT_TRUE(dialogs().empty());
    EXPECT_EQ(answers.size(), 2u) << "the late alert is answered after show() returns, not inside it";
    runPending();
    EXPECT_EQ(answers.size(), 3u);
    EXPECT_EQ(answers.back(), AlertAnswer::Dismissed);
}

TEST_F(GtkAlertTest, AnAnswerMayOpenTheNextAlert) {
    alerts.show(nullptr, Alert{"first", "", {"OK"}}, [this](AlertAnswer answer) {
        answers.push_back(answer);
        show(Alert{"next", "", {"OK"}});
    });
    g_signal_emit_by_name(buttonsOf(GTK_WIDGET(dialogs().front())).front(), "clicked");
    ASSERT_EQ(dialogs().size(), 1u);
    gtk_window_close(dialogs().front());
    EXPECT_EQ(answers, (std::vector<AlertAnswer>{AlertAnswer::FirstButton, AlertAnswer::Dismissed}));
}

}  // namespace
}  // namespace lorvane::gtk
