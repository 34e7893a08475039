#include "platform/output/audio_file_player.h"
#include "platform/output/internal/port_audio_output.h"

#include "platform/output/null_audio_output.h"

#include "platform_fixtures.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <QFile>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <sstream>
#include <vector>

using namespace tampod;

namespace {

// Runs fn with the process's stderr going to a file; returns what was written there.
template <typename Fn>
std::string stderrOf(const QString &path, Fn fn)
{
    const int saved = dup(2);
    const int file = ::open(path.toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    dup2(file, 2);
    fn();
    dup2(saved, 2);
    ::close(saved);
    ::close(file);
    return test::readAll(path).toStdString();
}

// What was written to stderr, less what Berkeley DB says about its own files: JACK's client
// library keeps its metadata there (/dev/shm/jack_db-<uid>) without a handler for its messages,
// so a database left full by killed processes makes every start of PortAudio print a "BDB2034
// ... resize mutex region" line that no program can silence. The test is about what the program
// lets through, not the state of the machine's shared files.
std::string ownWords(const std::string &written)
{
    // "BDB", four digits, a space: Berkeley DB's own numbered messages.
    const auto databaseLine = [](const std::string &line) {
        return line.size() > 8 && line.compare(0, 3, "BDB") == 0 && line[7] == ' '
               && std::all_of(line.begin() + 3, line.begin() + 7, [](char c) { return c >= '0' && c <= '9'; });
    };
    std::string kept;
    std::istringstream lines(written);
    for (std::string line; std::getline(lines, line);)
        if (!databaseLine(line))
            kept += line + '\n';
    return kept;
}

// Points ALSA at a configuration whose default device is the given one. ALSA reads its
// configuration again whenever the variable changes, so it stays set for the whole test.
bool useAlsaDefault(const test::TempDir &dir, const QByteArray &device)
{
    if (!QFile::exists(QStringLiteral("/usr/share/alsa/alsa.conf")))
        return false;
    const auto config = dir.file("asound.conf");
    test::writeFile(config, "</usr/share/alsa/alsa.conf>\npcm.!default { " + device + " }\n");
    qputenv("ALSA_CONFIG_PATH", config.toLocal8Bit());
    return true;
}

// The environment's entries as they stand: a change made by setenv, even to the same value,
// replaces an entry or the array.
std::vector<const char *> environmentEntries()
{
    std::vector<const char *> entries{reinterpret_cast<const char *>(environ)};
    for (char **entry = environ; *entry; ++entry)
        entries.push_back(*entry);
    return entries;
}

// PortAudio's default device as the program probes for it, for a test's lifetime: the test
// processes otherwise find the null output.
class PortAudioProbe {
public:
    PortAudioProbe() { AudioOutput::setProbe(nullptr); }
    ~PortAudioProbe()
    {
        AudioOutput::setProbe([] { return std::make_shared<NullAudioOutput>(); });
    }
};

} // namespace

// Another thread may read the environment at any time while the device is probed (Qt does,
// as the window is built), so the probe must never write it.
TEST(PortAudioOutput, ProbingLeavesTheEnvironmentAlone)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    test::TempDir dir;
    EXPECT_EXIT(
        {
            useAlsaDefault(dir, "type null");
            const auto before = environmentEntries();
            PortAudioProbe probe;
            const auto output = AudioOutput::shared();
            std::_Exit(output && environmentEntries() == before ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(PortAudioOutput, WithoutADeviceTheNullOutputIsChosenSilently)
{
    test::TempDir dir;
    if (!useAlsaDefault(dir, "type hw card 99"))
        GTEST_SKIP() << "no ALSA configuration";
    PortAudioProbe probe;
    std::shared_ptr<AudioOutput> output;
    // ALSA and JACK would print a dozen lines here.
    EXPECT_EQ(ownWords(stderrOf(dir.file("probe.txt"), [&] { output = AudioOutput::shared(); })), "");
    qunsetenv("ALSA_CONFIG_PATH");
    if (!std::dynamic_pointer_cast<NullAudioOutput>(output))
        GTEST_SKIP() << "a sound server offers a device: " << output->deviceName().toStdString();
}

TEST(PortAudioOutput, PlaysThroughADevice)
{
    test::TempDir dir;
    // ALSA's null plugin: a device that takes audio without a sound card.
    if (!useAlsaDefault(dir, "type null"))
        GTEST_SKIP() << "no ALSA configuration";
    // Opened by the program's probe, so that an audio library that blocks for good ends the test
    // within the probe's bound.
    PortAudioProbe probe;
    std::shared_ptr<PortAudioOutput> device;
    const auto said = stderrOf(dir.file("open.txt"),
                               [&] { device = std::dynamic_pointer_cast<PortAudioOutput>(AudioOutput::shared()); });
    if (!AudioOutput::probeSettled(std::chrono::milliseconds(0)))
        GTEST_SKIP() << "the audio library did not answer within " << AudioOutput::probeBound.count() << " ms";
    ASSERT_TRUE(device);
    EXPECT_EQ(ownWords(said), "");
    EXPECT_EQ(device->channels(), 2);

    AudioOutput::setShared(device);
    const auto path = dir.file("tone.wav");
    test::writeFloatWav(path, 2, 44100, test::sine(22050, 2, 44100, 440, 0.5));
    std::atomic<int> finished{0};
    {
        AudioFilePlayer player(path);
        player.setFinishedHandler([&](bool ok) { finished += ok ? 1 : 100; });
        ASSERT_TRUE(player.play());
        EXPECT_TRUE(test::pumpUntil([&] { return finished > 0; }));
        EXPECT_DOUBLE_EQ(player.currentTime(), 0.5);
        // Played again after its end, the stream starts anew.
        ASSERT_TRUE(player.play());
        EXPECT_TRUE(test::pumpUntil([&] { return finished > 1; }));
    }
    EXPECT_EQ(finished, 2);
    AudioOutput::setShared(nullptr);
    device.reset();
    qunsetenv("ALSA_CONFIG_PATH");
}
