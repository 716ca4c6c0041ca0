/* Preloaded into a contender with --steps: notes, on CLOCK_MONOTONIC, when its own process starts
 * and reaches the steps that lead to the page request, one line each in $BENCH_STEPS_LOG. Only the
 * process started first writes (its helpers inherit the preload but not the file). */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>
#include <gtk/gtk.h>
#include <webkit/webkit.h>
#include <libsoup/soup.h>

static FILE *out;

static void note(const char *step) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (out) fprintf(out, "%.3f %s\n", now.tv_sec * 1e3 + now.tv_nsec / 1e6, step);
}

__attribute__((constructor)) static void start(void) {
    const char *file = getenv("BENCH_STEPS_LOG");
    if (!file) return;
    out = fopen(file, "a");
    if (out) setvbuf(out, NULL, _IOLBF, 0);
    unsetenv("BENCH_STEPS_LOG");
    note("main");
}

#define REAL(name) static __typeof__(name) *real; if (!real) real = dlsym(RTLD_NEXT, #name)

/* WebKit starts its web process (through bwrap, when sandboxed) at the view's first load. */
gboolean g_spawn_async_with_pipes_and_fds(const gchar *wd, const gchar *const *argv, const gchar *const *envp, GSpawnFlags flags,
                                          GSpawnChildSetupFunc setup, gpointer data, gint in, gint so, gint se, const gint *from,
                                          const gint *to, gsize n, GPid *pid, gint *i, gint *o, gint *e, GError **error) {
    REAL(g_spawn_async_with_pipes_and_fds);
    for (const gchar *const *a = argv; *a; a++) {
        if (strstr(*a, "WebKitWebProcess")) { note("web process started"); break; }
    }
    return real(wd, argv, envp, flags, setup, data, in, so, se, from, to, n, pid, i, o, e, error);
}

void gtk_window_present(GtkWindow *window) { REAL(gtk_window_present); real(window); note("window presented"); }
void webkit_web_view_load_request(WebKitWebView *v, WebKitURIRequest *r) { note("page asked for"); REAL(webkit_web_view_load_request); real(v, r); }
void webkit_web_view_load_uri(WebKitWebView *v, const gchar *u) { note("page asked for"); REAL(webkit_web_view_load_uri); real(v, u); }
/* The shell's readiness probe gets its answer (on the client's network thread). */
GInputStream *soup_session_send_finish(SoupSession *s, GAsyncResult *r, GError **e) {
    REAL(soup_session_send_finish);
    GInputStream *stream = real(s, r, e);
    note("probe answered");
    return stream;
}
