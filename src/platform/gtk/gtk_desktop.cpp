// The GTK desktop: owns the services and the GtkApplication, runs the launch and the one quit pass.
#include "platform/gtk/gtk_desktop.h"

#include <glib-unix.h>
#include <gtk/gtk.h>

#include <csignal>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "platform/gtk/glib_main_queue.h"
#include "platform/gtk/gobject_ptr.h"
#include "platform/gtk/gtk_shell_application.h"
#include "platform/gtk/soup_http_client.h"
#include "platform/gtk/startup_environment.h"
#include "platform/linux/linux_places.h"
#include "platform/linux/linux_process_launcher.h"
#include "platform/posix/posix_environment.h"
#include "platform/posix/posix_file_system.h"

namespace lorvane {

namespace {

using gtk::GObjectPtr;

// Short enough that a service which ends at SIGTERM keeps the process no longer than it takes to end.
constexpr guint kGracePollMilliseconds = 10;
constexpr int kReleaseNameTimeoutMilliseconds = 1000;

// Owns every service of the platform and the GtkApplication for the life of the process. The
// delegate is launched on the first "activate" of the primary instance and stopped by quit(),
// which every way of ending the app (menu, Ctrl+Q, last window closed, SIGTERM, SIGINT, SIGHUP)
// reaches; the shutdown pass runs once whichever comes first.
class GtkDesktop final : public DesktopPlatform {
public:
    GtkDesktop(const GtkDesktopOptions& options, const ShellOnlyVariables& shellOnlyVariables)
        : http_(options.trustedCaFile),
          launcher_(shellOnlyVariables),
          environment_(shellOnlyVariables),
          app_(GObjectPtr<GtkApplication>::adopt(gtk::newTokenForwardingApplication(gtk::kApplicationId))),
          application_(app_.get(), webViewEnvironment(options), [this] { quit(); }),
          platform_{queue_, clock_, http_, launcher_, files_, places_, environment_, application_} {
        g_set_application_name("Lorvane");
        launcher_.recordServicesIn(&serviceRecord_);
        // The bundle's runtime starts the machine's node; without one the services cannot run.
        if (const auto resources = places_.resourceDirectory()) launcher_.handsOverToNode(*resources + "/runtime/node");
    }

    ~GtkDesktop() override {
        if (app_) g_signal_handlers_disconnect_by_data(app_.get(), this);
    }

    Platform& platform() override { return platform_; }

    int run(std::shared_ptr<ApplicationDelegate> delegate) override {
        delegate_ = std::move(delegate);
        application_.setDelegate(delegate_);
        g_signal_connect(app_.get(), "startup", G_CALLBACK(onStartup), this);
        g_signal_connect(app_.get(), "activate", G_CALLBACK(onActivate), this);
        // Signals become main-loop events, so the quit pass runs on the main thread like any other.
        std::vector<guint> signalSources;
        for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
            signalSources.push_back(g_unix_signal_add(signal, onQuitSignal, this));
        }
        // The app reads no command line: GApplication sees the program name only.
        char programName[] = "lorvane";
        char* arguments[] = {programName, nullptr};
        const int status = g_application_run(G_APPLICATION(app_.get()), 1, arguments);
        // Should the loop end any other way, the services are still stopped, once; with no loop
        // left to drive the grace, it is waited out here.
        if (primary_ && !terminated_) {
            runShutdownPass();
            ServiceGrace grace(launcher_, monotonicSeconds());
            while (!grace.poll(monotonicSeconds())) g_usleep(kGracePollMilliseconds * 1000);
            if (launcher_.servicesEnded()) serviceRecord_.remove();
        }
        for (const guint source : signalSources) g_source_remove(source);
        return status;
    }

private:
    // Called while constructing application_, after places_ (members are built in order).
    gtk::WebViewEnvironment webViewEnvironment(const GtkDesktopOptions& options) const {
        // Data beside the app's other data; the HTTP cache where the desktop expects caches.
        return gtk::WebViewEnvironment{places_.userDataFolder() + "/Lorvane/webkit",
                                       std::string(g_get_user_cache_dir()) + "/Lorvane/webkit",
                                       options.mockCaptureDevices};
    }

    // Primary instance only: a second launch never gets here.
    static void onStartup(GApplication* app, gpointer self) {
        auto* desktop = static_cast<GtkDesktop*>(self);
        desktop->primary_ = true;
        // What a shell killed outright left running would hold the ports the services need.
        desktop->serviceRecord_.sweep();
        // Closing the window must not end the process behind the delegate's back: the app lives
        // until quit() says so.
        g_application_hold(app);
    }

    // The first activation launches the app; a later one comes from a second launch and only
    // brings the window forward. One that comes while the app is quitting, with its window gone
    // and its services still stopping, is kept until the quit is over, and then starts the app
    // again (see relaunch()).
    static void onActivate(GApplication* app, gpointer self) {
        auto* desktop = static_cast<GtkDesktop*>(self);
        if (desktop->terminated_) {
            desktop->relaunchToken_ = gtk::receivedLaunchToken(GTK_APPLICATION(app));
            return;
        }
        if (desktop->launched_) {
            desktop->application_.presentWindows();
            return;
        }
        desktop->launched_ = true;
        if (desktop->delegate_) desktop->delegate_->applicationDidFinishLaunching();
    }

    static gboolean onQuitSignal(gpointer self) {
        static_cast<GtkDesktop*>(self)->quit();
        return G_SOURCE_CONTINUE;
    }

    // Every way of quitting ends here: the shutdown pass runs once, any alert still open is
    // answered as dismissed and closed, and the windows go at once. The process stays, out of
    // sight, until the services have ended with everything they started (or were killed after the
    // grace), polled from the main loop, which goes on turning; then the main loop is told to stop.
    // A second request meanwhile changes nothing.
    void quit() {
        if (grace_) return;
        if (!terminated_ && primary_) runShutdownPass();
        terminated_ = true;
        application_.dismissAlerts();
        for (GList* window = gtk_application_get_windows(app_.get()); window; window = window->next) {
            gtk_widget_set_visible(GTK_WIDGET(window->data), FALSE);
        }
        grace_.emplace(launcher_, monotonicSeconds());
        if (grace_->poll(monotonicSeconds())) return endAfterGrace();
        // The desktop outlives the main loop, so the source borrows it.
        g_timeout_add_full(G_PRIORITY_DEFAULT, kGracePollMilliseconds, onGracePoll, this, nullptr);
    }

    static gboolean onGracePoll(gpointer self) {
        auto* desktop = static_cast<GtkDesktop*>(self);
        if (!desktop->grace_->poll(monotonicSeconds())) return G_SOURCE_CONTINUE;
        desktop->endAfterGrace();
        return G_SOURCE_REMOVE;
    }

    // A record of services that could not all be ended is kept for the next start's sweep.
    void endAfterGrace() {
        if (launcher_.servicesEnded()) serviceRecord_.remove();
        if (relaunchToken_) relaunch(*relaunchToken_);
        g_application_quit(G_APPLICATION(app_.get()));
    }

    // Starts the app afresh for a launch that came while it was quitting: this executable, in the
    // environment this one was started with, holding the launch's token under both names a
    // toolkit reads, as a second launch hands it on. The app's name goes first, so that the new
    // process becomes the running app instead of handing its launch back to this one; its
    // services' ports were freed by the grace.
    void relaunch(const std::string& token) {
        if (GDBusConnection* bus = g_application_get_dbus_connection(G_APPLICATION(app_.get()))) {
            g_autoptr(GVariant) released = g_dbus_connection_call_sync(
                bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "ReleaseName",
                g_variant_new("(s)", gtk::kApplicationId), G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE,
                kReleaseNameTimeoutMilliseconds, nullptr, nullptr);
        }
        g_autofree gchar* link = g_file_read_link("/proc/self/exe", nullptr);
        if (!link) return;
        // An executable replaced while the app ran (an upgrade) is started as it now is.
        std::string executable = link;
        if (g_str_has_suffix(link, " (deleted)")) executable.resize(executable.size() - std::strlen(" (deleted)"));
        Environment environment = environment_.snapshot();
        for (const char* name : {"XDG_ACTIVATION_TOKEN", "DESKTOP_STARTUP_ID"}) {
            if (token.empty()) {
                environment.erase(name);
            } else {
                environment[name] = token;
            }
        }
        // A launch that cannot be made is lost as it was before; nothing is left to report it to.
        (void)launcher_.launch({executable, {}, "", environment, ChildOutput::inherit(), ChildLifetime::Independent});
    }

    static double monotonicSeconds() { return static_cast<double>(g_get_monotonic_time()) / G_USEC_PER_SEC; }

    void runShutdownPass() {
        terminated_ = true;
        if (delegate_) delegate_->applicationWillTerminate();
    }

    gtk::GLibMainQueue queue_;
    SystemClock clock_;
    gtk::SoupHttpClient http_;
    LinuxProcessLauncher launcher_;
    PosixFileSystem files_;
    LinuxPlaces places_;
    // Beside the service logs: per user, and kept across a shell that was killed.
    ServiceRecord serviceRecord_{places_.userLogFolder() + "/Lorvane/services"};
    PosixEnvironment environment_;
    GObjectPtr<GtkApplication> app_;
    gtk::GtkShellApplication application_;
    Platform platform_;
    std::shared_ptr<ApplicationDelegate> delegate_;
    bool primary_ = false;
    bool launched_ = false;
    bool terminated_ = false;
    std::optional<ServiceGrace> grace_;  // from the quit on
    std::optional<std::string> relaunchToken_;  // a launch that came while quitting, with its token
};

}  // namespace

std::unique_ptr<DesktopPlatform> createGtkDesktopPlatform(const GtkDesktopOptions& options) {
    // Both before GTK or WebKit read their environment, and before any thread can.
    gtk::latchUsableUserFolders();
    const ShellOnlyVariables shellOnlyVariables = gtk::chooseRenderersForThisMachine();
    return std::make_unique<GtkDesktop>(options, shellOnlyVariables);
}

// The shipped app: system trust store, real capture devices. The command line is not read.
std::unique_ptr<DesktopPlatform> createDesktopPlatform(int, char**) { return createGtkDesktopPlatform({}); }

}  // namespace lorvane
