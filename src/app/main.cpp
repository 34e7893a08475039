#include "app/application.h"
#include "app/single_instance.h"

#include "core/native_path.h"
#include "platform/output/audio_output.h"
#include "views/kit/theme.h"

#include <QApplication>
#include <QDir>

#include <cstdlib>

int main(int argc, char *argv[])
{
    // The environment is settled while this is the only thread.
    for (const auto &setting : tampod::AudioOutput::environment)
        setenv(setting.name, setting.value, 1);
    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("tamPOD"));
    QApplication::setApplicationName(QStringLiteral("tamPOD"));
    QGuiApplication::setDesktopFileName(QStringLiteral("tampod"));

    // From argv as QApplication left it: a name that is not UTF-8 keeps its bytes.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << tampod::decodedPath(QByteArray(argv[i]));
    const QList<QUrl> documents = tampod::documentArguments(arguments, QDir::currentPath());
    tampod::SingleInstance instance;
    switch (instance.forward(documents)) {
    case tampod::SingleInstance::Forwarding::delivered:
        return EXIT_SUCCESS;
    case tampod::SingleInstance::Forwarding::failed:
        return EXIT_FAILURE;
    case tampod::SingleInstance::Forwarding::noInstance:
        break;
    }

    tampod::Theme::applyDarkAppearance(application);
    tampod::Application tamPOD;
    instance.listen();
    QObject::connect(&instance, &tampod::SingleInstance::documentsReceived, &tamPOD,
                     &tampod::Application::openDocuments);
    tamPOD.start(documents);
    const int status = QApplication::exec();
    if (!tamPOD.shutdown())
        std::_Exit(status); // a worker did not stop in time: leave without running its destructor
    return status;
}
