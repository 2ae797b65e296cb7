#pragma once
// What the tests on the real engines hear and get: WAV files read back with their
// chunk sizes checked, and a recording of the sound server's null sink.
#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QtGlobal>

// A WAV file whose chunk sizes agree with its length; dataBytes is -1 otherwise.
struct WavInfo {
    qint64 dataBytes = -1;
    int rate = 0;
    int blockAlign = 0;
    QByteArray data;  // the samples as stored
    double Seconds() const {
        return rate && blockAlign ? double(dataBytes) / rate / blockAlign : 0;
    }
    // Of 16-bit mono samples: their root mean square, and the median pitch of the
    // voiced 30 ms stretches (0 when none).
    double Rms() const;
    double MedianPitchHz() const;
};
WavInfo ReadWav(const QString& path);

// Records what reaches the null sink, as 16-bit mono samples at 22050 Hz, while it lives.
class Capture {
  public:
    Capture();
    ~Capture();
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

    // Samples recorded so far.
    qint64 Samples() const;
    // Peak of the samples [from, to) (to -1: all so far).
    int Peak(qint64 from = 0, qint64 to = -1) const;

  private:
    QString path_;
    QProcess process_;
};
