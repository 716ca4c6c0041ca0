/* The web view both floor programs show: WebKit's defaults, with its data and cache in the fresh
 * folders the harness gives each run (XDG_DATA_HOME / XDG_CACHE_HOME). */
#pragma once
#include <gtk/gtk.h>
#include <webkit/webkit.h>

static GtkWidget *floor_web_view(void) {
    char *data = g_build_filename(g_get_user_data_dir(), "floor", NULL);
    char *cache = g_build_filename(g_get_user_cache_dir(), "floor", NULL);
    WebKitNetworkSession *session = webkit_network_session_new(data, cache);
    GtkWidget *view = GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "network-session", session, NULL));
    g_object_unref(session);
    g_free(data);
    g_free(cache);
    return view;
}
