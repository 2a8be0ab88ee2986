#pragma once

#include <sys/types.h>
#include <string>
#include <vector>

namespace kv::test {

// A child process whose name (/proc/PID/comm) is chosen by the test: a copy of /bin/sh under
// that name, waiting on a pipe. The extra arguments show up in its command line.
class NamedProcess {
  public:
    NamedProcess(const std::string& directory, const std::string& name,
                 const std::vector<std::string>& extraArguments = {});
    ~NamedProcess();
    NamedProcess(const NamedProcess&) = delete;
    NamedProcess& operator=(const NamedProcess&) = delete;

    pid_t Pid() const { return pid_; }
    // Reaps the child; the signal that ended it, or 0 when it exited by itself.
    int WaitForEnd();
    // Lets it exit normally and reaps it.
    void Stop();

  private:
    pid_t pid_ = -1;
    int input_ = -1;
    bool reaped_ = false;
    int signal_ = 0;
};

void WriteFile(const std::string& path, const std::string& text);

}  // namespace kv::test
