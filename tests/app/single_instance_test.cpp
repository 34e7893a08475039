#include "app/single_instance.h"

#include "core/file_handle.h"
#include "core/lock_file.h"
#include "core/native_path.h"
#include "platform/output/audio_output.h"

#include "support/test_support.h"

#include <QDir>
#include <QProcess>

#include <gtest/gtest.h>

#include <array>
#include <future>
#include <memory>
#include <thread>

#include <sys/stat.h>

using namespace tampod;

namespace {

QUrl file(const char *path)
{
    return QUrl::fromLocalFile(QString::fromUtf8(path));
}

// A started tamPOD with every per-user place of its own under folder, reporting what its launch
// settled on its error output. The audio libraries' environment is left for main to set.
class Launch {
public:
    explicit Launch(const QString &folder)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *variable : {"XDG_RUNTIME_DIR", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "HOME"}) {
            const QString path = folder + QLatin1Char('/') + QString::fromLatin1(variable);
            QDir().mkpath(path);
            QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            environment.insert(QString::fromLatin1(variable), path);
        }
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("tampod.launch.info=true"));
        for (const auto &setting : AudioOutput::environment)
            environment.remove(QString::fromLatin1(setting.name));
        process_.setProcessEnvironment(environment);
        process_.setWorkingDirectory(folder);
    }
    ~Launch()
    {
        process_.kill();
        process_.waitForFinished();
    }

    QProcess &process() { return process_; }
    bool isRunning() const { return process_.state() != QProcess::NotRunning; }
    bool exitedWell() const
    {
        return !isRunning() && process_.exitStatus() == QProcess::NormalExit && process_.exitCode() == 0;
    }
    // The report so far.
    const QByteArray &report()
    {
        report_ += process_.readAllStandardError();
        return report_;
    }
    // Whether the running program handed this local file (its bytes percent-encoded) to the
    // application.
    bool opened(const QByteArray &encodedPath) { return report().contains("open file://" + encodedPath + '\n'); }

private:
    QProcess process_;
    QByteArray report_;
};

// How many wait for the lock on the file at path.
int waitingAt(const QString &path)
{
    QFile locks(QStringLiteral("/proc/locks"));
    const auto status = statusOf(path, LinkPolicy::Follow);
    if (!status || !locks.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray inode = ':' + QByteArray::number(quint64(status->st_ino)) + ' ';
    int waiting = 0;
    for (const QByteArray &line : locks.readAll().split('\n'))
        waiting += line.contains("->") && line.contains(inode);
    return waiting;
}

QByteArray percentEncoded(const QString &path)
{
    return encodedPath(resolvedPath(path).value_or(path)).toPercentEncoding("/");
}

} // namespace

TEST(SingleInstance, MessagesRoundTripAndRefuseWhatIsNotOne)
{
    const QList<QUrl> documents{file("/m/a b.wav"), file("/m/ü#?.sd2"), file("/m/line\nbreak.wav"),
                                QUrl::fromLocalFile(decodedPath("/m/old\xe9/bad\xff\xfe.wav"))};
    EXPECT_EQ(SingleInstance::decode(SingleInstance::encode(documents)), documents);
    EXPECT_EQ(SingleInstance::decode(SingleInstance::encode({})), QList<QUrl>());

    const QByteArray header = QByteArrayLiteral("tamPOD open 1\n");
    const struct {
        const char *name;
        QByteArray message;
        std::optional<QList<QUrl>> documents;
    } cases[] = {
        {"no header", QByteArrayLiteral("file:///a.wav\n\n"), std::nullopt},
        {"other version", QByteArrayLiteral("tamPOD open 2\n\n"), std::nullopt},
        {"unfinished", header + "file:///a.wav\n", std::nullopt},
        {"header only", header, std::nullopt},
        {"too large", header + QByteArray(SingleInstance::maximumMessage, 'a') + "\n\n", std::nullopt},
        {"only local absolute files kept", header + "https://example.invalid/a.wav\nfile:a.wav\nnot a url\n"
             "file:///ok.wav\n%%%\nfile://elsewhere/x.wav\n\n", QList<QUrl>{file("/ok.wav")}},
        {"binary noise", header + QByteArray("\0\xff\x01", 3) + "\n\n", QList<QUrl>{}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(SingleInstance::decode(c.message), c.documents) << c.name;
}

TEST(SingleInstance, DocumentArguments)
{
    EXPECT_EQ(documentArguments({QStringLiteral("a.wav"), QStringLiteral("../b/./c.aif"), QStringLiteral("/abs/d.wav"),
                                 QStringLiteral("file:///e%20f.wav"), QStringLiteral("file://host/x"),
                                 QString(), QStringLiteral("-weird-name.wav")},
                                QStringLiteral("/home/u/music")),
              (QList<QUrl>{file("/home/u/music/a.wav"), file("/home/u/b/c.aif"), file("/abs/d.wav"), file("/e f.wav"),
                           file("/home/u/music/-weird-name.wav")}));
}

TEST(SingleInstance, ASecondLaunchHandsItsDocumentsOver)
{
    test::TempDir folder;
    const QString name = folder.file(QStringLiteral("instance"));
    SingleInstance first(name);
    EXPECT_EQ(SingleInstance(name).forward({}), SingleInstance::Forwarding::noInstance);
    ASSERT_TRUE(first.listen());
    QList<QList<QUrl>> received;
    QObject::connect(&first, &SingleInstance::documentsReceived,
                     [&](const QList<QUrl> &documents) { received.append(documents); });

    // The second launch blocks in its own thread; this one keeps its event loop turning. The
    // first documents come before the instance is ready for them: they wait.
    for (const QList<QUrl> &documents : {QList<QUrl>{file("/m/c.wav"), file("/m/d.wav")}, QList<QUrl>{}}) {
        auto answer = std::async(std::launch::async, [&] { return SingleInstance(name).forward(documents); });
        ASSERT_TRUE(test::pumpUntil(
            [&] { return answer.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
        EXPECT_EQ(answer.get(), SingleInstance::Forwarding::delivered);
        if (received.isEmpty()) {
            first.startDelivering();
            ASSERT_EQ(received.size(), 1);
        }
        EXPECT_EQ(received.last(), documents);
    }
    EXPECT_EQ(received.size(), 2);

    // A second listener under the same name is refused while the first one answers.
    EXPECT_FALSE(SingleInstance(name).listen());
}

TEST(SingleInstance, TakesOverTheSocketOfACrashedInstance)
{
    test::TempDir folder;
    const QString name = folder.file(QStringLiteral("instance"));
    test::writeFile(name, QByteArray()); // what a killed instance leaves: a name nobody answers
    SingleInstance instance(name);
    EXPECT_EQ(instance.claim({}), SingleInstance::Claim::instance);
    EXPECT_FALSE(SingleInstance(name).listen()) << "the instance listens on the name";
}

// Pairs of launches at the same moment, each pair with a runtime folder of its own: one of
// each pair runs and opens the files of both, the other hands its file over and ends well.
TEST(SingleInstance, OfTwoLaunchesAtOnceOneRunsWithTheFilesOfBoth)
{
    constexpr int pairs = 30;
    const std::array<QString, 2> names{QStringLiteral("a.wav"), QStringLiteral("b.wav")};
    int runningTogether = 0;
    for (int pair = 0; pair < pairs; ++pair) {
        test::TempDir folder;
        const QByteArray files[] = {percentEncoded(folder.file(names[0])), percentEncoded(folder.file(names[1]))};
        // Both wait at a gate until both wait, so that they start together.
        const QString gate = folder.file(QStringLiteral("gate"));
        auto closed = LockFile::take(gate);
        ASSERT_TRUE(closed);
        std::array<std::unique_ptr<Launch>, 2> launches;
        for (int i = 0; i < 2; ++i) {
            launches[i] = std::make_unique<Launch>(folder.path());
            launches[i]->process().start(QStringLiteral("/bin/sh"),
                                         {QStringLiteral("-c"), QStringLiteral("flock -s \"$0\" true && exec \"$1\" \"$2\""),
                                          gate, QStringLiteral(TAMPOD_EXECUTABLE), names[i]});
        }
        // Where the system tells who waits for a lock; without it they go as they come.
        test::pumpUntil([&] { return waitingAt(gate) == 2; }, std::chrono::seconds(30));
        closed.reset();

        const auto hasBoth = [&](int i) { return launches[i]->opened(files[0]) && launches[i]->opened(files[1]); };
        // Settled: one has ended and the other opened both files, or both opened their own (two
        // instances), or both ended.
        ASSERT_TRUE(test::pumpUntil(
            [&] {
                return (!launches[0]->isRunning() && (hasBoth(1) || !launches[1]->isRunning()))
                    || (!launches[1]->isRunning() && hasBoth(0))
                    || (launches[0]->opened(files[0]) && launches[1]->opened(files[1]));
            },
            std::chrono::seconds(120)))
            << launches[0]->report().toStdString() << "\n" << launches[1]->report().toStdString();
        if (launches[0]->isRunning() && launches[1]->isRunning()) {
            ++runningTogether;
            continue;
        }
        const int winner = launches[0]->isRunning() ? 0 : 1;
        EXPECT_TRUE(launches[winner]->isRunning()) << "neither runs";
        EXPECT_TRUE(hasBoth(winner)) << launches[winner]->report().toStdString();
        EXPECT_TRUE(launches[1 - winner]->exitedWell()) << launches[1 - winner]->report().toStdString();
    }
    EXPECT_EQ(runningTogether, 0) << "pairs of launches that both run, of " << pairs;
}

// A started program takes its arguments and its working folder by their bytes, UTF-8 or not,
// and has the environment the audio libraries need whatever it was started with.
TEST(SingleInstance, ALaunchTakesItsArgumentsByTheirBytesAndSetsTheAudioEnvironment)
{
    test::TempDir folder;
    const QString working = folder.path() + decodedPath("/d\xe9");
    ASSERT_EQ(::mkdir(encodedPath(working).constData(), 0700), 0);
    Launch launch(folder.path());
    // Only a shell hands a program bytes that are not UTF-8.
    launch.process().start(QStringLiteral("/bin/sh"),
                           {QStringLiteral("-c"),
                            QStringLiteral("cd \"$(printf 'd\\351')\" && exec \"$0\" \"$(printf '\\351.wav')\" "
                                           "\"$(printf '\\303\\251.wav')\""),
                            QStringLiteral(TAMPOD_EXECUTABLE)});
    const QByteArray expected[] = {percentEncoded(working) + "/%E9.wav", percentEncoded(working) + "/%C3%A9.wav"};
    ASSERT_TRUE(test::pumpUntil([&] { return launch.report().count("open file://") >= 2 || !launch.isRunning(); },
                                std::chrono::seconds(60)))
        << launch.report().toStdString();
    for (const QByteArray &path : expected)
        EXPECT_TRUE(launch.opened(path)) << path.toStdString() << " not in:\n" << launch.report().toStdString();
    for (const auto &setting : AudioOutput::environment)
        EXPECT_TRUE(launch.report().contains(QByteArray("environment ") + setting.name + '=' + setting.value + '\n'))
            << setting.name << " not in:\n" << launch.report().toStdString();
}
