#pragma once

// Throw-away network namespaces for tests and benchmarks that need a real interface table.

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace kv::test {

// Runs a program without a shell, so arguments may hold any bytes; true on exit status 0.
inline bool RunProgram(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

// Namespaces made by this process. They are removed at exit and on a fatal signal, so a crash
// leaves nothing behind; the removal is `ip netns del` done with async-signal-safe calls.
class Namespaces {
  public:
    // A unique name per process and call.
    static std::string Unique(const char* tag) { return "kvt" + std::to_string(getpid()) + tag; }

    static bool Add(const std::string& name) {
        Init();
        if (count_ == kMax || !RunProgram({"ip", "netns", "add", name})) {
            return false;
        }
        std::snprintf(paths_[count_++], sizeof paths_[0], "/run/netns/%s", name.c_str());
        return true;
    }

    static void RemoveAll() {
        if (origin_ >= 0) {
            setns(origin_, CLONE_NEWNS);  // the bind mounts live in the original mount namespace
        }
        while (count_ > 0) {
            --count_;
            umount2(paths_[count_], MNT_DETACH);
            unlink(paths_[count_]);
        }
    }

  private:
    static constexpr int kMax = 16;

    static void Init() {
        if (origin_ >= 0) {
            return;
        }
        origin_ = open("/proc/self/ns/mnt", O_RDONLY | O_CLOEXEC);
        std::atexit(RemoveAll);
        for (const int signal : {SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGILL, SIGINT, SIGTERM}) {
            std::signal(signal, [](int caught) {
                RemoveAll();
                std::signal(caught, SIG_DFL);
                std::raise(caught);
            });
        }
    }

    static inline int origin_ = -1;
    static inline char paths_[kMax][96] = {};
    static inline int count_ = 0;
};

// Moves the calling thread into a namespace for the scope's life, with that namespace's sysfs
// mounted over /sys the way `ip netns exec` does.
class Inside {
  public:
    explicit Inside(const std::string& name, bool withSysfs = true)
        : net_(open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC)),
          mnt_(open("/proc/self/ns/mnt", O_RDONLY | O_CLOEXEC)) {
        const int target = open(("/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
        ok_ = target >= 0 && setns(target, CLONE_NEWNET) == 0;
        if (target >= 0) {
            close(target);
        }
        if (ok_ && withSysfs) {
            ok_ = unshare(CLONE_NEWNS) == 0 &&
                  mount(nullptr, "/", nullptr, MS_SLAVE | MS_REC, nullptr) == 0 &&
                  umount2("/sys", MNT_DETACH) == 0 &&
                  mount(name.c_str(), "/sys", "sysfs", 0, nullptr) == 0;
        }
    }
    ~Inside() {
        setns(mnt_, CLONE_NEWNS);
        setns(net_, CLONE_NEWNET);
        close(mnt_);
        close(net_);
    }
    Inside(const Inside&) = delete;
    Inside& operator=(const Inside&) = delete;

    bool ok() const { return ok_; }

  private:
    int net_;
    int mnt_;
    bool ok_ = false;
};

}  // namespace kv::test
