#include "rex/rex_decoder.h"
#include "rex/rex_library.h"

#include "library/rex_error.h"
#include "platform/decode/audio_file_reader.h"
#include "rex/scripted_rex_fixture.h"
#include "support/run_program.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QtEndian>

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

Script failing(Step step, int code, int batch = 0)
{
    Script script = twoBars();
    script.failStep = std::int32_t(step);
    script.failCode = code;
    script.failBatch = batch;
    return script;
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
    REXAudioPointer prepare(const QString &path, const CancellationToken &token = {}, REXDecoder *other = nullptr)
    {
        return (other ? *other : decoder).prepare(QUrl::fromLocalFile(path), token).wait();
    }
    // The error a preparation ends with; whatever it is, no folder, handle or initialised
    // library is left behind.
    std::exception_ptr failure(const QString &path, const CancellationToken &token = {}, REXDecoder *other = nullptr)
    {
        std::exception_ptr error;
        try {
            prepare(path, token, other);
        } catch (...) {
            error = std::current_exception();
        }
        EXPECT_TRUE(jobs().isEmpty()) << jobs().join(' ').toStdString();
        EXPECT_EQ(library.observed().created, library.observed().deleted);
        EXPECT_EQ(library.observed().initialized, library.observed().uninitialized);
        return error;
    }
    QStringList jobs() const
    {
        return QDir(store.session().toLocalFile() + "/jobs").entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    }

    TempDir dir;
    TemporaryAudioStore store{QUrl::fromLocalFile(dir.file(QStringLiteral("store")))};
    ScriptedREX library;
    REXDecoder decoder{scriptedREXPath, [this]() -> TemporaryAudioStore & { return store; }};
};

} // namespace

TEST_F(REXDecoder_, RendersTheWholeLoopIntoAVerifiedFloatCopyThatGoesWithItsHolder)
{
    const struct {
        Script script;
        std::int64_t frames;
        std::vector<int> batches;
    } loops[] = {
        {twoBars(), 176400, {8192, 8192}},
        {scripted_rex::loop(1, 48000, 120000, 12800), 20000, {8192, 8192, 3616}},
    };
    for (const auto &loop : loops) {
        library.reset();
        auto audio = prepare(source(loop.script));
        const REXInfo &info = audio->info();
        const QString copy = audio->url().toLocalFile();
        SCOPED_TRACE(info.channels);
        EXPECT_EQ(info, REXInfo::fromWords(std::vector<std::int32_t>(loop.script.bufferInfo, loop.script.bufferInfo + 9)));
        EXPECT_EQ(info.frames(), loop.frames);
        EXPECT_EQ(QDir(QFileInfo(copy).path()).entryList(QDir::Files), QStringList{"REX-loop.caf"});

        // Rendered once, at its own rate and original tempo, in batches of at most 8,192
        // frames, and every library object let go in order.
        const auto &seen = library.observed();
        EXPECT_EQ(std::vector<int>(seen.batchFrames, seen.batchFrames + loop.batches.size()), loop.batches);
        EXPECT_EQ(seen.batches, (loop.frames + 8191) / 8192);
        EXPECT_EQ(seen.outputRate, info.sampleRate);
        EXPECT_EQ(seen.previewTempo, 120000);
        EXPECT_TRUE(library.calls().startsWith("Initialize GetInfoFromBuffer Create GetInfo SetOutputSampleRate "
                                               "SetPreviewTempo StartPreview Render"));
        EXPECT_TRUE(library.calls().endsWith("Render StopPreview Delete Uninitialize"));
        EXPECT_EQ(std::vector<int>(seen.progressAnswers, seen.progressAnswers + 3), (std::vector<int>{2, 2, 2}));

        // The samples are the library's, frame for frame and channel for channel.
        AudioFileReader reader(copy);
        std::vector<float> frames(std::size_t(loop.frames * info.channels));
        ASSERT_EQ(reader.readFloatInterleaved(frames.data(), loop.frames), loop.frames);
        for (std::int64_t frame : {std::int64_t(0), std::int64_t(8191), std::int64_t(8192), loop.frames - 1})
            for (int channel = 0; channel < info.channels; ++channel)
                EXPECT_EQ(frames[std::size_t(frame * info.channels + channel)], scripted_rex::sample(frame, channel));

        // 32-bit little-endian float, as two other readers see it; no peak or layout chunk.
        const QString rate = QString::number(info.sampleRate), channels = QString::number(info.channels);
        const QStringList chunks = cafChunks(readAll(copy));
        EXPECT_TRUE(chunks.startsWith("desc") && chunks.endsWith("data") && !chunks.contains("peak")
                    && !chunks.contains("chan")) << chunks.join(' ').toStdString();
        const QString described = QString::fromUtf8(runChecked("sndfile-info", {copy}));
        for (const QString &line : {QString("Format flags : 3"), QString("Bits / channel   : 32"),
                                    "Sample Rate : " + rate, "Frames      : " + QString::number(loop.frames),
                                    "Channels    : " + channels, QString("Format      : 0x10180006")})
            EXPECT_TRUE(described.contains(line)) << line.toStdString() << "\n" << described.toStdString();
        EXPECT_EQ(runChecked("ffprobe", {"-v", "error", "-show_entries", "stream=codec_name,sample_rate,channels",
                                         "-of", "default=nw=1", copy}),
                  ("codec_name=pcm_f32le\nsample_rate=" + rate + "\nchannels=" + channels).toUtf8());

        audio.reset();
        EXPECT_TRUE(jobs().isEmpty());
    }
}

TEST_F(REXDecoder_, EveryFailureHasItsText)
{
    Script disagreeing = twoBars(), threeChannels = twoBars(), nullHandle = twoBars(), infinite = twoBars(),
           notANumber = twoBars(1);
    disagreeing.handleInfo[5] = 61440;
    threeChannels.bufferInfo[0] = threeChannels.handleInfo[0] = 3;
    nullHandle.nullHandle = 1;
    infinite.nonFiniteFrame = 100001;
    notANumber.nonFiniteFrame = 8192;
    const QString verification = REXError::verification().message(), limits = REXError::limits().message();
    const struct {
        Script script;
        QString text;
    } cases[] = {
        {failing(Step::getInfoFromBuffer, 106), "This REX file is damaged or is not a supported REX encoding."},
        {failing(Step::create, 107), "This REX file needs a newer decoder."},
        {failing(Step::getInfo, 108), "This REX file has no loop length. Set its loop length in ReCycle and save a copy."},
        {failing(Step::setOutputSampleRate, 105),
         "The REX decoder could not prepare this file (code 105). The original is unchanged."},
        {failing(Step::setPreviewTempo, -3), REXError::sdk(-3).message()},
        {failing(Step::startPreview, 0), REXError::sdk(0).message()},
        {failing(Step::renderPreviewBatch, 104, 3), REXError::sdk(104).message()},
        {threeChannels, limits},
        {disagreeing, verification},
        {nullHandle, verification},
        {infinite, verification},
        {notANumber, verification},
    };
    for (const auto &[script, text] : cases) {
        SCOPED_TRACE(text.toStdString());
        library.reset();
        EXPECT_EQ(errorText(failure(source(script))), text);
    }
    // Bytes that are no loop at all; an empty file and one byte over the input limit are
    // refused before the library is loaded; exactly the limit is read.
    writeFile(dir.file("text.rex"), QByteArray(200, 'x'));
    EXPECT_EQ(errorText(failure(dir.file("text.rex"))), REXError::sdk(106).message());
    library.reset();
    writeFile(dir.file("empty.rx2"), {});
    EXPECT_EQ(errorText(failure(dir.file("empty.rx2"))), limits);
    ScriptedREX::write(dir.file("big.rx2"), twoBars(), REXDecoder::maximumSourceBytes + 1 - sizeof(Script));
    EXPECT_EQ(errorText(failure(dir.file("big.rx2"))), limits);
    EXPECT_TRUE(library.calls().isEmpty());
    // The shortest loop there is: one tick at 20 BPM and 192 kHz, 37.5 frames rounded up.
    const QString full = ScriptedREX::write(dir.file("full.rcy"), scripted_rex::loop(1, 192000, 20000, 1),
                                            REXDecoder::maximumSourceBytes - sizeof(Script));
    EXPECT_EQ(prepare(full)->info().frames(), 38);
}

TEST_F(REXDecoder_, AMissingLibraryOrEntryPointIsUnavailableAndAFailedStartIsNeverUndone)
{
    const QString path = source(twoBars());
    for (const QString &libraryPath : {QString(), dir.file("missing/REX Shared Library"), QString("libm.so.6"),
                                       scriptedREXWithoutRenderPath}) {
        SCOPED_TRACE(libraryPath.toStdString());
        library.reset();
        REXDecoder other(libraryPath, [this]() -> TemporaryAudioStore & { return store; });
        EXPECT_EQ(errorText(failure(path, {}, &other)), REXError::unavailable().message());
    }
    // The one place looked in, which the refusal names.
    EXPECT_EQ(REXLibrary::installedPath(), QCoreApplication::applicationDirPath() + "/../lib/tampod/librex.so");
    EXPECT_TRUE(REXError::unavailable().message().contains(QLatin1StringView(REXLibrary::location)));

    library.reset();
    library.setInitializeResult(105);
    EXPECT_EQ(errorText(failure(path)), REXError::sdk(105).message());
    EXPECT_EQ(library.calls(), "Initialize");
}

TEST_F(REXDecoder_, ResultTwoAndTheJobsCancellationEndTheJobWithoutAMessage)
{
    for (Step step : {Step::getInfoFromBuffer, Step::create, Step::getInfo, Step::startPreview, Step::renderPreviewBatch}) {
        library.reset();
        EXPECT_TRUE(errorIs<Cancelled>(failure(source(failing(step, 2))))) << int(step);
    }
    library.reset();
    library.setInitializeResult(2);
    EXPECT_TRUE(errorIs<Cancelled>(failure(source(twoBars()))));

    // Cancelled before it starts (the library is not even loaded), while the library reads
    // the loop (its progress callback asks it to stop) and while it renders (the current
    // batch ends, then the job).
    const struct {
        const char *call;
        int batch;
        QString calls; // how the library was asked, to its end
        int progress;  // what the progress callback first answered
    } moments[] = {{nullptr, 0, "", 0},
                   {"Create", -1, "Initialize GetInfoFromBuffer Create Uninitialize", 1},
                   {"Render", 1, "Render Render StopPreview Delete Uninitialize", 2}};
    for (const auto &moment : moments) {
        library.reset();
        CancellationSource cancel;
        if (!moment.call)
            cancel.cancel();
        else
            library.setHook([&](const QString &call, int batch) {
                if (call == moment.call && batch == moment.batch)
                    cancel.cancel();
            });
        EXPECT_TRUE(errorIs<Cancelled>(failure(source(twoBars()), cancel.token())));
        EXPECT_TRUE(moment.calls.isEmpty() ? library.calls().isEmpty() : library.calls().endsWith(moment.calls))
            << library.calls().toStdString();
        EXPECT_EQ(library.observed().progressAnswers[0], moment.progress);
    }
    EXPECT_EQ(library.observed().batches, 2);
}

TEST_F(REXDecoder_, ASourceThatChangesOrIsNoPlainFileIsChangedAndAStoreErrorIsItsOwn)
{
    const QString changed = REXError::changed().message();
    const QString path = source(twoBars());
    library.setHook([&](const QString &call, int batch) {
        if (call == "Render" && batch == 5) {
            QFile grow(path);
            ASSERT_TRUE(grow.open(QIODevice::Append) && grow.write("more") == 4);
        }
    });
    EXPECT_EQ(errorText(failure(path)), changed);

    library.reset();
    ASSERT_TRUE(QFile::link(source(twoBars(), "Real.rx2"), dir.file("Link.rx2")));
    EXPECT_EQ(errorText(failure(dir.file("Link.rx2"))), changed);
    EXPECT_TRUE(library.calls().isEmpty());

    library.reset();
    REXDecoder noStore(scriptedREXPath, []() -> TemporaryAudioStore & { throw SystemError(EACCES, "store"); });
    EXPECT_TRUE(errorIs<SystemError>(failure(path, {}, &noStore)));
    EXPECT_EQ(library.calls(), "Initialize GetInfoFromBuffer Create GetInfo SetOutputSampleRate SetPreviewTempo "
                               "StartPreview StopPreview Delete Uninitialize");
}
