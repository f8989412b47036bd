// The osascript stand-in's bring-to-front pass over every process, with many processes
// running, beside "ps -e" reading the same process list, and against the 3000 ms that
// activateWindowToFront waits for it.
//   bench_osascript [extra processes, default 2000] [stand-in, default the tree's]

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

constexpr int kRounds = 5;
constexpr double kBudgetMs = 3000;

// Idle processes that fill the process list; ended by their ids.
std::vector<pid_t> startSleepers(int count)
{
    std::vector<pid_t> pids;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    char program[] = "/bin/sleep";
    char seconds[] = "600";
    char* argv[] = {program, seconds, nullptr};
    for (int i = 0; i < count; ++i) {
        pid_t pid = 0;
        if (posix_spawn(&pid, program, &actions, nullptr, argv, environ) != 0)
            break;
        pids.push_back(pid);
    }
    posix_spawn_file_actions_destroy(&actions);
    return pids;
}

void endSleepers(const std::vector<pid_t>& pids)
{
    for (const pid_t pid : pids)
        kill(pid, SIGTERM);
    for (const pid_t pid : pids)
        waitpid(pid, nullptr, 0);
}

// Median wall time of kRounds runs in ms; negative when a run fails.
double medianMs(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment)
{
    std::vector<double> times;
    for (int round = 0; round < kRounds; ++round) {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.setStandardOutputFile(QProcess::nullDevice());
        QElapsedTimer timer;
        timer.start();
        process.start(program, arguments);
        if (!process.waitForFinished(120000)) {
            process.kill();
            process.waitForFinished();
            return -1;
        }
        if (process.exitCode() != 0)
            return -1;
        times.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int extra = args.size() > 1 ? args[1].toInt() : 2000;
    const QString standIn = args.size() > 2 ? args[2] : QStringLiteral(PLATFORM_TOOLS_DIR "/osascript");

    const std::vector<pid_t> sleepers = startSleepers(extra);
    QProcess ps;
    ps.start("ps", {"-e", "-o", "pid="});
    ps.waitForFinished(60000);
    const qsizetype processes = ps.readAllStandardOutput().count('\n');

    // A display is named and xdotool is there, but no process matches: the pass over the
    // process list is all that runs.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", ":77");
    const QString script = QStringLiteral("tell application \"System Events\"\n"
                                          "    set frontmost of every process whose name contains \"%1\" to true\n"
                                          "end tell")
                               .arg("no program has this name");
    const double standInMs = medianMs(standIn, {"-e", script}, environment);
    const double psMs = medianMs("ps", {"-e", "-o", "pid=,comm="}, environment);
    endSleepers(sleepers);

    if (standInMs < 0 || psMs < 0) {
        std::fprintf(stderr, "bench_osascript: a run failed or took longer than 120 s\n");
        return 1;
    }
    std::printf("processes listed: %lld (%zu started here)\n", static_cast<long long>(processes), sleepers.size());
    std::printf("osascript bring-to-front: %.1f ms, median of %d (ps -e: %.1f ms, ratio %.2f)\n", standInMs, kRounds,
                psMs, standInMs / psMs);
    std::printf("share of the caller's %.0f ms wait: %.1f %%\n", kBudgetMs, 100.0 * standInMs / kBudgetMs);
    return 0;
}
