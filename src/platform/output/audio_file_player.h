#pragma once

#include <QString>

#include <exception>
#include <functional>
#include <memory>

namespace tampod {

class PcmSource;

// Plays one audio file through the shared AudioOutput. A decoder thread keeps a ring buffer
// filled ahead of the real-time output. Operations may come from any one thread at a time;
// the handlers are called in order on a non-real-time thread of their own, never inside an
// operation, and never after the player is destroyed.
class AudioFilePlayer {
public:
    // Opens the file; throws the reader's typed error when it cannot be decoded.
    explicit AudioFilePlayer(const QString &path);
    // Plays an already opened source (used by tests to feed faulty audio).
    explicit AudioFilePlayer(std::unique_ptr<PcmSource> source);
    ~AudioFilePlayer();
    AudioFilePlayer(const AudioFilePlayer &) = delete;
    AudioFilePlayer &operator=(const AudioFilePlayer &) = delete;

    // Decodes ahead so that play() starts at once; false when the audio cannot be read.
    bool prepareToPlay();
    // Starts or resumes; false when the audio or the device cannot be started. After the end
    // of the file it starts again from the beginning.
    bool play();
    void pause();
    // Stops and lets the decoded audio go; the position stays.
    void stop();

    // Seconds into the file, frame-accurate. Setting clamps to 0...duration and restarts a
    // finished playback's loop count.
    double currentTime() const;
    void setCurrentTime(double seconds);
    double duration() const;
    bool isPlaying() const;

    // 0 plays once, n repeats n more times, a negative count loops without end (gaplessly).
    // Changing it keeps the position.
    int numberOfLoops() const;
    void setNumberOfLoops(int loops);

    // Stored as given; playback applies it limited to 0...1, and NaN as silence.
    float volume() const;
    void setVolume(float volume);

    int numberOfChannels() const;

    // Takes the peaks rendered since the last update (before the volume) for peakPower.
    void updateMeters();
    // dBFS of the channel's last peak; minus infinity for silence or an unknown channel.
    float peakPower(int channel) const;

    // Called once when playback ends by itself: true at the end of the file, false after a
    // decoding error.
    void setFinishedHandler(std::function<void(bool successfully)> handler);
    // Called when the file fails to decode during playback; the audio decoded before the
    // error still plays, then the finished handler reports false.
    void setDecodeErrorHandler(std::function<void(std::exception_ptr error)> handler);

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace tampod
