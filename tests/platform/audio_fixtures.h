#pragma once

#include "platform/decode/audio_file_reader.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace tampod::test {

// Runs a program to its end; fails the test (throws) when it cannot run or exits non-zero.
QString runTool(const QString &program, const QStringList &arguments);

// Makes a file of frames stereo frames at rate with the ffmpeg command line: a 440 Hz sine on
// the left, a quieter 660 Hz one on the right. extra: encoder and muxer options.
void makeTone(const QString &path, qint64 frames, const QStringList &extra, int rate = 44100,
              int channels = 2);

// Decodes all of a reader from its position as float interleaved, in blocks of block frames.
std::vector<float> readAllFloat(AudioFileReader &reader, qint64 block = 8192);

// The ffmpeg command line's own decode of path as interleaved float.
std::vector<float> ffmpegDecode(const QString &path);

} // namespace tampod::test
