/* First paint, seen on the display: started before the contender, it prints "ready", then waits
 * for the first screen update after which a mapped top-level window shows something other than
 * one flat colour down its centre column (below its top 40 pixels, where a menu bar or a title
 * bar may be). It prints that moment as CLOCK_MONOTONIC nanoseconds and exits.
 *
 * The shell's window first shows the loading page's background colour and no content; its first
 * frame with content is the loading page. Other programs' first frame with content is the page.
 * Updates are seen through the Damage extension; the column is also looked at every 5 ms, so a
 * missed update costs at most that. */
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xdamage.h>
#include <stdio.h>
#include <sys/select.h>
#include <time.h>

static long long monotonic_ns(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

/* Whether the centre column of this window, as it is on screen now, holds more than one colour. */
static int shows_content(Display *display, Window root, Window window) {
    XWindowAttributes a;
    if (!XGetWindowAttributes(display, window, &a)) return 0;
    if (a.map_state != IsViewable || a.override_redirect || a.width < 200 || a.height < 200) return 0;
    XImage *column = XGetImage(display, root, a.x + a.width / 2, a.y + 40, 1, a.height - 50, AllPlanes, ZPixmap);
    if (!column) return 0;
    const unsigned long first = XGetPixel(column, 0, 0);
    int differs = 0;
    for (int y = 1; y < column->height && !differs; y++) differs = XGetPixel(column, 0, y) != first;
    XDestroyImage(column);
    return differs;
}

static int any_window_shows_content(Display *display, Window root) {
    Window parent, *children = NULL;
    unsigned int count = 0;
    int found = 0;
    if (!XQueryTree(display, root, &root, &parent, &children, &count)) return 0;
    for (unsigned int i = 0; i < count && !found; i++) found = shows_content(display, root, children[i]);
    if (children) XFree(children);
    return found;
}

/* A window that goes away while it is looked at is not an error worth stopping for. */
static int ignore_errors(Display *display, XErrorEvent *error) {
    (void)display;
    (void)error;
    return 0;
}

int main(void) {
    Display *display = XOpenDisplay(NULL);
    if (!display) {
        fprintf(stderr, "first_frame: cannot open the display\n");
        return 1;
    }
    XSetErrorHandler(ignore_errors);
    const Window root = DefaultRootWindow(display);
    int damage_event, damage_error;
    if (!XDamageQueryExtension(display, &damage_event, &damage_error)) {
        fprintf(stderr, "first_frame: the display has no Damage extension\n");
        return 1;
    }
    const Damage damage = XDamageCreate(display, root, XDamageReportNonEmpty);
    XSync(display, False);
    printf("ready\n");
    fflush(stdout);
    const int fd = ConnectionNumber(display);
    for (;;) {
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == damage_event + XDamageNotify) XDamageSubtract(display, damage, None, None);
        }
        if (any_window_shows_content(display, root)) {
            printf("%lld\n", monotonic_ns());
            return 0;
        }
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(fd, &readable);
        struct timeval wait = {0, 5000};
        select(fd + 1, &readable, NULL, NULL, &wait);
    }
}
