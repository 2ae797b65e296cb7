#include "EngineTestKit.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/ClassRegistry.h"
#include "platform/service/TTSEnumerator.h"

namespace {
std::mutex& PacedMutex() {
    static std::mutex m;
    return m;
}
std::vector<RecordingDest*>& Paced() {
    static std::vector<RecordingDest*> dests;
    return dests;
}
void PlayPacedMarks() {
    std::lock_guard lock(PacedMutex());
    for (RecordingDest* d : Paced()) d->PlayOne();
}
}  // namespace

RecordingDest::RecordingDest(bool paced) : paced_(paced) {
    if (!paced_) return;
    std::lock_guard lock(PacedMutex());
    Paced().push_back(this);
}

RecordingDest::~RecordingDest() {
    if (!paced_) return;
    std::lock_guard lock(PacedMutex());
    std::erase(Paced(), this);
}

bool RecordingDest::PlayOne() {
    std::function<void()> call;
    {
        std::lock_guard lock(mutex_);
        if (paused_ || marks_.empty() || marks_.front().first >= frames_.size()) return false;
        call = std::move(marks_.front().second);
        heard_ = std::max(heard_, marks_.front().first);
        marks_.erase(marks_.begin());
    }
    call();
    return true;
}

HRESULT RecordingDest::Open(unsigned rate) {
    std::lock_guard lock(mutex_);
    ++opens_;
    if (openResult == S_OK) rate_ = rate;
    return openResult;
}
size_t RecordingDest::Room() {
    std::lock_guard lock(mutex_);
    const size_t belowCap = cap_ > frames_.size() ? cap_ - frames_.size() : 0;
    return std::min(room_, belowCap);
}
void RecordingDest::SetCap(size_t frames) {
    std::lock_guard lock(mutex_);
    cap_ = frames;
}
HRESULT RecordingDest::Write(const int16_t* frames, size_t count) {
    std::unique_lock lock(mutex_);
    if (!wroteAny_) firstWrite_ = std::chrono::steady_clock::now();
    wroteAny_ = true;
    frames_.insert(frames_.end(), frames, frames + count);
    RunDue(lock);
    return S_OK;
}
uint64_t RecordingDest::WrittenFrames() {
    std::lock_guard lock(mutex_);
    return frames_.size();
}
uint64_t RecordingDest::HeardFrames() {
    std::lock_guard lock(mutex_);
    return paced_ ? heard_ : frames_.size();
}
void RecordingDest::AddMark(uint64_t frame, std::function<void()> onHeard) {
    std::unique_lock lock(mutex_);
    // After the marks of the same frame that came before it.
    const auto at = std::find_if(marks_.begin(), marks_.end(),
                                 [frame](const auto& mark) { return mark.first > frame; });
    marks_.emplace(at, frame, std::move(onHeard));
    RunDue(lock);
}
void RecordingDest::RunDue(std::unique_lock<std::mutex>& lock) {
    while (!paced_ && !paused_ && !marks_.empty() && marks_.front().first < frames_.size()) {
        auto call = std::move(marks_.front().second);
        marks_.erase(marks_.begin());
        lock.unlock();
        call();
        lock.lock();
    }
}
void RecordingDest::EndOfData() {
    ++endsOfData;
}
void RecordingDest::SetFailureCallback(std::function<void(HRESULT, const std::string&)> onFailure) {
    std::lock_guard lock(mutex_);
    onFailure_ = std::move(onFailure);
}
void RecordingDest::Lose(const std::string& why) {
    std::unique_lock lock(mutex_);
    if (onFailure_) onFailure_(AUDERR_WRITEFAILED, why);
    auto marks = std::move(marks_);
    marks_.clear();
    lock.unlock();
    for (auto& mark : marks) mark.second();
}
HRESULT RecordingDest::Pause() {
    std::lock_guard lock(mutex_);
    paused_ = true;
    return S_OK;
}
HRESULT RecordingDest::Resume() {
    std::unique_lock lock(mutex_);
    paused_ = false;
    RunDue(lock);
    return S_OK;
}
HRESULT RecordingDest::Reset() {
    std::lock_guard lock(mutex_);
    marks_.clear();
    return S_OK;
}
void RecordingDest::SetRoomCallback(std::function<void()> onRoom) {
    std::lock_guard lock(mutex_);
    onRoom_ = std::move(onRoom);
}
void RecordingDest::SetRoom(size_t room) {
    std::function<void()> call;
    {
        std::lock_guard lock(mutex_);
        room_ = room;
        call = onRoom_;
    }
    if (call) call();
}
std::vector<int16_t> RecordingDest::Frames() {
    std::lock_guard lock(mutex_);
    return frames_;
}
unsigned RecordingDest::Rate() {
    std::lock_guard lock(mutex_);
    return rate_;
}
int RecordingDest::Opens() {
    std::lock_guard lock(mutex_);
    return opens_;
}
std::chrono::steady_clock::time_point RecordingDest::FirstWrite() {
    std::lock_guard lock(mutex_);
    return firstWrite_;
}

std::vector<uint32_t> EventLog::Words() const {
    std::vector<uint32_t> words;
    for (const auto& l : lines)
        if (l.rfind("word ", 0) == 0)
            words.push_back(static_cast<uint32_t>(std::stoul(l.substr(5))));
    return words;
}
int EventLog::Count(const std::string& line) const {
    return static_cast<int>(std::count(lines.begin(), lines.end(), line));
}

HRESULT RecordingNotifySink::AudioStart(QWORD) {
    log_->lines.push_back("start");
    return S_OK;
}
HRESULT RecordingNotifySink::AudioStop(QWORD) {
    log_->lines.push_back("stop");
    return S_OK;
}
HRESULT RecordingNotifySink::Visual(QWORD, char, char, DWORD, PTTSMOUTH mouth) {
    log_->lines.push_back(mouth ? "visual" : "visual-without-mouth");
    return S_OK;
}
HRESULT RecordingBufSink::TextDataDone(QWORD, DWORD) {
    log_->lines.push_back("textdone");
    return S_OK;
}
HRESULT RecordingBufSink::TextDataStarted(QWORD) {
    log_->lines.push_back("textstarted");
    return S_OK;
}
HRESULT RecordingBufSink::TextFailed(QWORD, HRESULT code, const char* description) {
    log_->lines.push_back("failed " + std::to_string(code) + " " + description);
    return S_OK;
}
HRESULT RecordingBufSink::WordPosition(QWORD, DWORD offset) {
    log_->lines.push_back("word " + std::to_string(offset));
    return S_OK;
}

void EnsureApartment() {
    static int argc = 1;
    static char name[] = "test_engines";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = new QCoreApplication(argc, argv);
    static bool bound = (CoInitialize(nullptr), TTSEnumerator::RegisterClass(), true);
    (void)app;
    (void)bound;
}

bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < timeoutMs) {
        PlayPacedMarks();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return done();
}

const VoiceMode* FindMode(const std::string& modeName) {
    for (const VoiceMode& m : AllVoiceModes())
        if (modeName == m.info.szModeName) return &m;
    return nullptr;
}

bool TestEngine::Select(const std::string& modeName, bool paced) {
    EnsureApartment();
    const VoiceMode* mode = modeName.empty() ? &AllVoiceModes().front() : FindMode(modeName);
    if (!mode) return false;
    ComPtr<ITTSEnumA> enumerator;
    if (FAILED(CoCreateInstance(CLSID_TTSEnumerator, nullptr, CLSCTX_ALL, IID_ITTSEnumA,
                                enumerator.PutVoid())))
        return false;
    dest = MakeCom<RecordingDest>(paced);
    if (FAILED(enumerator->Select(mode->info.gModeID, central.Put(),
                                  static_cast<IParlenAudioDest*>(dest.Get()))))
        return false;
    if (FAILED(central.As(attributes))) return false;
    notify = MakeCom<RecordingNotifySink>(&log);
    buf = MakeCom<RecordingBufSink>(&log);
    return SUCCEEDED(central->Register(notify.Get(), IID_ITTSNotifySinkA, &key));
}

HRESULT TestEngine::Speak(const std::string& text) {
    return central->TextData(CHARSET_TEXT, 0, text.c_str(), text.size() + 1,
                             static_cast<ITTSBufNotifySink*>(buf.Get()), IID_ITTSBufNotifySink);
}

bool TestEngine::WaitStops(int count, int timeoutMs) {
    return PumpUntil([&] { return log.Count("stop") >= count; }, timeoutMs);
}

std::vector<int16_t> RenderText(const std::string& modeName, const std::string& text,
                                const std::vector<std::string>& tags,
                                std::vector<uint32_t>* words) {
    TestEngine engine;
    if (!engine.Select(modeName)) return {};
    for (const auto& tag : tags) engine.central->Inject(tag.c_str());
    if (FAILED(engine.Speak(text)) || !engine.WaitStops(1)) return {};
    if (words) *words = engine.log.Words();
    return engine.dest->Frames();
}

namespace {
// A child started by FreshRender renders and leaves before the tests run.
bool RunRenderChild() {
    const char* mode = std::getenv("PARLEN_RENDER_MODE");
    const char* out = std::getenv("PARLEN_RENDER_OUT");
    if (!mode || !out) return false;
    const char* text = std::getenv("PARLEN_RENDER_TEXT");
    std::vector<std::string> tags;
    if (const char* tag = std::getenv("PARLEN_RENDER_TAG"); tag && *tag) tags.push_back(tag);
    AllVoiceModes();  // as in every other child: the catalogue first
    const auto frames = RenderText(mode, text ? text : "", tags);
    QFile file(out);
    if (!file.open(QIODevice::WriteOnly)) std::_Exit(2);
    file.write(reinterpret_cast<const char*>(frames.data()),
               static_cast<qint64>(frames.size() * sizeof(int16_t)));
    file.close();
    std::_Exit(frames.empty() ? 1 : 0);
}
const bool kRenderChild = RunRenderChild();
}  // namespace

std::vector<int16_t> FreshRender(const std::string& modeName, const std::string& text,
                                 const std::vector<std::string>& tags) {
    (void)kRenderChild;
    EnsureApartment();
    QTemporaryDir dir;
    const QString out = dir.filePath("render.raw");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("PARLEN_RENDER_MODE", QString::fromStdString(modeName));
    env.insert("PARLEN_RENDER_TEXT", QString::fromStdString(text));
    env.insert("PARLEN_RENDER_TAG", tags.empty() ? QString() : QString::fromStdString(tags[0]));
    env.insert("PARLEN_RENDER_OUT", out);
    QProcess child;
    child.setProcessEnvironment(env);
    child.start("/proc/self/exe", {});
    if (!child.waitForFinished(60000) || child.exitCode() != 0) return {};
    QFile file(out);
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray bytes = file.readAll();
    std::vector<int16_t> frames(static_cast<size_t>(bytes.size()) / sizeof(int16_t));
    std::memcpy(frames.data(), bytes.data(), frames.size() * sizeof(int16_t));
    return frames;
}

double Rms(const std::vector<int16_t>& frames) {
    if (frames.empty()) return 0;
    double sum = 0;
    for (int16_t s : frames) sum += static_cast<double>(s) * s;
    return std::sqrt(sum / static_cast<double>(frames.size()));
}

size_t VoicedLength(const std::vector<int16_t>& frames) {
    auto loud = [](int16_t s) { return std::abs(s) > 300; };
    auto first = std::find_if(frames.begin(), frames.end(), loud);
    auto last = std::find_if(frames.rbegin(), frames.rend(), loud);
    if (first == frames.end()) return 0;
    return static_cast<size_t>((frames.rend() - last) - (first - frames.begin()));
}

double PitchEstimate(const std::vector<int16_t>& frames, unsigned rate) {
    // Median over 40 ms windows of the autocorrelation peak between 60 and 500 Hz.
    const size_t window = rate / 25;
    const size_t minLag = rate / 500, maxLag = rate / 60;
    std::vector<double> estimates;
    for (size_t start = 0; start + window + maxLag < frames.size(); start += window) {
        double energy = 0;
        for (size_t i = 0; i < window; ++i) energy += double(frames[start + i]) * frames[start + i];
        if (energy / static_cast<double>(window) < 1000.0 * 1000.0) continue;  // unvoiced
        double best = 0;
        size_t bestLag = 0;
        for (size_t lag = minLag; lag <= maxLag; ++lag) {
            double c = 0;
            for (size_t i = 0; i < window; ++i)
                c += double(frames[start + i]) * frames[start + i + lag];
            if (c > best) best = c, bestLag = lag;
        }
        if (bestLag && best > 0.3 * energy) estimates.push_back(double(rate) / double(bestLag));
    }
    if (estimates.empty()) return 0;
    std::nth_element(estimates.begin(), estimates.begin() + estimates.size() / 2, estimates.end());
    return estimates[estimates.size() / 2];
}
