#include "app/application.h"
#include "app/single_instance.h"

#include "core/file_handle.h"
#include "core/native_path.h"
#include "platform/output/audio_output.h"
#include "views/kit/theme.h"

#include <QApplication>
#include <QDir>
#include <QLoggingCategory>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

// What a launch settled, for whoever starts the program and enables it: the audio libraries'
// environment as the process has it, and each document as it reaches the application.
Q_LOGGING_CATEGORY(launchLog, "tampod.launch", QtWarningMsg)

void reportEnvironment()
{
    for (const auto &setting : tampod::AudioOutput::environment)
        qCInfo(launchLog, "environment %s=%s", setting.name, qgetenv(setting.name).constData());
}

void reportDocuments(const QList<QUrl> &documents)
{
    for (const QUrl &url : documents)
        qCInfo(launchLog, "open %s", tampod::fileUrlBytes(url.toLocalFile()).constData());
}

// How long the end of the process waits for a device probe still running.
constexpr std::chrono::milliseconds probeExitBound{1500};

int run(int &argc, char *argv[])
{
    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("tamPOD"));
    QApplication::setApplicationName(QStringLiteral("tamPOD"));
    QGuiApplication::setDesktopFileName(QStringLiteral("tampod"));

    // From argv as QApplication left it, relative to the working folder: a name that is not
    // UTF-8 keeps its bytes.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << tampod::decodedPath(QByteArray(argv[i]));
    const QString folder = tampod::resolvedPath(QStringLiteral(".")).value_or(QDir::currentPath());
    const QList<QUrl> documents = tampod::documentArguments(arguments, folder);
    // Settled before anything else starts: a launch that loses hands its documents over.
    tampod::SingleInstance instance;
    switch (instance.claim(documents)) {
    case tampod::SingleInstance::Claim::delivered:
        return EXIT_SUCCESS;
    case tampod::SingleInstance::Claim::failed:
        return EXIT_FAILURE;
    case tampod::SingleInstance::Claim::instance:
        break;
    }
    reportEnvironment();

    tampod::Theme::applyDarkAppearance(application);
    tampod::Application tamPOD;
    QObject::connect(&instance, &tampod::SingleInstance::documentsReceived, &tamPOD,
                     [&tamPOD](const QList<QUrl> &received) {
                         reportDocuments(received);
                         tamPOD.openDocuments(received);
                     });
    reportDocuments(documents);
    // Other launches' documents follow this launch's own, from the first turn of the event
    // loop, which may be one that start's own alerts run.
    QTimer::singleShot(0, &instance, [&instance] { instance.startDelivering(); });
    tamPOD.start(documents);
    const int status = QApplication::exec();
    if (!tamPOD.shutdown())
        std::_Exit(status); // a worker did not stop in time: leave without running its destructor
    return status;
}

} // namespace

int main(int argc, char *argv[])
{
    // The environment is settled while this is the only thread.
    for (const auto &setting : tampod::AudioOutput::environment)
        setenv(setting.name, setting.value, 1);
    const int status = run(argc, argv);
    // Everything of ours has ended. A device probe still inside the audio libraries is left
    // there, and the process ends without running their destructors beside it.
    if (!tampod::AudioOutput::probeSettled(probeExitBound)) {
        std::fflush(nullptr);
        std::_Exit(status);
    }
    return status;
}
