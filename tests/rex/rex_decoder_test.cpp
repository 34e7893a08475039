#include "rex/rex_decoder.h"
#include "rex/rex_library.h"

#include "library/rex_error.h"
#include "platform/decode/audio_file_reader.h"
#include "rex/scripted_rex_fixture.h"
#include "support/run_program.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QtEndian>

#include <cmath>

using namespace tampod;
using namespace tampod::test;
using scripted_rex::Script;
using scripted_rex::Step;

namespace {

// A two-bar 4/4 loop at 120 BPM and 44,100 Hz: 176,400 frames.
Script twoBars(int channels = 2)
{
    return scripted_rex::loop(channels, 44100, 120000, 122880);
}

std::exception_ptr caught(const std::function<void()> &run)
{
    try {
        run();
    } catch (...) {
        return std::current_exception();
    }
    return nullptr;
}

// The chunk types of a CAF file, in order.
QStringList cafChunks(const QByteArray &file)
{
    QStringList types;
    for (qsizetype at = 8; at + 12 <= file.size();) {
        types << QString::fromLatin1(file.mid(at, 4));
        const qint64 size = qFromBigEndian<qint64>(file.constData() + at + 4);
        if (size < 0)
            break;
        at += 12 + size;
    }
    return types;
}

class REXDecoder_ : public ::testing::Test {
protected:
    QString source(const Script &script, const QString &name = QStringLiteral("Loop.rx2"))
    {
        return ScriptedREX::write(dir.file(name), script);
    }
    REXAudioPointer prepare(const QString &path, const CancellationToken &token = {})
    {
        return decoder.prepare(QUrl::fromLocalFile(path), token).wait();
    }
    std::exception_ptr failure(const QString &path, const CancellationToken &token = {})
    {
        return caught([&] { prepare(path, token); });
    }
    QStringList jobs() const
    {
        return QDir(store.session().toLocalFile() + "/jobs").entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    }
    // Whatever the outcome, the job left no folder, no open handle and no initialised library.
    void expectNothingLeft() const
    {
        EXPECT_TRUE(jobs().isEmpty()) << jobs().join(' ').toStdString();
        EXPECT_EQ(library.observed().created, library.observed().deleted);
        EXPECT_EQ(library.observed().initialized, library.observed().uninitialized);
    }

    TempDir dir;
    TemporaryAudioStore store{QUrl::fromLocalFile(dir.file(QStringLiteral("store")))};
    ScriptedREX library;
    REXDecoder decoder{scriptedREXPath, [this]() -> TemporaryAudioStore & { return store; }};
};

} // namespace

TEST_F(REXDecoder_, RendersTheWholeLoopIntoAVerifiedFloatCopyThatGoesWithItsHolder)
{
    auto audio = prepare(source(twoBars()));
    const QString copy = audio->url().toLocalFile();
    EXPECT_EQ(QFileInfo(copy).fileName(), "REX-loop.caf");
    EXPECT_EQ(QDir(QFileInfo(copy).path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList{"REX-loop.caf"});
    EXPECT_EQ(audio->info(), REXInfo::fromWords({2, 44100, 8, 120000, 120000, 122880, 0, 0, 16}));
    EXPECT_EQ(audio->info().frames(), 176400);

    // Rendered once, at its own rate and original tempo, and every library object let go in order.
    const auto &seen = library.observed();
    EXPECT_EQ(seen.outputRate, 44100);
    EXPECT_EQ(seen.previewTempo, 120000);
    EXPECT_EQ(seen.batches, 22); // 21 × 8,192 + 4,368
    EXPECT_EQ(seen.batchFrames[21], 176400 - 21 * 8192);
    EXPECT_EQ(library.calls().section(' ', 0, 6), "Initialize GetInfoFromBuffer Create GetInfo SetOutputSampleRate "
                                                  "SetPreviewTempo StartPreview");
    EXPECT_TRUE(library.calls().endsWith("Render StopPreview Delete Uninitialize"));
    EXPECT_EQ(std::vector<int>(seen.progressAnswers, seen.progressAnswers + 3), (std::vector<int>{2, 2, 2}));

    // The samples are the library's, frame for frame and channel for channel.
    AudioFileReader reader(copy);
    EXPECT_EQ(reader.length(), 176400);
    std::vector<float> frames(176400 * 2);
    ASSERT_EQ(reader.readFloatInterleaved(frames.data(), 176400), 176400);
    for (std::int64_t frame : {0, 8191, 8192, 100000, 176399})
        for (int channel : {0, 1})
            EXPECT_EQ(frames[size_t(frame * 2 + channel)], scripted_rex::sample(frame, channel)) << frame;

    // Only a description and the data: no peak or channel layout chunk.
    const QByteArray file = readAll(copy);
    EXPECT_EQ(file.left(4), "caff");
    EXPECT_FALSE(cafChunks(file).contains("peak") || cafChunks(file).contains("chan")) << cafChunks(file).join(' ').toStdString();
    const QString info = QString::fromUtf8(runChecked("sndfile-info", {copy}));
    // Flags 3: float, little-endian; the format word is CAF | float | little-endian.
    for (const char *line : {"Format flags : 3", "Bits / channel   : 32", "Sample Rate : 44100",
                             "Frames      : 176400", "Channels    : 2", "Format      : 0x10180006"})
        EXPECT_TRUE(info.contains(QLatin1String(line))) << line << "\n" << info.toStdString();
    EXPECT_EQ(runChecked("ffprobe", {"-v", "error", "-show_entries", "stream=codec_name,sample_rate,channels", "-of",
                                     "default=nw=1", copy}),
              "codec_name=pcm_f32le\nsample_rate=44100\nchannels=2");

    audio.reset();
    EXPECT_TRUE(jobs().isEmpty());
    expectNothingLeft();
}

TEST_F(REXDecoder_, AMonoLoopOf20000FramesGoesInThreeBatches)
{
    const auto audio = prepare(source(scripted_rex::loop(1, 48000, 120000, 12800)));
    EXPECT_EQ(audio->info().frames(), 20000);
    EXPECT_EQ(std::vector<int>(library.observed().batchFrames, library.observed().batchFrames + 3),
              (std::vector<int>{8192, 8192, 3616}));
    EXPECT_EQ(library.observed().batches, 3);
    AudioFileReader reader(audio->url().toLocalFile());
    EXPECT_EQ(reader.channels(), 1);
    EXPECT_EQ(reader.length(), 20000);
    EXPECT_EQ(reader.fileSampleRate(), 48000);
    EXPECT_EQ(runChecked("ffprobe", {"-v", "error", "-show_entries", "stream=codec_name,sample_rate,channels", "-of",
                                     "default=nw=1", audio->url().toLocalFile()}),
              "codec_name=pcm_f32le\nsample_rate=48000\nchannels=1");
}

TEST_F(REXDecoder_, EveryFailureHasItsTextAndLeavesNothing)
{
    const auto failing = [](Step step, int code, int batch = 0) {
        Script script = twoBars();
        script.failStep = std::int32_t(step);
        script.failCode = code;
        script.failBatch = batch;
        return script;
    };
    Script disagreeing = twoBars(), threeChannels = twoBars(), nullHandle = twoBars(), infinite = twoBars(),
           notANumber = twoBars(1);
    disagreeing.handleInfo[5] = 61440;
    threeChannels.bufferInfo[0] = threeChannels.handleInfo[0] = 3;
    nullHandle.nullHandle = 1;
    infinite.nonFiniteFrame = 100001;
    notANumber.nonFiniteFrame = 8192;

    const QString damaged = "This REX file is damaged or is not a supported REX encoding.";
    const QString verification = "The REX listening copy could not be verified. The original is unchanged.";
    const QString limits = QString::fromUtf8("This REX file exceeds the supported limits: 32 MB input, 256 MB "
                                             "decoded audio, 8–192 kHz and original tempo 20–450 BPM.");
    const struct {
        Script script;
        QString text;
    } cases[] = {
        {failing(Step::getInfoFromBuffer, 106), damaged},
        {failing(Step::create, 107), "This REX file needs a newer decoder."},
        {failing(Step::getInfo, 108), "This REX file has no loop length. Set its loop length in ReCycle and save a copy."},
        {failing(Step::setOutputSampleRate, 105),
         "The REX decoder could not prepare this file (code 105). The original is unchanged."},
        {failing(Step::setPreviewTempo, -3),
         "The REX decoder could not prepare this file (code -3). The original is unchanged."},
        {failing(Step::startPreview, 0),
         "The REX decoder could not prepare this file (code 0). The original is unchanged."},
        {failing(Step::renderPreviewBatch, 104, 3),
         "The REX decoder could not prepare this file (code 104). The original is unchanged."},
        {threeChannels, limits},
        {disagreeing, verification},
        {nullHandle, verification},
        {infinite, verification},
        {notANumber, verification},
    };
    for (const auto &[script, text] : cases) {
        SCOPED_TRACE(text.toStdString());
        library.reset();
        const auto error = failure(source(script));
        EXPECT_EQ(errorText(error), text);
        expectNothingLeft();
    }
    // Bytes that are no loop at all, an empty file and one byte over the input limit.
    writeFile(dir.file("text.rex"), QByteArray(200, 'x'));
    EXPECT_EQ(errorText(failure(dir.file("text.rex"))), damaged);
    writeFile(dir.file("empty.rx2"), {});
    EXPECT_EQ(errorText(failure(dir.file("empty.rx2"))), limits);
    ScriptedREX::write(dir.file("big.rx2"), twoBars(), REXDecoder::maximumSourceBytes + 1 - sizeof(Script));
    library.reset();
    EXPECT_EQ(errorText(failure(dir.file("big.rx2"))), limits);
    EXPECT_TRUE(library.calls().isEmpty()); // refused before the library is loaded
    expectNothingLeft();
}

TEST_F(REXDecoder_, ExactlyTheInputLimitIsRead)
{
    // The shortest loop there is: one tick at 20 BPM and 192 kHz, 37.5 frames rounded up.
    const QString path = ScriptedREX::write(dir.file("full.rcy"), scripted_rex::loop(1, 192000, 20000, 1),
                                            REXDecoder::maximumSourceBytes - sizeof(Script));
    EXPECT_EQ(prepare(path)->info().frames(), 38);
}

TEST_F(REXDecoder_, AMissingLibraryOrEntryPointIsUnavailableAndNeverMakesAFolder)
{
    const QString unavailable =
        "The bundled REX decoder could not be loaded. Reopen a correctly signed, updated copy of tamPOD.";
    const QString path = source(twoBars());
    for (const QString &libraryPath : {QString(), dir.file("missing/REX Shared Library"), QString("libm.so.6"),
                                       scriptedREXWithoutRenderPath}) {
        SCOPED_TRACE(libraryPath.toStdString());
        library.reset();
        REXDecoder other(libraryPath, [this]() -> TemporaryAudioStore & { return store; });
        EXPECT_EQ(errorText(caught([&] { other.prepare(QUrl::fromLocalFile(path), {}).wait(); })), unavailable);
        expectNothingLeft();
    }
    EXPECT_TRUE(REXLibrary::bundledPath().endsWith("/../lib/tampod/REX Shared Library.framework/REX Shared Library"));
}

TEST_F(REXDecoder_, AFailedInitialisationIsNeverUndone)
{
    library.setInitializeResult(105);
    EXPECT_EQ(errorText(failure(source(twoBars()))),
              "The REX decoder could not prepare this file (code 105). The original is unchanged.");
    EXPECT_EQ(library.calls(), "Initialize");
    library.reset();
    library.setInitializeResult(2);
    EXPECT_TRUE(errorIs<Cancelled>(failure(source(twoBars()))));
    EXPECT_EQ(library.calls(), "Initialize");
}

TEST_F(REXDecoder_, ResultTwoAndTheJobsCancellationEndTheJobWithoutAMessage)
{
    for (Step step : {Step::getInfoFromBuffer, Step::create, Step::getInfo, Step::startPreview, Step::renderPreviewBatch}) {
        library.reset();
        Script script = twoBars();
        script.failStep = std::int32_t(step);
        script.failCode = 2;
        EXPECT_TRUE(errorIs<Cancelled>(failure(source(script)))) << int(step);
        expectNothingLeft();
    }

    // Cancelled before it starts: the library is not even loaded.
    CancellationSource before;
    before.cancel();
    library.reset();
    EXPECT_TRUE(errorIs<Cancelled>(failure(source(twoBars()), before.token())));
    EXPECT_TRUE(library.calls().isEmpty());

    // While the library reads the loop: its progress callback asks it to stop.
    CancellationSource reading;
    library.reset();
    library.setHook([&](const QString &call, int) {
        if (call == "Create")
            reading.cancel();
    });
    EXPECT_TRUE(errorIs<Cancelled>(failure(source(twoBars()), reading.token())));
    EXPECT_EQ(library.observed().progressAnswers[0], 1);
    expectNothingLeft();

    // While it renders: the current batch ends, then the job.
    CancellationSource rendering;
    library.reset();
    library.setHook([&](const QString &call, int batch) {
        if (call == "Render" && batch == 1)
            rendering.cancel();
    });
    EXPECT_TRUE(errorIs<Cancelled>(failure(source(twoBars()), rendering.token())));
    EXPECT_EQ(library.observed().batches, 2);
    EXPECT_TRUE(library.calls().endsWith("Render Render StopPreview Delete Uninitialize"));
    expectNothingLeft();
}

TEST_F(REXDecoder_, ASourceThatChangesOrIsNoPlainFileIsChanged)
{
    const QString changed = "The REX source changed while loading. Reopen the file and try again.";
    const QString path = source(twoBars());
    library.setHook([&](const QString &call, int batch) {
        if (call == "Render" && batch == 5) {
            QFile grow(path);
            ASSERT_TRUE(grow.open(QIODevice::Append) && grow.write("more") == 4);
        }
    });
    EXPECT_EQ(errorText(failure(path)), changed);
    expectNothingLeft();

    library.reset();
    ASSERT_TRUE(QFile::link(source(twoBars(), "Real.rx2"), dir.file("Link.rx2")));
    EXPECT_EQ(errorText(failure(dir.file("Link.rx2"))), changed);
    EXPECT_TRUE(library.calls().isEmpty());
}

TEST_F(REXDecoder_, AnUnusableStoreFailsWithItsOwnErrorAfterTheLibraryWasClosed)
{
    REXDecoder noStore(scriptedREXPath, []() -> TemporaryAudioStore & { throw SystemError(EACCES, "store"); });
    const auto error = caught([&] { noStore.prepare(QUrl::fromLocalFile(source(twoBars())), {}).wait(); });
    EXPECT_TRUE(errorIs<SystemError>(error));
    EXPECT_EQ(library.calls(), "Initialize GetInfoFromBuffer Create GetInfo SetOutputSampleRate SetPreviewTempo "
                               "StartPreview StopPreview Delete Uninitialize");
    expectNothingLeft();
}
