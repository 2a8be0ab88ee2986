#include "platform/dialup/named_process.h"

#include <sys/wait.h>
#include <unistd.h>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>

namespace kv::test {

namespace {

std::string Comm(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
    std::string comm;
    std::getline(in, comm);
    return comm;
}

}  // namespace

NamedProcess::NamedProcess(const std::string& directory, const std::string& name,
                           const std::vector<std::string>& extraArguments) {
    namespace fs = std::filesystem;
    const fs::path program = fs::path(directory) / name;
    if (!fs::exists(program)) {
        fs::copy_file("/bin/sh", program);
        fs::permissions(program, fs::perms::owner_all);
    }
    std::vector<std::string> arguments{name, "-c", "read line", name};
    arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
    std::vector<char*> argv;
    for (std::string& a : arguments) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    const std::string path = program.string();

    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        return;
    }
    pid_ = fork();
    if (pid_ == 0) {
        dup2(pipeFds[0], STDIN_FILENO);
        close(pipeFds[0]);
        close(pipeFds[1]);
        execv(path.c_str(), argv.data());
        _exit(127);
    }
    close(pipeFds[0]);
    input_ = pipeFds[1];
    // The name changes only once exec has happened.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (pid_ > 0 && Comm(pid_) != name.substr(0, 15) &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

NamedProcess::~NamedProcess() {
    if (pid_ > 0 && !reaped_) {
        kill(pid_, SIGKILL);
        WaitForEnd();
    }
    if (input_ >= 0) {
        close(input_);
    }
}

int NamedProcess::WaitForEnd() {
    if (pid_ <= 0 || reaped_) {
        return signal_;
    }
    int status = 0;
    if (waitpid(pid_, &status, 0) == pid_) {
        reaped_ = true;
        signal_ = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    }
    return signal_;
}

void NamedProcess::Stop() {
    if (input_ >= 0) {
        close(input_);
        input_ = -1;
    }
    WaitForEnd();
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

}  // namespace kv::test
