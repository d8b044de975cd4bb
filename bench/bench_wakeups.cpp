// SPDX-License-Identifier: GPL-3.0-or-later
// What a program holding a card across the network costs when it does
// little: the wake-ups a second of the card link's thread ("mox-card-link",
// its voluntary and involuntary context switches in /proc), with the card
// open and nothing asked, then with all three windows open and acquiring,
// beside the requests a second the card (the emulator on loopback) received;
// then the program's CPU time (utime + stime in /proc/self/stat) per second
// of wall time with the trend window open as well. With --in-process, the
// CPU time alone on the in-process virtual card.
//
//   bench_wakeups [seconds per phase=10] [--cpu=SECONDS (60)] [--in-process]
#include "FrmMultiBuf.h"
#include "emulator_process.h"

#include <QApplication>
#include <QEventLoop>
#include <QPushButton>
#include <QTimer>

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>

namespace {

using SteadyClock = std::chrono::steady_clock;

// Runs the event loop as the program does, without a test helper's own
// sleeps or wake-ups in between.
void RunFor(int ms) {
    QEventLoop loop;
    QTimer end;
    end.setSingleShot(true);
    end.setTimerType(Qt::PreciseTimer);
    QObject::connect(&end, &QTimer::timeout, &loop, &QEventLoop::quit);
    end.start(ms);
    loop.exec();
}

// The task folder of this process's thread with the given name.
std::optional<std::filesystem::path> ThreadNamed(std::string_view name) {
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string text;
        if (std::getline(comm, text) && text == name) return task.path();
    }
    return std::nullopt;
}

// Voluntary and involuntary context switches of a thread so far: each time
// it slept and woke again, or was put aside for another.
long long ContextSwitches(const std::filesystem::path& task) {
    std::ifstream status(task / "status");
    long long total = 0;
    for (std::string line; std::getline(status, line);) {
        for (const std::string_view key : {"voluntary_ctxt_switches:", "nonvoluntary_ctxt_switches:"}) {
            if (line.rfind(key, 0) == 0) total += std::stoll(line.substr(key.size()));
        }
    }
    return total;
}

// The requests the emulator has had from our link so far, from its status.
long long CardRequests(EmulatorProcess& emulator) {
    const std::string status = emulator.Command("status");
    const auto at = status.find(" s ago, ");
    if (at == std::string::npos) return -1;
    std::istringstream in(status.substr(at + 8));
    long long requests = -1;
    in >> requests;
    return requests;
}

// utime + stime of this process, or of one of its threads, in seconds.
double CpuSeconds(const std::filesystem::path& of = "/proc/self") {
    std::ifstream stat(of / "stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2)); // after the command's name
    std::string field;
    unsigned long long utime = 0;
    unsigned long long stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) { // fields 14 and 15 of proc(5)
        if (i == 14) utime = std::stoull(field);
        if (i == 15) stime = std::stoull(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// Wake-ups of the link's thread and requests to the card over `seconds`.
bool MeasureWakeUps(const char* phase, const std::filesystem::path& task, EmulatorProcess& emulator, int seconds) {
    const long long switches0 = ContextSwitches(task);
    const long long requests0 = CardRequests(emulator);
    const auto t0 = SteadyClock::now();
    RunFor(seconds * 1000);
    const double elapsed = std::chrono::duration<double>(SteadyClock::now() - t0).count();
    const long long switches = ContextSwitches(task) - switches0;
    const long long requests = CardRequests(emulator) - requests0;
    if (requests0 < 0 || requests < 0) {
        std::fprintf(stderr, "bench_wakeups: the emulator's status names no requests\n");
        return false;
    }
    std::printf("%-34s %14.1f %14.1f\n", phase, static_cast<double>(switches) / elapsed,
                static_cast<double>(requests) / elapsed);
    std::fflush(stdout);
    return true;
}

// The program's CPU time per wall time, and the link thread's share of it.
void MeasureCpu(const char* what, int seconds, const std::optional<std::filesystem::path>& link = std::nullopt) {
    const double cpu0 = CpuSeconds();
    const double link0 = link ? CpuSeconds(*link) : 0;
    const auto t0 = SteadyClock::now();
    RunFor(seconds * 1000);
    const double wall = std::chrono::duration<double>(SteadyClock::now() - t0).count();
    std::printf("CPU, %s, over %d s: %.2f %% of a core", what, seconds, 100 * (CpuSeconds() - cpu0) / wall);
    if (link) std::printf(" (the link's thread %.2f %%)", 100 * (CpuSeconds(*link) - link0) / wall);
    std::printf("\n");
    std::fflush(stdout);
}

std::optional<int> Number(std::string_view text, int low, int high) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high) return std::nullopt;
    return value;
}

struct Options {
    int seconds = 10;
    int cpuSeconds = 60;
    bool inProcess = false;
};

std::optional<Options> ReadOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        std::optional<int> n;
        if (arg == "--in-process") {
            o.inProcess = true;
            continue;
        }
        if (arg.rfind("--cpu=", 0) == 0) {
            n = Number(arg.substr(6), 0, 3600);
            o.cpuSeconds = n.value_or(0);
        } else {
            n = Number(arg, 1, 3600);
            o.seconds = n.value_or(0);
        }
        if (!n) {
            std::fprintf(stderr, "bench_wakeups: \"%s\" is not [seconds 1-3600], --cpu=0-3600 or --in-process\n",
                         argv[i]);
            return std::nullopt;
        }
    }
    return o;
}

void OpenAllWindows(FrmMultiBuf& window) {
    window.findChild<QPushButton*>(QStringLiteral("cmdStart"))->click();
    window.findChild<QPushButton*>(QStringLiteral("cmdDAOut"))->click();
    window.findChild<QPushButton*>(QStringLiteral("cmdSW"))->click();
}

// The card across the network: idle, then acquiring; then the CPU time.
int OnTheNetwork(FrmMultiBuf& window, EmulatorProcess& emulator, const Options& o) {
    RunFor(3000); // the load's requests answered, nothing kept any more
    const auto task = ThreadNamed("mox-card-link");
    if (!task) {
        std::fprintf(stderr, "bench_wakeups: no thread named mox-card-link: is the card on the network?\n");
        return 1;
    }
    std::printf("%-34s %14s %14s\n", "link thread", "wake-ups/s", "requests/s");
    if (!MeasureWakeUps("card open, nothing asked", *task, emulator, o.seconds)) return 1;
    OpenAllWindows(window);
    RunFor(2000);
    if (!MeasureWakeUps("three windows open, acquiring", *task, emulator, o.seconds)) return 1;
    if (o.cpuSeconds == 0) return 0;
    window.ShowTrend();
    RunFor(2000);
    MeasureCpu("the emulator, three windows and the trend", o.cpuSeconds, task);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const auto options = ReadOptions(argc, argv);
    if (!options) return 2;
    EmulatorProcess emulator;
    if (options->inProcess) {
        ::unsetenv("MOX_CARD_ADDRESS");
    } else {
        const std::uint16_t port = emulator.Start(0);
        if (port == 0) {
            std::fprintf(stderr, "bench_wakeups: the card emulator did not start\n");
            return 1;
        }
        const std::string address = "127.0.0.1:" + std::to_string(port);
        ::setenv("MOX_CARD_ADDRESS", address.c_str(), 1);
    }
    QApplication app(argc, argv);
    FrmMultiBuf window;
    window.show();
    if (!options->inProcess) return OnTheNetwork(window, emulator, *options);
    OpenAllWindows(window);
    window.ShowTrend();
    RunFor(2000);
    MeasureCpu("the in-process virtual card, three windows and the trend", std::max(options->cpuSeconds, 1));
    return 0;
}
