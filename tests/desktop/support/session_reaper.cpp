// Runs one command as a child subreaper, as a desktop session manager does for the apps it starts.
//
// The shell never waits for its services at quit, so a service that outlives it is adopted by the
// nearest subreaper, or by PID 1. A session's manager reaps such orphans; some container inits do
// not, and their zombies would be charged to the app. Under this wrapper an orphan of the test run
// is adopted and reaped here, so a zombie that remains is one the app itself failed to reap.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <initializer_list>

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

volatile sig_atomic_t commandPid = 0;

// ctest and a user at the terminal stop the test through us; the command must hear it too.
void forward(int signalNumber) {
    if (commandPid > 0) ::kill(commandPid, signalNumber);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s command [argument...]\n", argv[0]);
        return 2;
    }
    if (::prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) std::perror("session_reaper: PR_SET_CHILD_SUBREAPER");

    const pid_t pid = ::fork();
    if (pid < 0) {
        std::perror("session_reaper: fork");
        return 2;
    }
    if (pid == 0) {
        ::execvp(argv[1], argv + 1);
        std::perror("session_reaper: exec");
        ::_exit(127);
    }
    commandPid = pid;
    struct sigaction action {};
    action.sa_handler = forward;
    sigemptyset(&action.sa_mask);
    for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(signalNumber, &action, nullptr);

    int exitCode = 1;
    for (;;) {
        int status = 0;
        const pid_t reaped = ::waitpid(-1, &status, 0);
        if (reaped < 0 && errno == EINTR) continue;
        if (reaped < 0) break;  // no children left
        if (reaped != pid) continue;
        exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        // The command is done; reap what has already ended and leave anything still running be.
        while (::waitpid(-1, &status, WNOHANG) > 0) {
        }
        break;
    }
    return exitCode;
}
