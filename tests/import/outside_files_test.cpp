#include "import/audio_source_format_reader.h"
#include "platform/decode/audio_file_probe.h"
#include "platform/decode/audio_file_reader.h"
#include "platform/decode/media_tag_reader.h"
#include "platform/output/audio_file_player.h"
#include "platform/audio_file_error.h"

#include "support/test_support.h"

#include <QFile>

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <future>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace tampod;

namespace {

// What call did on a thread of its own: "returned", the text of the typed error it threw, or
// "hung" when it did not end within the limit. A reader stuck on a FIFO is then freed by a
// writer that comes and goes, so a hang fails the test instead of blocking the run.
std::string outcomeOf(const QString &path, std::function<void()> call)
{
    auto outcome = std::make_shared<std::promise<std::string>>();
    std::future<std::string> ended = outcome->get_future();
    std::thread([call = std::move(call), outcome] {
        try {
            call();
            outcome->set_value("returned");
        } catch (const AudioFileError &error) {
            outcome->set_value("audio: " + error.message().toStdString());
        } catch (...) {
            outcome->set_value((errorIs<MalformedData>(std::current_exception()) ? "data: " : "other: ")
                               + errorText(std::current_exception()).toStdString());
        }
    }).detach();
    if (ended.wait_for(std::chrono::seconds(3)) == std::future_status::ready)
        return ended.get();
    if (const int writer = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC); writer >= 0)
        ::close(writer);
    return "hung";
}

void throwIf(bool described)
{
    if (described)
        throw MalformedData(QStringLiteral("described as audio"));
}

} // namespace

TEST(OutsideFiles, FifosFoldersAndDevicesAreRefusedAtOnceByEveryReader)
{
    test::TempDir dir;
    const QString notRegular = QStringLiteral("is not a regular file (a pipe, socket or device).");
    std::vector<std::pair<QString, QString>> items; // path, the refusal's text
    for (const char *extension : {"wav", "aif", "aiff", "aifc", "flac", "mp3", "m4a", "mp4", "mov", "caf", "sd2", "aac",
                                  "ac3", "eac3", "ogg", "opus", "wma", "ape", "au", "w64"}) {
        const QString name = QStringLiteral("pipe.") + QLatin1String(extension);
        ASSERT_EQ(::mkfifo(QFile::encodeName(dir.file(name)).constData(), 0600), 0);
        items.emplace_back(dir.file(name), QStringLiteral("“%1” ").arg(name) + notRegular);
    }
    ASSERT_EQ(::mkdir(QFile::encodeName(dir.file("folder.wav")).constData(), 0700), 0);
    items.emplace_back(dir.file("folder.wav"), QStringLiteral("“folder.wav” is a folder, not a file."));
    items.emplace_back(QStringLiteral("/dev/zero"), QStringLiteral("“zero” ") + notRegular);

    for (const auto &[path, refusal] : items) {
        SCOPED_TRACE(path.toStdString());
        const std::string opening = "audio: Opening the audio file failed: " + refusal.toStdString();
        EXPECT_EQ(outcomeOf(path, [path] { AudioFileReader reader(path); }), opening);
        EXPECT_EQ(outcomeOf(path, [path] { AudioFilePlayer player(path); }), opening);
        EXPECT_EQ(outcomeOf(path, [path] { MediaTagReader::read(path, {}); }), "data: " + refusal.toStdString());
        EXPECT_EQ(outcomeOf(path, [path] { throwIf(AudioFileProbe::probe(path).has_value()); }), "returned");
        EXPECT_EQ(outcomeOf(path, [path] { throwIf(AudioSourceFormatReader::read(QUrl::fromLocalFile(path)) != AudioSourceFormat()); }),
                  "returned");
    }
}
