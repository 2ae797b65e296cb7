#include "SinkCapture.h"

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

extern char** environ;

namespace {
using namespace std::chrono_literals;
}

SinkCapture::SinkCapture(unsigned rate) : rate_(rate) {
    char pattern[] = "/tmp/parlen-capture-XXXXXX";
    if (mkdtemp(pattern)) {
        dir_ = pattern;
        path_ = dir_ + "/capture.raw";
    }
}

SinkCapture::~SinkCapture() {
    Kill();
    if (!dir_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
}

bool SinkCapture::ServerConfigured() {
    const char* server = std::getenv("PULSE_SERVER");
    return server && *server;
}

std::string SinkCapture::MonitorName() {
    const char* sink = std::getenv("PARLEN_SINK");
    return std::string(sink && *sink ? sink : "parlen_null") + ".monitor";
}

off_t SinkCapture::FileSize() const {
    struct stat st {};
    return stat(path_.c_str(), &st) == 0 ? st.st_size : 0;
}

bool SinkCapture::Start() {
    if (path_.empty()) {
        error_ = "no temporary folder";
        return false;
    }
    Kill();
    samples_.clear();
    std::filesystem::remove(path_);
    std::string device = "--device=" + MonitorName();
    std::string rate = "--rate=" + std::to_string(rate_);
    std::vector<std::string> args = {"parecord",         device, "--raw",
                                     "--format=s16le",   rate,   "--channels=1",
                                     "--latency-msec=5", path_};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawnp(&pid_, "parecord", nullptr, nullptr, argv.data(), environ) != 0) {
        pid_ = -1;
        error_ = "cannot run parecord";
        return false;
    }
    // The capture runs once bytes flow; from then on the file grows at the rate
    // (the monitor sends silence too). Estimate when frame 0 was recorded: data
    // arrives a little after it is recorded, so the earliest estimate is the best.
    const auto deadline = Clock::now() + 5s;
    Clock::time_point best = Clock::time_point::max();
    int rounds = 0;
    while (Clock::now() < deadline && rounds < 40) {
        off_t size = FileSize();
        auto now = Clock::now();
        if (size > 0) {
            auto t = now - std::chrono::microseconds(size / 2 * 1000000 / rate_);
            if (t < best) best = t;
            ++rounds;
        }
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            error_ = "parecord ended at once (is " + MonitorName() + " there?)";
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    if (rounds == 0) {
        error_ = "parecord recorded nothing within 5 s";
        Kill();
        return false;
    }
    zero_ = best;
    return true;
}

void SinkCapture::Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGINT);
    int status = 0;
    for (int i = 0; i < 200; ++i) {
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        std::this_thread::sleep_for(5ms);
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
    pid_ = -1;
}

bool SinkCapture::Stop(std::chrono::milliseconds tail) {
    if (pid_ <= 0) {
        error_ = "not recording";
        return false;
    }
    std::this_thread::sleep_for(tail);
    Kill();
    std::ifstream in(path_, std::ios::binary);
    if (!in) {
        error_ = "capture file missing";
        return false;
    }
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    samples_.resize(bytes.size() / 2);
    for (size_t i = 0; i < samples_.size(); ++i)
        samples_[i] = static_cast<int16_t>(static_cast<uint8_t>(bytes[2 * i]) |
                                           (static_cast<uint8_t>(bytes[2 * i + 1]) << 8));
    return true;
}

SinkCapture::Clock::time_point SinkCapture::TimeOfFrame(size_t frame) const {
    return zero_ + std::chrono::microseconds(static_cast<int64_t>(frame) * 1000000 / rate_);
}

std::optional<size_t> SinkCapture::FirstSound(size_t from, int threshold) const {
    for (size_t i = from; i < samples_.size(); ++i)
        if (std::abs(samples_[i]) > threshold) return i;
    return std::nullopt;
}

std::optional<size_t> SinkCapture::LastSound(int threshold) const {
    for (size_t i = samples_.size(); i-- > 0;)
        if (std::abs(samples_[i]) > threshold) return i;
    return std::nullopt;
}

double SinkCapture::Rms(size_t from, size_t count) const {
    if (from >= samples_.size()) return 0.0;
    size_t end = std::min(samples_.size(), from + count);
    double sum = 0;
    for (size_t i = from; i < end; ++i) sum += double(samples_[i]) * samples_[i];
    return end > from ? std::sqrt(sum / double(end - from)) : 0.0;
}

bool SinkCapture::Silent(size_t from, size_t count, int threshold) const {
    size_t end = std::min(samples_.size(), from + count);
    for (size_t i = from; i < end; ++i)
        if (std::abs(samples_[i]) > threshold) return false;
    return true;
}

std::optional<size_t> SinkCapture::FirstSilence(size_t from, size_t run, int threshold) const {
    size_t quiet = 0;
    for (size_t i = from; i < samples_.size(); ++i) {
        if (std::abs(samples_[i]) > threshold) {
            quiet = 0;
        } else if (++quiet == run) {
            return i + 1 - run;
        }
    }
    return std::nullopt;
}

std::optional<size_t> SinkCapture::Locate(const std::vector<int16_t>& signal, size_t from,
                                          size_t maxSkip, size_t* skipped, size_t run) const {
    auto first = FirstSound(from);
    if (!first) return std::nullopt;
    for (size_t k = 0; k <= maxSkip && k < signal.size(); ++k) {
        if (k > *first) break;
        size_t n = std::min({run, signal.size() - k, samples_.size() - *first});
        if (n == 0) break;
        if (std::equal(signal.begin() + long(k), signal.begin() + long(k + n),
                       samples_.begin() + long(*first))) {
            // Leading zeros of the signal are silence, not loss.
            size_t lost = k;
            while (lost > 0 && signal[lost - 1] == 0) --lost;
            if (skipped) *skipped = lost;
            return *first - k;
        }
    }
    return std::nullopt;
}

std::optional<size_t> SinkCapture::Find(const std::vector<int16_t>& signal, size_t at, size_t from,
                                        size_t run) const {
    if (at >= signal.size()) return std::nullopt;
    run = std::min(run, signal.size() - at);
    if (samples_.size() < run) return std::nullopt;
    for (size_t p = from; p + run <= samples_.size(); ++p)
        if (samples_[p] == signal[at] &&
            std::equal(signal.begin() + long(at), signal.begin() + long(at + run),
                       samples_.begin() + long(p)))
            return p;
    return std::nullopt;
}

size_t SinkCapture::FramesOf(std::chrono::microseconds d) const {
    return static_cast<size_t>(d.count() * int64_t{rate_} / 1000000);
}

std::vector<int16_t> MakeNoise(unsigned rate, unsigned ms, int16_t amplitude) {
    std::vector<int16_t> noise(size_t{rate} * ms / 1000);
    uint32_t x = 2463534242u;
    for (auto& v : noise) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        v = static_cast<int16_t>(int32_t(x % (2u * amplitude + 1)) - amplitude);
        if (v == 0) v = 1;  // no silence inside
    }
    return noise;
}

std::vector<int16_t> MakeTone(unsigned rate, unsigned ms, double hz, int16_t amplitude) {
    std::vector<int16_t> tone(size_t{rate} * ms / 1000);
    for (size_t i = 0; i < tone.size(); ++i)
        tone[i] = static_cast<int16_t>(amplitude * std::sin(2 * M_PI * hz * double(i) / rate));
    return tone;
}
