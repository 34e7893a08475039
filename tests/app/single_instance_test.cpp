#include "app/single_instance.h"

#include "core/native_path.h"

#include "support/test_support.h"

#include <QDir>

#include <gtest/gtest.h>

#include <future>
#include <thread>

using namespace tampod;

namespace {

QUrl file(const char *path)
{
    return QUrl::fromLocalFile(QString::fromUtf8(path));
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

    // The second launch blocks in its own thread; this one keeps its event loop turning.
    for (const QList<QUrl> &documents : {QList<QUrl>{file("/m/c.wav"), file("/m/d.wav")}, QList<QUrl>{}}) {
        auto answer = std::async(std::launch::async, [&] { return SingleInstance(name).forward(documents); });
        ASSERT_TRUE(test::pumpUntil(
            [&] { return answer.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
        EXPECT_EQ(answer.get(), SingleInstance::Forwarding::delivered);
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
    EXPECT_TRUE(instance.listen());
}
