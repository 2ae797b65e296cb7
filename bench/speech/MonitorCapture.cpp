#include "MonitorCapture.h"

#include <pulse/error.h>

#include <cstdlib>

#include "BenchStats.h"

namespace {

std::string MonitorName() {
    const char* sink = std::getenv("PARLEN_SINK");
    return std::string(sink && *sink ? sink : "parlen_null") + ".monitor";
}

int64_t Ns(MonitorCapture::Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

}  // namespace

MonitorCapture::MonitorCapture(unsigned rate, unsigned fragmentFrames)
    : rate_(rate), fragment_(fragmentFrames), clock_(rate, rate) {}

MonitorCapture::~MonitorCapture() {
    Stop();
}

bool MonitorCapture::Start() {
    pa_sample_spec spec{};
    spec.format = PA_SAMPLE_S16LE;
    spec.rate = rate_;
    spec.channels = 1;
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.fragsize = fragment_ * 2;
    attr.tlength = attr.prebuf = attr.minreq = static_cast<uint32_t>(-1);
    int err = 0;
    const std::string device = MonitorName();
    stream_ = pa_simple_new(nullptr, "parlen-bench", PA_STREAM_RECORD, device.c_str(), "monitor",
                            &spec, nullptr, &attr, &err);
    if (!stream_) {
        error_ = "cannot record " + device + ": " + pa_strerror(err);
        return false;
    }
    running_ = true;
    thread_ = std::thread([this] { Run(); });
    const auto deadline = Clock::now() + std::chrono::seconds(3);
    while (Frames() == 0 && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (Frames() == 0) {
        Stop();
        error_ = "no data from " + device;
        return false;
    }
    return true;
}

void MonitorCapture::Stop() {
    running_ = false;
    if (thread_.joinable()) thread_.join();
    if (stream_) pa_simple_free(stream_);
    stream_ = nullptr;
}

void MonitorCapture::Run() {
    std::vector<int16_t> chunk(fragment_);
    while (running_) {
        int err = 0;
        if (pa_simple_read(stream_, chunk.data(), chunk.size() * 2, &err) < 0) {
            std::lock_guard lock(mutex_);
            error_ = std::string("capture failed: ") + pa_strerror(err);
            break;
        }
        const int64_t now = Ns(Clock::now());
        std::lock_guard lock(mutex_);
        samples_.insert(samples_.end(), chunk.begin(), chunk.end());
        clock_.Add(samples_.size(), now);
    }
}

size_t MonitorCapture::Frames() const {
    std::lock_guard lock(mutex_);
    return samples_.size();
}

std::vector<int16_t> MonitorCapture::Samples() const {
    std::lock_guard lock(mutex_);
    return samples_;
}

std::optional<size_t> MonitorCapture::FirstSoundSince(size_t from, int threshold) const {
    std::lock_guard lock(mutex_);
    return BenchStats::FirstSound(samples_, from, threshold);
}

MonitorCapture::Clock::time_point MonitorCapture::TimeOfFrame(size_t frame) const {
    std::lock_guard lock(mutex_);
    return Clock::time_point(std::chrono::nanoseconds(clock_.TimeOfFrame(int64_t(frame))));
}

int64_t MonitorCapture::FrameAt(Clock::time_point t) const {
    std::lock_guard lock(mutex_);
    return clock_.FrameAt(Ns(t));
}
