/* The floor as a desktop app: the same window and web view, opened by a GtkApplication (one
 * instance per session, registered on the session bus) with a menu bar of five menus. What this
 * adds to floor.c is what any single-instance GTK 4 app with a menu bar pays at start-up. */
#include <gtk/gtk.h>
#include <webkit/webkit.h>
#include <glib-unix.h>

#include "floor_view.h"

static const char *url;

static gboolean on_term(gpointer app) {
    g_application_quit(G_APPLICATION(app));
    return G_SOURCE_REMOVE;
}

static GMenuModel *menu_bar(void) {
    static const char *const titles[] = {"App", "Edit", "View", "Window", "Help"};
    GMenu *bar = g_menu_new();
    for (unsigned i = 0; i < G_N_ELEMENTS(titles); i++) {
        GMenu *menu = g_menu_new();
        g_menu_append(menu, "First", "app.first");
        g_menu_append(menu, "Second", "app.second");
        g_menu_append_submenu(bar, titles[i], G_MENU_MODEL(menu));
        g_object_unref(menu);
    }
    return G_MENU_MODEL(bar);
}

static void on_activate(GtkApplication *app, gpointer data) {
    (void)data;
    GtkWidget *view = floor_web_view();

    GtkWidget *window = gtk_application_window_new(app);
    gtk_window_set_title(GTK_WINDOW(window), "floor-app");
    gtk_window_set_default_size(GTK_WINDOW(window), 1440, 900);
    gtk_application_window_set_show_menubar(GTK_APPLICATION_WINDOW(window), TRUE);
    gtk_window_set_child(GTK_WINDOW(window), view);
    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), url);
    gtk_window_present(GTK_WINDOW(window));
}

static void on_startup(GtkApplication *app, gpointer data) {
    (void)data;
    GMenuModel *bar = menu_bar();
    gtk_application_set_menubar(app, bar);
    g_object_unref(bar);
}

int main(int argc, char **argv) {
    if (argc != 2) {
        g_printerr("usage: %s URL\n", argv[0]);
        return 2;
    }
    url = argv[1];
    GtkApplication *app = gtk_application_new("org.example.FloorApp", G_APPLICATION_DEFAULT_FLAGS);
    g_signal_connect(app, "startup", G_CALLBACK(on_startup), NULL);
    g_signal_connect(app, "activate", G_CALLBACK(on_activate), NULL);
    g_unix_signal_add(SIGTERM, on_term, app);
    g_unix_signal_add(SIGINT, on_term, app);
    char *args[] = {argv[0], NULL};
    const int status = g_application_run(G_APPLICATION(app), 1, args);
    g_object_unref(app);
    return status;
}
