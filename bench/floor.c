/* The floor: the least a GTK 4 + WebKitGTK 6.0 app can do to show a URL in a 1440 x 900 window.
 * With --on-usr1 it shows a placeholder page first and goes to the URL when sent SIGUSR1: the
 * floor of the step from "the server answers" to "the web view asks for the page". */
#include <gtk/gtk.h>
#include <webkit/webkit.h>
#include <glib-unix.h>
#include <string.h>

#include "floor_view.h"

static GMainLoop *loop;
static WebKitWebView *web_view;
static const char *url;

/* SIGTERM ends the loop so the window and web view are torn down the way an app would. */
static gboolean on_term(gpointer data) {
    (void)data;
    g_main_loop_quit(loop);
    return G_SOURCE_REMOVE;
}

static gboolean on_usr1(gpointer data) {
    (void)data;
    webkit_web_view_load_uri(web_view, url);
    return G_SOURCE_REMOVE;
}

static gboolean on_close(GtkWindow *window, gpointer data) {
    (void)window;
    (void)data;
    g_main_loop_quit(loop);
    return FALSE;
}

int main(int argc, char **argv) {
    const gboolean on_signal = argc == 3 && strcmp(argv[1], "--on-usr1") == 0;
    if (argc != 2 && !on_signal) {
        g_printerr("usage: %s [--on-usr1] URL\n", argv[0]);
        return 2;
    }
    url = argv[argc - 1];
    gtk_init();
    loop = g_main_loop_new(NULL, FALSE);
    g_unix_signal_add(SIGTERM, on_term, NULL);
    g_unix_signal_add(SIGINT, on_term, NULL);

    GtkWidget *view = floor_web_view();

    GtkWidget *window = gtk_window_new();
    gtk_window_set_title(GTK_WINDOW(window), "floor");
    gtk_window_set_default_size(GTK_WINDOW(window), 1440, 900);
    gtk_window_set_child(GTK_WINDOW(window), view);
    g_signal_connect(window, "close-request", G_CALLBACK(on_close), NULL);

    web_view = WEBKIT_WEB_VIEW(view);
    if (on_signal) {
        g_unix_signal_add(SIGUSR1, on_usr1, NULL);
        webkit_web_view_load_html(web_view, "<body style=\"background:#07111f\"></body>", NULL);
    } else {
        webkit_web_view_load_uri(web_view, url);
    }
    gtk_window_present(GTK_WINDOW(window));

    g_main_loop_run(loop);
    gtk_window_destroy(GTK_WINDOW(window));
    g_main_loop_unref(loop);
    return 0;
}
