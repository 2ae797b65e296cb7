#include "OwnSoundServer.h"

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

extern char** environ;

OwnSoundServer::OwnSoundServer() {
    std::string pattern = (std::filesystem::temp_directory_path() / "parlen-own-server-XXXXXX");
    if (::mkdtemp(pattern.data())) dir_ = pattern;
}

OwnSoundServer::~OwnSoundServer() {
    Kill();
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
}

bool OwnSoundServer::Start() {
    if (dir_.empty()) {
        error_ = "no temporary folder";
        return false;
    }
    Kill();
    const std::string runtime = dir_ + "/runtime";
    ::mkdir(runtime.c_str(), 0700);
    // The server's own folders, so that it meets nothing of the shared server's.
    std::vector<std::string> env = {"XDG_RUNTIME_DIR=" + runtime, "XDG_CONFIG_HOME=" + dir_,
                                    "HOME=" + dir_};
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        if (entry.rfind("XDG_RUNTIME_DIR=", 0) && entry.rfind("XDG_CONFIG_HOME=", 0) &&
            entry.rfind("HOME=", 0) && entry.rfind("PULSE_", 0))
            env.push_back(entry);
    }
    // The sink carries the shared server's name, which PULSE_SINK may ask for.
    const char* sink = std::getenv("PARLEN_SINK");
    const std::string sinkName = sink && *sink ? sink : "parlen_null";
    std::vector<std::string> args = {
        "pulseaudio",
        "--daemonize=no",
        "--exit-idle-time=-1",
        "--system=false",
        "-n",
        "--use-pid-file=no",
        "--log-target=file:" + dir_ + "/server.log",
        "--load=module-null-sink sink_name=" + sinkName + " rate=22050 channels=1",
        "--load=module-native-protocol-unix auth-anonymous=1 socket=" + dir_ + "/native"};
    std::vector<char*> argv, envp;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    if (int err = ::posix_spawnp(&pid_, "pulseaudio", nullptr, nullptr, argv.data(), envp.data())) {
        pid_ = -1;
        error_ = std::string("cannot run pulseaudio: ") + std::strerror(err);
        return false;
    }
    // Up once pactl gets an answer at the socket.
    const std::string probe = "PULSE_SERVER=" + Address() + " pactl info >/dev/null 2>&1";
    for (int i = 0; i < 100; ++i) {
        if (std::system(probe.c_str()) == 0) return true;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            error_ = "pulseaudio ended at start; see " + dir_ + "/server.log";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    error_ = "pulseaudio did not answer at " + Address();
    Kill();
    return false;
}

void OwnSoundServer::Freeze() {
    if (pid_ > 0) ::kill(pid_, SIGSTOP);
}

void OwnSoundServer::Kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
}
