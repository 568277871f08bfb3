// Time from process start to the first painted frame of the main window, next to a minimal
// window (a QWidget with one label) started the same way. Every run is a process of its own:
// the bench re-executes itself with a mode argument and reads the child's figure from its
// output. Usage: window_bench [runs], 20 runs each by default; QT_QPA_PLATFORM defaults to
// offscreen. The last line is "ratio R", the Quelvar window's median over the minimal one's.

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "app/qt/Startup.h"
#include "app/qt/TfmPrincipal.h"

extern char** environ;

namespace {

constexpr int kDefaultRuns = 20;
constexpr char kStartVariable[] = "QUELVAR_BENCH_START_NS";
constexpr char kQuelvarMode[] = "--quelvar";
constexpr char kMinimalMode[] = "--minimal";

long long monotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

// Prints the time since the parent spawned this process at the first paint of a widget of the
// measured window (any other window, such as a message box, is not its frame),
// then ends the process.
class FirstPaintFilter : public QObject {
public:
    explicit FirstPaintFilter(long long startNs) : m_startNs(startNs) {}
    void setWindow(QWidget* window) { m_window = window; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!m_done && event->type() == QEvent::Paint && watched->isWidgetType() &&
            static_cast<QWidget*>(watched)->window() == m_window) {
            m_done = true;
            double ms = static_cast<double>(monotonicNanoseconds() - m_startNs) / 1e6;
            std::printf("%.3f\n", ms);
            std::fflush(stdout);
            // Ends at once: the window may have opened a dialog of its own (the settings file
            // is read when it is first shown), whose nested loop would outlive an exit().
            std::_Exit(0);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    long long m_startNs;
    QWidget* m_window = nullptr;
    bool m_done = false;
};

int runChild(int argc, char* argv[], bool quelvarWindow) {
    const char* start = std::getenv(kStartVariable);
    long long startNs = start ? std::atoll(start) : monotonicNanoseconds();
    int toolkitArgc = argc > 0 ? 1 : 0;
    QApplication application(toolkitArgc, argv);
    FirstPaintFilter filter(startNs);
    application.installEventFilter(&filter);
    // A run that never paints ends with a failure rather than hanging the bench.
    QTimer::singleShot(20000, &application, [] { QApplication::exit(2); });

    if (quelvarWindow) {
        // The start-up of the program itself.
        quelvar::prepareApplication();
        quelvar::TfmPrincipal fmPrincipal;
        filter.setWindow(&fmPrincipal);
        fmPrincipal.show();
        return QApplication::exec();
    }
    QWidget window;
    filter.setWindow(&window);
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(new QLabel(QStringLiteral("Quelvar"), &window));
    window.show();
    return QApplication::exec();
}

// Spawns this program in the given mode and returns the child's figure in ms, or a negative
// value when the run failed.
double spawnRun(const char* self, const char* mode) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    posix_spawn_file_actions_addclose(&actions, pipeFds[1]);

    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry)
        if (std::strncmp(*entry, kStartVariable, std::strlen(kStartVariable)) != 0)
            environment.emplace_back(*entry);
    std::vector<char*> envp;
    for (auto& entry : environment)
        envp.push_back(entry.data());
    std::string startEntry;
    envp.push_back(nullptr);

    char* argvChild[] = {const_cast<char*>(self), const_cast<char*>(mode), nullptr};
    pid_t pid = 0;
    startEntry = std::string(kStartVariable) + "=" + std::to_string(monotonicNanoseconds());
    envp.back() = startEntry.data();
    envp.push_back(nullptr);
    int spawned = posix_spawn(&pid, self, &actions, nullptr, argvChild, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    std::string output;
    char buffer[256];
    ssize_t n = 0;
    while (spawned == 0 && (n = read(pipeFds[0], buffer, sizeof buffer)) > 0)
        output.append(buffer, static_cast<std::size_t>(n));
    close(pipeFds[0]);
    if (spawned != 0)
        return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || output.empty())
        return -1;
    return std::atof(output.c_str());
}

// Returns the value below which the given fraction of the values lie (nearest rank).
double quantile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    const auto rank =
        static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5);
    return values[rank];
}

double median(const std::vector<double>& values) {
    return quantile(values, 0.5);
}

void printTimes(const char* name, const std::vector<double>& values) {
    std::printf("%s window: median %.1f ms, quartiles %.1f-%.1f ms\n", name, median(values),
                quantile(values, 0.25), quantile(values, 0.75));
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc > 1 && std::strcmp(argv[1], kQuelvarMode) == 0)
        return runChild(argc, argv, true);
    if (argc > 1 && std::strcmp(argv[1], kMinimalMode) == 0)
        return runChild(argc, argv, false);

    int runs = argc > 1 ? std::atoi(argv[1]) : kDefaultRuns;
    if (runs <= 0)
        runs = kDefaultRuns;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const char* self = "/proc/self/exe";
    std::string selfPath(4096, '\0');
    ssize_t length = readlink(self, selfPath.data(), selfPath.size() - 1);
    if (length <= 0)
        return 1;
    selfPath.resize(static_cast<std::size_t>(length));

    std::vector<double> quelvarTimes;
    std::vector<double> minimalTimes;
    // Alternates the two so that drifts of the machine's load touch both alike; one run of
    // each first warms the caches of the binary and libraries.
    spawnRun(selfPath.c_str(), kQuelvarMode);
    spawnRun(selfPath.c_str(), kMinimalMode);
    for (int i = 0; i < runs; ++i) {
        double quelvar = spawnRun(selfPath.c_str(), kQuelvarMode);
        double minimal = spawnRun(selfPath.c_str(), kMinimalMode);
        if (quelvar < 0 || minimal < 0) {
            std::fprintf(stderr, "run %d failed\n", i);
            return 1;
        }
        quelvarTimes.push_back(quelvar);
        minimalTimes.push_back(minimal);
    }
    std::printf("runs each: %d, QT_QPA_PLATFORM=%s, process start to first paint\n", runs,
                std::getenv("QT_QPA_PLATFORM"));
    printTimes("Quelvar", quelvarTimes);
    printTimes("minimal", minimalTimes);
    std::printf("ratio %.2f\n", median(quelvarTimes) / median(minimalTimes));
    return 0;
}
