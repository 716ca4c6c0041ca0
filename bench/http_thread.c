/* Why the shell's HTTP client runs libsoup on a thread of its own: the time a request to a local
 * server takes to reach the main thread's code, with libsoup on the main context or on a network
 * thread (and one hop back), while the main loop is idle or busy with 16 ms of work a turn, as it
 * is while the web view paints with the CPU. Prints figures; asserts nothing.
 *   gcc bench/http_thread.c -o /tmp/http_thread $(pkg-config --cflags --libs libsoup-3.0)
 *   node -e "require('http').createServer((q, s) => s.end('ok')).listen(3999, '127.0.0.1')" &
 *   for a in main thread "main busy" "thread busy"; do /tmp/http_thread $a; done */
#include <libsoup/soup.h>
#include <stdio.h>
static GMainLoop* loop; static gint64 sent; static double total; static int n, want = 20; static gboolean threaded;
static GMainContext* netctx; static SoupSession* netsession; static SoupSession* mainsession;
static gboolean busy(gpointer d) { gint64 t = g_get_monotonic_time(); while (g_get_monotonic_time() - t < 16000) {} return G_SOURCE_CONTINUE; }
static void next(void);
static gboolean delivered(gpointer d) { total += (g_get_monotonic_time() - sent) / 1000.0; if (++n == want) g_main_loop_quit(loop); else next(); return G_SOURCE_REMOVE; }
static void on_sent(GObject* s, GAsyncResult* r, gpointer d) {
  GError* e = NULL; GInputStream* in = soup_session_send_finish(SOUP_SESSION(s), r, &e); if (in) g_object_unref(in); if (e) g_error_free(e);
  if (threaded) g_idle_add_full(G_PRIORITY_DEFAULT, delivered, NULL, NULL); else delivered(NULL);
}
static gboolean start_on_net(gpointer d) { SoupMessage* m = soup_message_new("GET", "http://127.0.0.1:3999/"); soup_session_send_async(netsession, m, G_PRIORITY_DEFAULT, NULL, on_sent, NULL); g_object_unref(m); return G_SOURCE_REMOVE; }
static void next(void) {
  sent = g_get_monotonic_time();
  if (threaded) { GSource* s = g_idle_source_new(); g_source_set_callback(s, start_on_net, NULL, NULL); g_source_attach(s, netctx); g_source_unref(s); }
  else { SoupMessage* m = soup_message_new("GET", "http://127.0.0.1:3999/"); soup_session_send_async(mainsession, m, G_PRIORITY_DEFAULT, NULL, on_sent, NULL); g_object_unref(m); }
}
static gpointer net_thread(gpointer d) { g_main_context_push_thread_default(netctx); netsession = soup_session_new(); soup_session_set_proxy_resolver(netsession, NULL); GMainLoop* l = g_main_loop_new(netctx, FALSE); g_main_loop_run(l); return NULL; }
int main(int argc, char** argv) {
  threaded = argc > 1 && argv[1][0] == 't'; gboolean loaded = argc > 2;
  loop = g_main_loop_new(NULL, FALSE);
  if (threaded) { netctx = g_main_context_new(); g_thread_new("net", net_thread, NULL); g_usleep(100000); }
  else { mainsession = soup_session_new(); soup_session_set_proxy_resolver(mainsession, NULL); }
  if (loaded) g_timeout_add(0, busy, NULL);
  next(); g_main_loop_run(loop);
  printf("%s, main loop %s: %.1f ms per probe (mean of %d)\n", threaded ? "network thread" : "main context", loaded ? "busy (16 ms of work each turn)" : "idle", total / n, n);
  return 0;
}
