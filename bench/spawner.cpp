// Starts and watches the programs under measurement, from inside the
// workstation's network namespace (the bench starts it there; everything it
// starts inherits that namespace).  One command per line on stdin, one
// answer per line on stdout:
//
//   cpu LIST|all          pin this process, and so what it starts, to CPUs
//   start ARG0 ARG1 ...   (arguments separated by tabs) start a program with its
//                         stdout on a pipe and wait until it prints the ready
//                         line; answers
//                           ready PID SPAWN_NS READY_NS VMHWM_KIB VMRSS_KIB CPU_NS
//                         (CLOCK_MONOTONIC times of the spawn and of the ready
//                         line; peak and current resident memory and the CPU
//                         time it has used, all read when the line came)
//   cpu_now               answers "cpu CPU_NS" of the running program
//   wait TIMEOUT_MS       wait for it to end by itself (killed at the timeout);
//                         answers
//                           exit STATUS UTIME_US STIME_US TIMED_OUT EXIT_NS OUTPUT_BYTES
//   stop                  SIGTERM (SIGKILL a second later); answers as wait
//   udp                   answers "udp InDatagrams NoPorts InErrors RcvbufErrors"
//                         of this namespace
//   quit
//
// Start-up is timed from just before posix_spawn to the moment the ready
// line is read, so both the tool and its baseline pay the same spawn and
// pipe costs.
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

constexpr char READY_LINE[] = "Press CTRL + C to quit\n";
constexpr int READY_TIMEOUT_MS = 10000;

std::int64_t now_ns() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return std::int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

struct Child {
    pid_t pid = -1;
    int out = -1;  // read end of its stdout
    std::string output;
    std::size_t output_bytes = 0;
};

Child child;

void answer(const std::string& line) {
    std::cout << line << '\n' << std::flush;
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator)) parts.push_back(part);
    return parts;
}

long status_field_kib(pid_t pid, const char* name) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    const std::size_t length = std::strlen(name);
    while (std::getline(in, line)) {
        if (line.compare(0, length, name) == 0 && line.size() > length && line[length] == ':') {
            return std::strtol(line.c_str() + length + 1, nullptr, 10);
        }
    }
    return -1;
}

// Time on a CPU so far, in ns (user and system together).
long long cpu_ns(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/schedstat");
    long long on_cpu = -1;
    in >> on_cpu;
    return on_cpu;
}

// Reads what is there; false at end of output.
bool read_some(int timeout_ms) {
    pollfd p{child.out, POLLIN, 0};
    const int ready = poll(&p, 1, timeout_ms);
    if (ready <= 0) return true;
    char buffer[4096];
    const ssize_t got = read(child.out, buffer, sizeof buffer);
    if (got < 0) return errno == EINTR || errno == EAGAIN;
    if (got == 0) return false;
    child.output_bytes += std::size_t(got);
    if (child.output.size() < 65536) child.output.append(buffer, std::size_t(got));
    return true;
}

void forget_child() {
    if (child.out >= 0) close(child.out);
    child = Child{};
}

void report_exit(int status, const rusage& usage, bool timed_out) {
    const long long utime = (long long)usage.ru_utime.tv_sec * 1000000 + usage.ru_utime.tv_usec;
    const long long stime = (long long)usage.ru_stime.tv_sec * 1000000 + usage.ru_stime.tv_usec;
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    answer("exit " + std::to_string(code) + " " + std::to_string(utime) + " " + std::to_string(stime) + " " +
           (timed_out ? "1" : "0") + " " + std::to_string(now_ns()) + " " + std::to_string(child.output_bytes));
    forget_child();
}

// Waits until the child ends.  A program that is waited for and passes
// `deadline` gets SIGTERM (and counts as timed out); one that is still there a
// second after SIGTERM gets SIGKILL.
void reap(std::int64_t deadline, bool term_sent) {
    bool timed_out = false;
    bool killed = false;
    bool open = true;
    for (;;) {
        int status = 0;
        rusage usage{};
        const pid_t done = wait4(child.pid, &status, WNOHANG, &usage);
        if (done == child.pid) {
            while (open && read_some(0)) {
            }
            report_exit(status, usage, timed_out);
            return;
        }
        if (!killed && now_ns() > deadline) {
            if (!term_sent) {
                kill(child.pid, SIGTERM);
                term_sent = true;
                timed_out = true;
            } else {
                kill(child.pid, SIGKILL);
                killed = true;
            }
            deadline = now_ns() + 1000000000LL;
        }
        if (open) {
            open = read_some(5);
        } else {
            usleep(100);
        }
    }
}

void start(const std::vector<std::string>& argv) {
    if (child.pid > 0) {
        answer("failed a program is still running");
        return;
    }
    int pipe_fds[2];
    if (pipe2(pipe_fds, O_CLOEXEC) != 0) {
        answer("failed pipe: " + std::string(std::strerror(errno)));
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    const std::int64_t spawned = now_ns();
    const int failed = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipe_fds[1]);
    if (failed != 0) {
        close(pipe_fds[0]);
        answer("failed posix_spawn " + argv[0] + ": " + std::strerror(failed));
        return;
    }
    child.pid = pid;
    child.out = pipe_fds[0];
    const std::int64_t deadline = spawned + std::int64_t(READY_TIMEOUT_MS) * 1000000;
    for (;;) {
        const std::size_t at = child.output.find(READY_LINE);
        if (at != std::string::npos) {
            const std::int64_t ready = now_ns();
            const long hwm = status_field_kib(pid, "VmHWM");
            const long rss = status_field_kib(pid, "VmRSS");
            const long long cpu = cpu_ns(pid);
            child.output.erase(0, at + sizeof READY_LINE - 1);
            answer("ready " + std::to_string(pid) + " " + std::to_string(spawned) + " " + std::to_string(ready) + " " +
                   std::to_string(hwm) + " " + std::to_string(rss) + " " + std::to_string(cpu));
            return;
        }
        const std::int64_t left_ms = (deadline - now_ns()) / 1000000;
        if (left_ms <= 0 || !read_some(int(left_ms))) {
            kill(pid, SIGKILL);
            int status = 0;
            waitpid(pid, &status, 0);
            std::string seen = child.output.substr(0, 200);
            for (char& c : seen) {
                if (c == '\n') c = '|';
            }
            forget_child();
            answer("failed no ready line (output: " + seen + ")");
            return;
        }
    }
}

void pin(const std::string& list) {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (list == "all") {
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) CPU_SET(cpu, &set);
    } else {
        for (const std::string& cpu : split(list, ',')) CPU_SET(std::atoi(cpu.c_str()), &set);
    }
    if (sched_setaffinity(0, sizeof set, &set) != 0 && list != "all") {
        answer("failed sched_setaffinity: " + std::string(std::strerror(errno)));
        return;
    }
    answer("ok");
}

void udp_counters() {
    std::ifstream in("/proc/self/net/snmp");
    std::string header;
    std::string values;
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, 4, "Udp:") != 0) continue;
        if (header.empty()) {
            header = line;
        } else {
            values = line;
            break;
        }
    }
    const std::vector<std::string> names = split(header, ' ');
    const std::vector<std::string> numbers = split(values, ' ');
    auto find = [&](const char* name) -> std::string {
        for (std::size_t i = 0; i < names.size() && i < numbers.size(); ++i) {
            if (names[i] == name) return numbers[i];
        }
        return "0";
    };
    answer("udp " + find("InDatagrams") + " " + find("NoPorts") + " " + find("InErrors") + " " +
           find("RcvbufErrors"));
}

}  // namespace

int main() {
    signal(SIGPIPE, SIG_IGN);
    std::string line;
    while (std::getline(std::cin, line)) {
        const std::size_t space = line.find(' ');
        const std::string command = line.substr(0, space);
        const std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
        if (command == "start") {
            start(split(rest, '\t'));
        } else if (command == "cpu") {
            pin(rest);
        } else if (command == "cpu_now") {
            answer("cpu " + std::to_string(child.pid > 0 ? cpu_ns(child.pid) : -1));
        } else if (command == "wait" || command == "stop") {
            if (child.pid <= 0) {
                answer("failed nothing is running");
                continue;
            }
            if (command == "stop") kill(child.pid, SIGTERM);
            const long timeout_ms = command == "stop" ? 1000 : std::atol(rest.c_str());
            reap(now_ns() + timeout_ms * 1000000LL, command == "stop");
        } else if (command == "udp") {
            udp_counters();
        } else if (command == "quit") {
            break;
        } else {
            answer("failed unknown command " + command);
        }
    }
    if (child.pid > 0) {
        kill(child.pid, SIGKILL);
        waitpid(child.pid, nullptr, 0);
    }
    return 0;
}
