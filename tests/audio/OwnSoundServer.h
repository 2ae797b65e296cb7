#pragma once
// A sound server of a test's own (PulseAudio with one null sink, listening on a
// socket in a temporary folder), for tests that kill or restart the server while
// the shared test server stays up.
#include <sys/types.h>

#include <string>

class OwnSoundServer {
  public:
    OwnSoundServer();
    // Kills the server and removes its folder.
    ~OwnSoundServer();

    // Starts the server and waits until it answers; false (with Error()) when it
    // does not. Start after Kill brings a new server up at the same address.
    bool Start();
    // Ends the server at once (SIGKILL), as a crash would.
    void Kill();
    // Stops the server without ending it (SIGSTOP), as a hung one would.
    void Freeze();
    // The address for PULSE_SERVER ("unix:/tmp/.../native").
    std::string Address() const { return "unix:" + dir_ + "/native"; }
    const std::string& Error() const { return error_; }

  private:
    std::string dir_;
    pid_t pid_ = -1;
    std::string error_;

    // One server, one owner.
    OwnSoundServer(const OwnSoundServer&) = delete;
    OwnSoundServer& operator=(const OwnSoundServer&) = delete;
};
