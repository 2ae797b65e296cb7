#include "AudioCheck.h"

#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "AppTestSupport.h"

WavInfo ReadWav(const QString& path) {
    QFile f(path);
    WavInfo info;
    if (!f.open(QIODevice::ReadOnly)) return info;
    const QByteArray b = f.readAll();
    auto u32 = [&](qsizetype at) {
        return quint32(uchar(b[at])) | quint32(uchar(b[at + 1])) << 8 |
               quint32(uchar(b[at + 2])) << 16 | quint32(uchar(b[at + 3])) << 24;
    };
    if (b.size() < 44 || b.left(4) != "RIFF" || b.mid(8, 4) != "WAVE") return info;
    if (qint64(u32(4)) != b.size() - 8) return info;
    for (qsizetype at = 12; at + 8 <= b.size();) {
        const QByteArray id = b.mid(at, 4);
        const quint32 size = u32(at + 4);
        if (id == "fmt ") {
            info.rate = int(u32(at + 12));
            info.blockAlign = uchar(b[at + 20]) | uchar(b[at + 21]) << 8;
        } else if (id == "data") {
            if (qint64(at) + 8 + size != b.size()) return WavInfo{};
            info.dataBytes = size;
            info.data = b.mid(at + 8, size);
            return info;
        }
        at += 8 + size + (size & 1);
    }
    return WavInfo{};
}

namespace {
std::vector<double> Samples(const QByteArray& data) {
    std::vector<double> out(size_t(data.size() / 2));
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = qint16(uchar(data[qsizetype(2 * i)]) | uchar(data[qsizetype(2 * i + 1)]) << 8);
    return out;
}
}  // namespace

double WavInfo::Rms() const {
    const std::vector<double> x = Samples(data);
    double sum = 0;
    for (double v : x) sum += v * v;
    return x.empty() ? 0 : std::sqrt(sum / double(x.size()));
}

double WavInfo::MedianPitchHz() const {
    if (blockAlign != 2 || rate <= 0) return 0;
    const std::vector<double> x = Samples(data);
    const size_t frame = size_t(rate) * 3 / 100;
    const size_t minLag = size_t(rate) / 400, maxLag = size_t(rate) / 60;
    std::vector<double> pitches;
    for (size_t at = 0; at + frame + maxLag <= x.size(); at += frame) {
        const double* s = x.data() + at;
        double energy = 0;
        for (size_t i = 0; i < frame; ++i) energy += s[i] * s[i];
        if (energy < frame * 500.0 * 500.0) continue;  // a pause or a quiet consonant
        // The period is the lag at which the stretch best resembles itself.
        double best = 0;
        size_t bestLag = 0;
        for (size_t lag = minLag; lag < maxLag; ++lag) {
            double ab = 0, bb = 0;
            for (size_t i = 0; i < frame; ++i)
                ab += s[i] * s[i + lag], bb += s[i + lag] * s[i + lag];
            const double c = bb > 0 ? ab / std::sqrt(energy * bb) : 0;
            if (c > best) best = c, bestLag = lag;
        }
        if (best > 0.5) pitches.push_back(double(rate) / double(bestLag));
    }
    if (pitches.empty()) return 0;
    std::nth_element(pitches.begin(), pitches.begin() + pitches.size() / 2, pitches.end());
    return pitches[pitches.size() / 2];
}

Capture::Capture() {
    path_ = ScratchDir() + "/capture.raw";
    // A short latency, so that the file follows the sink closely.
    process_.start("parecord", {"--device=parlen_null.monitor", "--raw", "--format=s16le",
                                "--rate=22050", "--channels=1", "--latency-msec=20", path_});
    process_.waitForStarted(3000);
    QTest::qWait(200);
}

Capture::~Capture() {
    process_.terminate();
    process_.waitForFinished(2000);
}

qint64 Capture::Samples() const {
    return QFileInfo(path_).size() / 2;
}

int Capture::Peak(qint64 from, qint64 to) const {
    QFile f(path_);
    if (!f.open(QIODevice::ReadOnly)) return 0;
    const QByteArray b = f.readAll();
    const qsizetype end = to < 0 ? b.size() : std::min<qsizetype>(b.size(), to * 2);
    int peak = 0;
    for (qsizetype i = from * 2; i + 1 < end; i += 2)
        peak = std::max(peak, std::abs(int(qint16(uchar(b[i]) | uchar(b[i + 1]) << 8))));
    return peak;
}
