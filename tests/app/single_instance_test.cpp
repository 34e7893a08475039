#include "silent_wav.h"

#include "app/app_texts.h"
#include "app/single_instance.h"

#include "core/file_handle.h"
#include "core/lock_file.h"
#include "core/native_path.h"
#include "platform/output/audio_output.h"
#include "views/kit/dialogs/alert_dialog.h"

#include "support/file_fixtures.h"
#include "support/test_support.h"

#include <QDir>
#include <QApplication>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>

#include <gtest/gtest.h>

#include <array>
#include <future>
#include <memory>
#include <vector>
#include <thread>

#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

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

// Where the launches of a test meet: the test's own private folder.
std::optional<PrivateFolder> meetingIn(const test::TempDir &folder)
{
    return PrivateFolder::open(folder.path());
}

// A second launch in a thread of its own, so that this one can keep its event loop turning,
// or hold it still as a busy instance does.
std::future<SingleInstance::Claim> launchBeside(const test::TempDir &folder, const QList<QUrl> &documents,
                                                std::chrono::milliseconds patience, QStringList &said)
{
    return std::async(std::launch::async, [&folder, documents, patience, &said] {
        return SingleInstance(meetingIn(folder), patience, [&said](const QString &line) { said << line; })
            .claim(documents);
    });
}

// Batches of documents as one readable text.
std::string listed(const QList<QList<QUrl>> &batches)
{
    QStringList texts;
    for (const QList<QUrl> &batch : batches) {
        QStringList urls;
        for (const QUrl &url : batch)
            urls << url.toString();
        texts << urls.join(QLatin1Char(' '));
    }
    return texts.join(QStringLiteral(" | ")).toStdString();
}

template <typename T>
bool ready(const std::future<T> &future)
{
    return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

} // namespace

TEST(SingleInstance, MessagesRoundTripAndRefuseWhatIsNotOne)
{
    const QList<QUrl> documents{file("/m/a b.wav"), file("/m/ü#?.sd2"), file("/m/line\nbreak.wav"),
                                QUrl::fromLocalFile(decodedPath("/m/old\xe9/bad\xff\xfe.wav"))};
    EXPECT_EQ(SingleInstance::decode(SingleInstance::encode(documents)), documents);
    EXPECT_EQ(SingleInstance::decode(SingleInstance::encode({})), QList<QUrl>());

    const QByteArray header = QByteArrayLiteral("tamPOD open 2\n");
    const struct {
        const char *name;
        QByteArray message;
        std::optional<QList<QUrl>> documents;
    } cases[] = {
        {"no header", QByteArrayLiteral("file:///a.wav\n\n"), std::nullopt},
        {"other version", QByteArrayLiteral("tamPOD open 1\n\n"), std::nullopt},
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

TEST(SingleInstance, ASecondLaunchHandsItsDocumentsOverWhateverTheFolderPathsLength)
{
    test::TempDir base;
    // A socket's path holds 107 bytes; a runtime folder's path may be longer.
    const QString deep = base.path() + QLatin1Char('/') + QString(std::max<qsizetype>(1, 120 - base.path().size()), u'd');
    ASSERT_EQ(::mkdir(QFile::encodeName(deep).constData(), 0700), 0);
    for (const QString &path : {base.path(), deep}) {
        SingleInstance first(PrivateFolder::open(path));
        EXPECT_EQ(SingleInstance(PrivateFolder::open(path)).forward({}), SingleInstance::Forwarding::noInstance);
        ASSERT_TRUE(first.listen()) << path.size();
        QList<QList<QUrl>> received;
        QObject::connect(&first, &SingleInstance::documentsReceived,
                         [&](const QList<QUrl> &documents) { received.append(documents); });

        // The second launch blocks in its own thread; this one keeps its event loop turning. The
        // first documents come before the instance is ready for them: they wait.
        for (const QList<QUrl> &documents : {QList<QUrl>{file("/m/c.wav"), file("/m/d.wav")}, QList<QUrl>{}}) {
            auto answer = std::async(std::launch::async,
                                     [&] { return SingleInstance(PrivateFolder::open(path)).forward(documents); });
            ASSERT_TRUE(test::pumpUntil([&] { return ready(answer); }));
            EXPECT_EQ(answer.get(), SingleInstance::Forwarding::delivered);
            if (received.isEmpty()) {
                ASSERT_TRUE(test::pumpUntil([&] { return first.waitingBatches() == 1; }));
                first.startDelivering();
            }
            ASSERT_TRUE(test::pumpUntil([&] { return !received.isEmpty() && received.last() == documents; }));
        }
        EXPECT_EQ(received.size(), 2);

        // A second listener under the same name is refused while the first one answers.
        EXPECT_FALSE(SingleInstance(PrivateFolder::open(path)).listen());
    }
}

// What a crashed instance leaves under the name, a socket nobody listens on (or any other file),
// is replaced: the next launch listens there, and a later one's documents reach it.
TEST(SingleInstance, TakesOverTheSocketOfACrashedInstance)
{
    for (const bool socketLeft : {true, false}) {
        test::TempDir folder;
        const QString name = folder.file(QStringLiteral("tampod-instance"));
        if (socketLeft) {
            const int crashed = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            const QByteArray path = QFile::encodeName(name);
            ASSERT_LT(size_t(path.size()), sizeof(address.sun_path));
            std::copy(path.begin(), path.end(), address.sun_path);
            ASSERT_EQ(::bind(crashed, reinterpret_cast<sockaddr *>(&address), sizeof(address)), 0);
            ASSERT_EQ(::listen(crashed, 1), 0);
            ::close(crashed); // its file stays
        } else {
            test::writeFile(name, QByteArray());
        }
        SingleInstance instance(meetingIn(folder));
        ASSERT_EQ(instance.claim({}), SingleInstance::Claim::instance);
        QLocalSocket reached;
        reached.connectToServer(name);
        ASSERT_TRUE(reached.waitForConnected(5000)) << "nobody listens on the name, " << socketLeft;
        reached.abort();
        instance.startDelivering();
        QList<QList<QUrl>> received;
        QObject::connect(&instance, &SingleInstance::documentsReceived,
                         [&](const QList<QUrl> &documents) { received.append(documents); });
        QStringList said;
        auto later = launchBeside(folder, {file("/m/a.wav")}, SingleInstance::patience, said);
        ASSERT_TRUE(test::pumpUntil([&] { return ready(later) && !received.isEmpty(); })) << socketLeft;
        EXPECT_EQ(later.get(), SingleInstance::Claim::delivered);
        EXPECT_EQ(listed(received), "file:///m/a.wav");
        EXPECT_FALSE(SingleInstance(meetingIn(folder)).listen()) << "the instance listens on the name";
    }
}

// A busy instance (its event loop held still here) answers nothing: the launch says that it
// waits, gives up, and says its files were not opened; they are not opened when the instance
// goes on, while a later launch's are.
TEST(SingleInstance, ALaunchThatGivesUpOnABusyInstanceSaysSoAndItsFilesAreNeverOpened)
{
    test::TempDir folder;
    SingleInstance instance(meetingIn(folder));
    ASSERT_EQ(instance.claim({}), SingleInstance::Claim::instance);
    instance.startDelivering();
    QList<QList<QUrl>> received;
    QObject::connect(&instance, &SingleInstance::documentsReceived,
                     [&](const QList<QUrl> &documents) { received.append(documents); });

    QStringList said;
    auto givenUp = launchBeside(folder, {file("/m/a.wav")}, SingleInstance::noticeDelay * 2, said);
    EXPECT_EQ(givenUp.get(), SingleInstance::Claim::failed);
    EXPECT_EQ(said.join(u'\n'), LaunchText::waiting + u'\n' + LaunchText::notHandedOver);

    // Answered at once, a launch says nothing: only one that waited says how its wait ended.
    QStringList saidLater;
    QElapsedTimer answeredIn;
    answeredIn.start();
    auto later = launchBeside(folder, {file("/m/b.wav")}, SingleInstance::patience, saidLater);
    ASSERT_TRUE(test::pumpUntil([&] { return ready(later) && !received.isEmpty(); }));
    EXPECT_EQ(later.get(), SingleInstance::Claim::delivered);
    EXPECT_EQ(listed(received), "file:///m/b.wav");
    if (answeredIn.elapsed() < SingleInstance::noticeDelay.count())
        EXPECT_EQ(saidLater.join(u'\n'), QString());
    else
        EXPECT_TRUE(saidLater.isEmpty() || saidLater.join(u'\n') == LaunchText::waiting + u'\n' + LaunchText::handedOver)
            << saidLater.join(u'\n').toStdString();
}

// Launches that were answered and neither confirm nor go hold a place each, up to a bound;
// none is handed on without its confirmation.
TEST(SingleInstance, AnsweredHandOversWaitingForTheirLaunchAreBounded)
{
    test::TempDir folder;
    SingleInstance instance(meetingIn(folder));
    ASSERT_TRUE(instance.listen());
    instance.startDelivering();
    int received = 0;
    QObject::connect(&instance, &SingleInstance::documentsReceived, [&] { ++received; });

    std::vector<std::unique_ptr<QLocalSocket>> launches;
    const auto send = [&] {
        auto socket = std::make_unique<QLocalSocket>();
        socket->connectToServer(PrivateFolder::open(folder.path())->pathOf("tampod-instance"));
        EXPECT_TRUE(socket->waitForConnected(5000));
        socket->write(SingleInstance::encode({file("/m/a.wav")}));
        launches.push_back(std::move(socket));
        QLocalSocket &sent = *launches.back();
        // The answer, or the instance closing the connection.
        EXPECT_TRUE(test::pumpUntil([&] { return sent.bytesAvailable() > 0 || sent.state() != QLocalSocket::ConnectedState; }));
        return sent.readAll();
    };
    for (int i = 0; i < SingleInstance::maximumHeld; ++i)
        ASSERT_EQ(send(), "ok\n") << i;
    EXPECT_EQ(send(), "") << "one more than the bound is refused";
    launches.front()->abort(); // goes without confirming: its place is free again
    EXPECT_TRUE(test::pumpUntil([&] { return send() == "ok\n"; }));
    EXPECT_EQ(received, 0);

    // An answered launch is waited for past the time a launch has to send its message.
    QLocalSocket &slow = *launches.back();
    ASSERT_FALSE(test::pumpUntil([&] { return slow.state() != QLocalSocket::ConnectedState; },
                                 SingleInstance::timeout + std::chrono::seconds(1)))
        << "an answered launch was dropped";
    slow.write("go\n");
    EXPECT_TRUE(test::pumpUntil([&] { return received == 1; }));
}

// The real program as the second launch: it says within moments that it waits for the busy
// instance, and once the instance goes on, that the instance took its file, and ends well.
TEST(SingleInstance, ALaunchWaitingForABusyInstanceSaysSoAndThenThatItsFileWasTaken)
{
    test::TempDir folder;
    Launch second(folder.path());
    auto environment = second.process().processEnvironment();
    SingleInstance instance(PrivateFolder::open(environment.value(QStringLiteral("XDG_RUNTIME_DIR"))));
    ASSERT_EQ(instance.claim({}), SingleInstance::Claim::instance);
    instance.startDelivering();
    QList<QList<QUrl>> received;
    QObject::connect(&instance, &SingleInstance::documentsReceived,
                     [&](const QList<QUrl> &documents) { received.append(documents); });

    // Busy: only the launch's output is read until it says it waits.
    QElapsedTimer waited;
    waited.start();
    second.process().start(QStringLiteral(TAMPOD_EXECUTABLE), {QStringLiteral("c.wav")});
    const QByteArray waiting = LaunchText::waiting.toUtf8() + '\n';
    while (!second.report().contains(waiting) && second.isRunning() && waited.elapsed() < 60'000)
        second.process().waitForReadyRead(1000);
    ASSERT_TRUE(second.report().contains(waiting)) << second.report().toStdString();
    std::printf("the launch said it waits after %lld ms\n", waited.elapsed());

    ASSERT_TRUE(test::pumpUntil([&] { return !second.isRunning() && !received.isEmpty(); }, std::chrono::seconds(60)));
    EXPECT_TRUE(second.exitedWell());
    EXPECT_EQ(second.report().toStdString(), (waiting + LaunchText::handedOver.toUtf8() + '\n').toStdString());
    EXPECT_EQ(listed(received), listed({{QUrl::fromLocalFile(resolvedPath(folder.path()).value() + "/c.wav")}}));
}

// The real program as a launch that an instance does not take the files from (it hangs up on
// every launch): the launch says its files were not opened and ends with exit code 1.
TEST(SingleInstance, ALaunchTheInstanceDoesNotTakeFilesFromSaysSoAndFails)
{
    test::TempDir folder;
    Launch launch(folder.path());
    const auto meeting = PrivateFolder::open(launch.process().processEnvironment().value(QStringLiteral("XDG_RUNTIME_DIR")));
    ASSERT_TRUE(meeting);
    const auto claim = LockFile::take(meeting->folder(), "tampod-instance.lock");
    ASSERT_TRUE(claim);
    QLocalServer refusing;
    ASSERT_TRUE(refusing.listen(meeting->pathOf("tampod-instance")));
    int refused = 0;
    QObject::connect(&refusing, &QLocalServer::newConnection, [&] {
        while (QLocalSocket *socket = refusing.nextPendingConnection()) {
            socket->abort();
            socket->deleteLater();
            ++refused;
        }
    });

    QElapsedTimer ran;
    ran.start();
    launch.process().start(QStringLiteral(TAMPOD_EXECUTABLE), {QStringLiteral("c.wav")});
    ASSERT_TRUE(test::pumpUntil([&] { return !launch.isRunning(); })) << launch.report().toStdString();
    EXPECT_GE(refused, 1);
    EXPECT_EQ(launch.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(launch.process().exitCode(), 1);
    const QByteArray notTaken = LaunchText::notHandedOver.toUtf8() + '\n';
    if (ran.elapsed() < SingleInstance::noticeDelay.count())
        EXPECT_EQ(launch.report().toStdString(), notTaken.toStdString());
    else
        EXPECT_TRUE(launch.report() == notTaken || launch.report() == LaunchText::waiting.toUtf8() + '\n' + notTaken)
            << launch.report().toStdString();
}

// Documents that come while a modal alert is up wait for it to be answered: the window they
// bring forward would cover it.
TEST(SingleInstance, DocumentsWaitWhileAModalAlertIsUp)
{
    test::TempDir folder;
    SingleInstance instance(meetingIn(folder));
    ASSERT_TRUE(instance.listen());
    instance.startDelivering();
    QList<QList<QUrl>> received;
    QObject::connect(&instance, &SingleInstance::documentsReceived,
                     [&](const QList<QUrl> &documents) { received.append(documents); });

    AlertDialog alert(QStringLiteral("Alert"), QStringLiteral("Up"));
    alert.addButton(QStringLiteral("OK"));
    for (const char *name : {"/m/a.wav", "/m/b.wav"}) {
        alert.show();
        ASSERT_EQ(QApplication::activeModalWidget(), &alert);
        auto answer = std::async(std::launch::async, [&] { return SingleInstance(meetingIn(folder)).forward({file(name)}); });
        ASSERT_TRUE(test::pumpUntil([&] { return ready(answer) && instance.waitingBatches() == 1; }))
            << "delivered while the alert is up: " << received.size();
        EXPECT_EQ(answer.get(), SingleInstance::Forwarding::delivered);
        alert.accept();
        ASSERT_TRUE(test::pumpUntil([&] { return !received.isEmpty() && received.last() == QList<QUrl>{file(name)}; }));
    }
    EXPECT_EQ(received.size(), 2);
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
        // Files that open without an alert: documents received while one is up wait for it.
        for (const QString &name : names)
            test::writeFile(folder.file(name), test::wav());
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
    ASSERT_TRUE(test::pumpUntil([&] { return launch.report().count("open file://") >= 2 || !launch.isRunning(); }))
        << launch.report().toStdString();
    for (const QByteArray &path : expected)
        EXPECT_TRUE(launch.opened(path)) << path.toStdString() << " not in:\n" << launch.report().toStdString();
    for (const auto &setting : AudioOutput::environment)
        EXPECT_TRUE(launch.report().contains(QByteArray("environment ") + setting.name + '=' + setting.value + '\n'))
            << setting.name << " not in:\n" << launch.report().toStdString();
}

// Without a runtime folder, two users share one temporary folder, and the other user got there
// first: made this user's runtime folder, listens where a shared socket would be. Each user's
// launches meet in a folder of their own; no file name crosses, neither user blocks the other.
// Where even the folder made for this user is taken, its launches run alone.
TEST(SingleInstance, LaunchesWithoutARuntimeFolderNeverMeetInAnotherUsersFolder)
{
    if (!test::runningAsRoot())
        GTEST_SKIP() << "another user's folders need root";
    test::TempDir folder;
    ASSERT_EQ(::chmod(QFile::encodeName(folder.path()).constData(), 0755), 0);
    const QString user = QString::fromLocal8Bit(::getpwuid(::geteuid())->pw_name);
    const auto sharedTemporaryFolder = [&](const QString &name, const QStringList &takenByOther) {
        const QString shared = folder.file(name);
        EXPECT_EQ(::mkdir(QFile::encodeName(shared).constData(), 0777), 0);
        ::chmod(QFile::encodeName(shared).constData(), 01777);
        for (const QString &taken : takenByOther) {
            EXPECT_EQ(::mkdir(QFile::encodeName(shared + u'/' + taken).constData(), 0700), 0);
            test::giveAway(shared + u'/' + taken);
        }
        return shared;
    };
    // A launch of this user (or of user 65534) with the given temporary folder and no runtime folder.
    const auto launch = [&](const QString &home, const QString &temporary, const char *document, bool other) {
        auto started = std::make_unique<Launch>(home);
        auto environment = started->process().processEnvironment();
        environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        environment.insert(QStringLiteral("TMPDIR"), temporary);
        started->process().setProcessEnvironment(environment);
        if (other) {
            for (const QString &place : QDir(home).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
                test::giveAway(home + u'/' + place);
            test::giveAway(home);
            started->process().start(QStringLiteral("setpriv"),
                                     {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                                      QStringLiteral("--clear-groups"), QStringLiteral(TAMPOD_EXECUTABLE),
                                      QString::fromLatin1(document)});
        } else {
            started->process().start(QStringLiteral(TAMPOD_EXECUTABLE), {QString::fromLatin1(document)});
        }
        return started;
    };
    const auto opened = [](Launch &running, const QString &home, const char *document) {
        return running.opened(percentEncoded(home) + '/' + document);
    };
    const auto endsWell = [](Launch &ended) {
        return test::pumpUntil([&] { return !ended.isRunning(); }, std::chrono::seconds(60)) && ended.exitedWell();
    };

    const QString shared = sharedTemporaryFolder(QStringLiteral("tmp"), {QStringLiteral("runtime-") + user});
    QLocalServer listener;
    ASSERT_TRUE(listener.listen(shared + QStringLiteral("/tampod-instance")));
    const QString mine = folder.file(QStringLiteral("mine")), theirs = folder.file(QStringLiteral("theirs"));
    QDir().mkpath(mine);
    QDir().mkpath(theirs);
    // Files that open without an alert: documents received while one is up wait for it.
    for (const char *name : {"a.wav", "b.wav", "c.wav", "d.wav"})
        test::writeFile(mine + u'/' + QLatin1String(name), test::wav());
    for (const char *name : {"o.wav", "p.wav"})
        test::writeFile(theirs + u'/' + QLatin1String(name), test::wav());

    auto first = launch(mine, shared, "a.wav", false);
    ASSERT_TRUE(test::pumpUntil([&] { return opened(*first, mine, "a.wav") || !first->isRunning(); }, std::chrono::seconds(60)))
        << first->report().toStdString();
    auto other = launch(theirs, shared, "o.wav", true);
    ASSERT_TRUE(test::pumpUntil([&] { return opened(*other, theirs, "o.wav") || !other->isRunning(); }, std::chrono::seconds(60)))
        << other->report().toStdString();
    auto second = launch(mine, shared, "b.wav", false);
    EXPECT_TRUE(endsWell(*second)) << second->report().toStdString();
    auto otherSecond = launch(theirs, shared, "p.wav", true);
    EXPECT_TRUE(endsWell(*otherSecond)) << otherSecond->report().toStdString();
    EXPECT_TRUE(test::pumpUntil([&] { return opened(*first, mine, "b.wav") && opened(*other, theirs, "p.wav"); }));
    EXPECT_FALSE(opened(*first, theirs, "p.wav") || opened(*other, mine, "b.wav"));
    EXPECT_TRUE(first->isRunning() && other->isRunning());
    // Every launch had ended its claim before it opened anything.
    EXPECT_FALSE(listener.waitForNewConnection(0)) << "a launch connected to the shared folder's socket";
    EXPECT_TRUE(QDir(shared + QStringLiteral("/runtime-") + user).isEmpty());

    // The folder made for this user is another's too: each launch runs alone.
    const QString taken = sharedTemporaryFolder(QStringLiteral("tmp2"), {QStringLiteral("runtime-") + user,
                                                                         QStringLiteral("tampod-") + QString::number(::geteuid())});
    std::unique_ptr<Launch> alone[] = {launch(mine, taken, "c.wav", false), launch(mine, taken, "d.wav", false)};
    for (const char *document : {"c.wav", "d.wav"}) {
        Launch &running = *alone[document[0] - 'c'];
        EXPECT_TRUE(test::pumpUntil([&] { return opened(running, mine, document) || !running.isRunning(); }, std::chrono::seconds(60)))
            << running.report().toStdString();
        EXPECT_TRUE(running.isRunning()) << running.report().toStdString();
    }
    for (const QString &place : {QStringLiteral("/runtime-") + user, QStringLiteral("/tampod-") + QString::number(::geteuid())})
        EXPECT_TRUE(QDir(taken + place).isEmpty()) << place.toStdString();
}
