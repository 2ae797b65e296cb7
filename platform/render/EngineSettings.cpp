// The engine core's voice settings: pitch and speed held within the voice's probed
// limits, the speed as a share of the voice's normal one, and the volume.
#include <algorithm>
#include <cmath>

#include "platform/render/EngineCore.h"

namespace {
template <class T>
T Clamp(uint64_t value, T low, T high) {
    return static_cast<T>(std::clamp<uint64_t>(value, low, high));
}
}  // namespace

uint16_t EngineCore::Pitch() {
    std::lock_guard lock(mutex_);
    return settings_.pitch;
}
uint32_t EngineCore::Speed() {
    std::lock_guard lock(mutex_);
    return settings_.speed;
}
uint32_t EngineCore::RealTime() {
    std::lock_guard lock(mutex_);
    return static_cast<uint32_t>(
        std::lround(settings_.speed * 100.0 / static_cast<double>(limits_.speedNormal)));
}
uint32_t EngineCore::Volume() {
    std::lock_guard lock(mutex_);
    return volume_;
}
void EngineCore::SetPitch(uint64_t pitch) {
    std::lock_guard lock(mutex_);
    settings_.pitch = Clamp(pitch, limits_.pitchMin, limits_.pitchMax);
}
void EngineCore::SetSpeed(uint64_t speed) {
    std::lock_guard lock(mutex_);
    settings_.speed = Clamp(speed, limits_.speedMin, limits_.speedMax);
}
void EngineCore::SetRealTime(uint64_t percent) {
    const double speed = static_cast<double>(percent) * limits_.speedNormal / 100.0;
    SetSpeed(static_cast<uint64_t>(std::min(speed + 0.5, 1e12)));
}
void EngineCore::SetVolume(uint32_t volume) {
    std::lock_guard lock(mutex_);
    volume_ = volume;
}
