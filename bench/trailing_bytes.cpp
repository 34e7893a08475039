// Bytes after the audio (tags, padding) against the same files without them, and seeks in files
// that follow one another or carry such bytes:
//
// - open and length of a sixty-minute FLAC file with an ID3v1 tag and with 2 KB of zeros after
//   its last frame, and of a LAME VBR MP3 file with a Lyrics3 and an ID3v1 tag and with 2 KB of
//   zeros after it, each against its clean twin, in this process (medians of alternating runs);
// - a seek to 90 % and one block of audio in a twenty-minute MP3 made of two files joined, a
//   chained Opus file of two links and an Opus file with an ID3v1 tag after it: our decoder as a
//   whole process (the decode_to_nowhere tool with a start and a duration) against
//   `ffmpeg -ss START -i FILE -t DURATION -f null -`, in pairs whose first side alternates;
// - one import of 500 short VBR MP3 files with ID3v1 or APE tags after their audio against the
//   same files without them, by the importer, in this process;
// - the bytes read by two opens of a 120-s FLAC file cut by 20,000 bytes (also with the largest
//   frame STREAMINFO states set to 16 MB), and by one seek in a 5-s FLAC file followed by a 1 MB
//   APE tag.
//
// Each open is a real one: the file's times are set anew before it, so that no length a reader
// of the same file learned before in this process is taken.
//
// The files are made once and kept in the temporary folder for later runs.
#include "process_race.h"

#include "core/file_handle.h"
#include "core/number_text.h"
#include "import/audio_importer.h"
#include "platform/decode/audio_file_reader.h"
#include "platform/decode/internal/length_cache.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

using namespace tampod;
using namespace tampod::bench;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int openPairs = 7;
constexpr int seekPairs = 7;
constexpr int importPairs = 9;
constexpr int importFiles = 500;
constexpr int block = int(AudioFileReader::defaultBlockFrames);

QByteArray id3v1()
{
    return "TAG" + QByteArray("Take one").leftJustified(125, '\0');
}

QByteArray lyrics3()
{
    const QByteArray fields = "IND00003010LYR00020[00:01]Take one, two";
    return "LYRICSBEGIN" + fields + QByteArray::number(fields.size() + 11).rightJustified(6, '0') + "LYRICS200";
}

// A title, or a picture of the bytes given.
QByteArray ape(const QByteArray &picture = {})
{
    const auto u32 = [](uint32_t v) { return QByteArray(reinterpret_cast<const char *>(&v), 4); };
    const QByteArray item = picture.isEmpty() ? u32(8) + u32(0) + QByteArray("Title", 6) + "Take one"
                                              : u32(uint32_t(picture.size())) + u32(2)
                                                    + QByteArray("Cover Art (Front)", 18) + picture;
    const auto frame = [&](uint32_t flags) {
        return "APETAGEX" + u32(2000) + u32(uint32_t(item.size() + 32)) + u32(1) + u32(flags) + QByteArray(8, '\0');
    };
    return frame(0xA0000000u) + item + frame(0x80000000u);
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Music-like content, a chord under pink noise, encoded by the ffmpeg command line; kept when
// it is there already.
bool encode(const QString &path, int seconds, int rate, const std::vector<std::string> &codec, double level = 1.0)
{
    if (QFileInfo(path).size() > 0)
        return true;
    const std::string timing = ":sample_rate=" + NumberText::whole(rate) + ":duration=" + NumberText::whole(seconds);
    const std::string a = fixed(0.3 * level, 3), b = fixed(0.2 * level, 3);
    std::vector<std::string> command{
        "ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
        "aevalsrc=" + a + "*sin(2*PI*220*t)+" + b + "*sin(2*PI*277*t)|" + a + "*sin(2*PI*330*t)+" + b
            + "*sin(2*PI*415*t)" + timing,
        "-f", "lavfi", "-i", "anoisesrc=c=pink:a=" + fixed(0.1 * level, 3) + timing, "-filter_complex",
        "[1]aformat=channel_layouts=stereo[n];[0][n]amix=inputs=2:normalize=0"};
    command.insert(command.end(), codec.begin(), codec.end());
    const QString partial = path + ".part";
    command.push_back(partial.toStdString());
    command.insert(command.end() - 1, {"-f", QFileInfo(path).suffix() == "opus" ? "ogg" : QFileInfo(path).suffix().toStdString()});
    return spawn(command).ok && QFile::rename(partial, path);
}

// A file made of the named ones' bytes and the extra bytes after them; kept when it is there.
bool join(const QString &path, const QStringList &parts, const QByteArray &after = {})
{
    if (QFileInfo(path).size() > 0)
        return true;
    QByteArray all;
    for (const QString &part : parts)
        all += readFile(part);
    return !all.isEmpty() && writeFile(path, all + after);
}

const std::vector<std::string> flac{"-c:a", "flac"};
const std::vector<std::string> vbrMp3{"-c:a", "libmp3lame", "-q:a", "2"};
const std::vector<std::string> opus{"-c:a", "libopus", "-b:a", "128k"};

// New times for the file: the readers of this process take it for a file they never read.
void touch(const QString &path)
{
    ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), nullptr, 0);
}

// Returns once the readers' length cache trusts what it learns of the file at path, as it does
// of a file opened long after it was written: its change time is past its file system's step.
void settle(const QString &path)
{
    const FileHandle file = FileHandle::openOutside(path);
    while (!LengthCache::shared().identityOf(file))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

double secondsOf(const std::function<void()> &work)
{
    const auto start = Clock::now();
    work();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The time a file takes to open and state its length over its clean twin's, medians of runs
// that alternate which goes first; fewer runs where the file is slow.
double openRatio(const QString &twin, const QString &path, int64_t &length, int64_t &twinLength)
{
    const auto open = [&](const QString &file) {
        touch(file);
        return secondsOf([&] {
            AudioFileReader reader(file);
            (file == path ? length : twinLength) = reader.length();
        });
    };
    open(twin);
    open(path); // both read once, so the page cache holds them
    std::vector<double> clean, changed;
    for (int pair = 0; pair < openPairs; ++pair) {
        if (pair % 2 == 0) {
            clean.push_back(open(twin));
            changed.push_back(open(path));
        } else {
            changed.push_back(open(path));
            clean.push_back(open(twin));
        }
        if (pair >= 2 && median(changed) > 1.0)
            break;
    }
    say("  " + QFileInfo(path).fileName().toStdString() + ": " + fixed(median(changed) * 1000, 1) + " ms, clean "
        + fixed(median(clean) * 1000, 1) + " ms, length " + NumberText::whole(length));
    return median(changed) / median(clean);
}

double importSeconds(const QString &folder, int &tracks)
{
    return secondsOf([&] {
        const AudioImportResult result = AudioImporter().load({QUrl::fromLocalFile(folder)}, {}, {}).wait();
        tracks = int(result.tracks.size());
    });
}

// Folders of importFiles short VBR MP3 files each, one with tags after the audio, one without:
// hard links to a few files of each kind.
bool makeImportSets(const QString &cache, const QString &clean, const QString &tagged)
{
    if (QDir(tagged).count() >= importFiles + 2)
        return true;
    QDir().mkpath(clean);
    QDir().mkpath(tagged);
    for (int seed = 0; seed < 10; ++seed) {
        const QString plain = cache + "/seed-" + NumberText::wholeQ(seed) + ".mp3";
        const QString withTags = cache + "/seed-" + NumberText::wholeQ(seed) + "-tagged.mp3";
        if (!encode(plain, 2 + seed % 4, 44100, vbrMp3, 0.5 + seed * 0.05)
            || !join(withTags, {plain}, seed % 2 ? id3v1() : ape() + id3v1()))
            return false;
    }
    for (int i = 0; i < importFiles; ++i) {
        const QString name = "/take-" + NumberText::wholeQ(i) + ".mp3";
        const QString seed = cache + "/seed-" + NumberText::wholeQ(i % 10);
        if ((!QFileInfo::exists(clean + name) && ::link(QFile::encodeName(seed + ".mp3").constData(),
                                                        QFile::encodeName(clean + name).constData()) != 0)
            || (!QFileInfo::exists(tagged + name) && ::link(QFile::encodeName(seed + "-tagged.mp3").constData(),
                                                            QFile::encodeName(tagged + name).constData()) != 0))
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString cache = QDir::tempPath() + "/tampod-bench-trailing-bytes";
    QDir().mkpath(cache);
    const auto file = [&cache](const char *name) { return cache + "/" + name; };
    say("making the files once, in " + cache.toStdString());
    const bool made =
        encode(file("hour.flac"), 3600, 44100, flac) && join(file("hour-id3v1.flac"), {file("hour.flac")}, id3v1())
        && join(file("hour-padded.flac"), {file("hour.flac")}, QByteArray(2048, '\0'))
        && encode(file("hour.mp3"), 3600, 44100, vbrMp3)
        && join(file("hour-lyrics3.mp3"), {file("hour.mp3")}, lyrics3() + id3v1())
        && join(file("hour-padded.mp3"), {file("hour.mp3")}, QByteArray(2048, '\0'))
        && encode(file("ten-a.mp3"), 600, 44100, vbrMp3) && encode(file("ten-b.mp3"), 600, 44100, vbrMp3, 0.5)
        && join(file("joined.mp3"), {file("ten-a.mp3"), file("ten-b.mp3")})
        && encode(file("ten-a.opus"), 600, 48000, opus)
        && encode(file("ten-b.opus"), 600, 48000, {"-c:a", "libopus", "-b:a", "128k", "-serial_offset", "7"}, 0.5)
        && join(file("chained.opus"), {file("ten-a.opus"), file("ten-b.opus")})
        && encode(file("twenty.opus"), 1200, 48000, opus)
        && join(file("twenty-id3v1.opus"), {file("twenty.opus")}, id3v1())
        && makeImportSets(cache, file("import-clean"), file("import-tagged"))
        && encode(file("two-minutes.flac"), 120, 44100, flac) && encode(file("five.flac"), 5, 44100, flac);
    if (!made) {
        say("could not make the files");
        return 1;
    }
    Conditions conditions;

    say("open and length, against the clean twin (in this process; medians of up to "
        + NumberText::whole(openPairs) + " alternating runs):");
    double openWorst = 0;
    int64_t length = 0, twinLength = 0;
    for (const auto &[twin, changed] : std::vector<std::pair<const char *, const char *>>{
             {"hour.flac", "hour-id3v1.flac"},
             {"hour.flac", "hour-padded.flac"},
             {"hour.mp3", "hour-lyrics3.mp3"},
             {"hour.mp3", "hour-padded.mp3"}}) {
        const double ratio = openRatio(file(twin), file(changed), length, twinLength);
        if (length != twinLength)
            say("  " + std::string(changed) + " states " + NumberText::whole(length) + " frames, its twin "
                + NumberText::whole(twinLength));
        openWorst = std::max(openWorst, ratio);
    }

    say("seek to 90 % and read one block, whole processes against ffmpeg -ss (medians of "
        + NumberText::whole(seekPairs) + " pairs):");
    double seekWorst = 0;
    bool failed = false;
    for (const auto &[name, rate] : std::vector<std::pair<const char *, int>>{
             {"joined.mp3", 44100}, {"chained.opus", 48000}, {"twenty-id3v1.opus", 48000}}) {
        const std::string path = file(name).toStdString();
        const std::string start = NumberText::whole(1200 * 9 / 10);
        const std::string duration = fixed(double(block) / rate, 6);
        std::string frames;
        const Race result = race(
            seekPairs,
            [&] {
                Run run = spawn({TAMPOD_DECODE_TOOL, path, start, duration}, true);
                frames = run.output.substr(0, run.output.find('\n'));
                return run;
            },
            [&] { return spawn({"ffmpeg", "-v", "fatal", "-ss", start, "-i", path, "-t", duration, "-f", "null", "-"}); });
        if (!result.ok || frames.empty() || frames == "0") {
            say("  " + std::string(name) + ": a run failed (" + frames + " frames of ours)");
            failed = true;
            continue;
        }
        const double ratio = median(result.ours) / median(result.peer);
        say("  " + std::string(name) + ": ours " + fixed(median(result.ours) * 1000, 1) + " ms, ffmpeg "
            + fixed(median(result.peer) * 1000, 1) + " ms, " + fixed(ratio, 2) + "x, " + frames + " frames");
        seekWorst = std::max(seekWorst, ratio);
    }

    say("import of " + NumberText::whole(importFiles) + " short VBR MP3 files with tags after the audio, against "
        "the same without (in this process; medians of " + NumberText::whole(importPairs) + " alternating runs):");
    std::vector<double> clean, tagged;
    int cleanTracks = 0, taggedTracks = 0;
    importSeconds(file("import-clean"), cleanTracks);
    importSeconds(file("import-tagged"), taggedTracks);
    for (int pair = 0; pair < importPairs; ++pair) {
        if (pair % 2 == 0) {
            clean.push_back(importSeconds(file("import-clean"), cleanTracks));
            tagged.push_back(importSeconds(file("import-tagged"), taggedTracks));
        } else {
            tagged.push_back(importSeconds(file("import-tagged"), taggedTracks));
            clean.push_back(importSeconds(file("import-clean"), cleanTracks));
        }
    }
    const double importRatio = median(tagged) / median(clean);
    say("  tagged " + fixed(median(tagged), 3) + " s (" + NumberText::whole(taggedTracks) + " records), clean "
        + fixed(median(clean), 3) + " s (" + NumberText::whole(cleanTracks) + " records)");

    say("bytes read, over the file's size (in this process, each file made new):");
    double cutWorst = 0;
    const QByteArray clean120 = readFile(file("two-minutes.flac"));
    QByteArray stated = clean120;
    stated[15] = stated[16] = stated[17] = '\xFF'; // the largest frame STREAMINFO states
    for (const auto &[name, bytes] : std::vector<std::pair<const char *, QByteArray>>{
             {"cut.flac", clean120.chopped(20000)}, {"cut-stated-16mb.flac", stated.chopped(20000)}}) {
        const QString path = file(name);
        writeFile(path, bytes);
        touch(path);
        settle(path);
        const double before = bytesRead();
        int64_t lengths[2] = {0, 0};
        for (int64_t &l : lengths)
            l = AudioFileReader(path).length();
        const double ratio = (bytesRead() - before) / double(bytes.size());
        say("  " + std::string(name) + ": two opens read " + fixed(ratio, 2) + "x the file, length "
            + NumberText::whole(lengths[0]) + (lengths[0] == lengths[1] ? "" : " then " + NumberText::whole(lengths[1])));
        cutWorst = std::max(cutWorst, ratio);
    }
    const QString apeTagged = file("five-ape.flac");
    writeFile(apeTagged, readFile(file("five.flac")) + ape(QByteArray(1 << 20, '\xA5')));
    touch(apeTagged);
    double seekBytes = 0;
    {
        AudioFileReader reader(apeTagged);
        const int64_t frames = reader.length();
        std::vector<float> samples(size_t(block * reader.channels()));
        const double before = bytesRead();
        reader.seek(frames / 2);
        reader.readFloatInterleaved(samples.data(), block);
        seekBytes = bytesRead() - before;
        say("  five-ape.flac: one seek to 50 % and one block read " + fixed(seekBytes / 1e6, 2) + " MB, the file "
            + fixed(double(QFileInfo(apeTagged).size()) / 1e6, 2) + " MB");
    }

    conditions.finish();
    say("(" + conditions.text() + ")");

    say(goal("trailing-bytes-open", openWorst, 2, "<= 1.2"));
    say(goal("seek-joined", seekWorst, 2, "<= 1.0"));
    say(goal("mp3-vbr-import", importRatio, 2, "<= 1.05"));
    say(goal("flac-cut-two-opens-reads", cutWorst, 2, "<= 1.3"));
    say(goal("flac-tagged-seek-megabytes", seekBytes / 1e6, 2, "<= 2"));
    return failed || taggedTracks != importFiles || cleanTracks != importFiles ? 1 : 0;
}
