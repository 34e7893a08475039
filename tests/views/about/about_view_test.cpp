#include "views/about/about_view.h"
#include "views/about/app_identity.h"
#include "views/kit/controls/transport_glyph.h"
#include "views/kit/theme.h"

#include "support/snapshot.h"

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QPainter>

#include <gtest/gtest.h>

using namespace tampod;


TEST(AppIdentity, VersionText)
{
    const struct {
        std::optional<QString> shortVersion, build;
        const char *text;
    } cases[] = {
        {QStringLiteral("1.0"), QStringLiteral("4"), "Version 1.0 (Build 4)"},
        {QStringLiteral("1.0"), std::nullopt, "Version 1.0 (Build —)"},
        {std::nullopt, std::nullopt, "Version — (Build —)"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(AppIdentity::versionText(c.shortVersion, c.build), QString::fromUtf8(c.text));
    EXPECT_TRUE(AppIdentity::version().startsWith(QStringLiteral("Version 1.0 (Build ")));
    EXPECT_TRUE(AppIdentity::bundledImage(QStringLiteral(":/tampod/no-such-image.png")).isNull());
}

TEST(AboutView, ShowsIconNameVersionAndCopyrightAtAFixedSize)
{
    AboutView about;
    EXPECT_EQ(about.minimumSize(), QSize(360, 410));
    EXPECT_EQ(about.maximumSize(), QSize(360, 410));
    QStringList texts;
    for (const QLabel *label : about.findChildren<QLabel *>()) {
        texts.append(label->text());
        EXPECT_EQ(label->textFormat(), Qt::PlainText);
    }
    EXPECT_EQ(texts, (QStringList{QStringLiteral("tamPOD"), AppIdentity::version(),
                                  QStringLiteral("© 2026 The tamPOD authors")}));
    ASSERT_FALSE(AppIdentity::appIcon().isNull());
    const auto *icon = about.findChildren<QWidget *>().first();
    EXPECT_EQ(icon->accessibleName(), QStringLiteral("tamPOD app icon"));
    EXPECT_EQ(icon->size(), QSize(72, 72));

    about.show();
    for (double ratio : {1.0, 2.0}) {
        const QImage image = test::render(about, ratio, QStringLiteral("about"));
        EXPECT_EQ(image.size(), QSize(360, 410) * ratio);
        EXPECT_EQ(image.pixelColor(2, 2).rgb(), Theme::background.rgb());
        // The icon is drawn, sharp, at its place in the middle column.
        const QPoint iconCentre = icon->geometry().center() * ratio;
        EXPECT_NE(image.pixelColor(iconCentre).rgb(), Theme::background.rgb());
    }
}

TEST(TransportGlyph, RendersCrispAtEveryRatio)
{
    // The stop square, 17 units at scale 1 from x = 16 + 8, covers whole pixels: no blurred edge.
    for (double ratio : {1.0, 2.0}) {
        QImage image((QSizeF(64, 32) * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(ratio);
        image.fill(Qt::black);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillPath(TransportGlyph{TransportGlyph::Symbol::stop}.path(QRectF(0, 0, 64, 32)), Theme::accent);
        painter.end();
        const int y = int(16 * ratio);
        EXPECT_EQ(image.pixelColor(int(24 * ratio) - 1, y).rgb(), QColor(Qt::black).rgb());
        EXPECT_EQ(image.pixelColor(int(24 * ratio), y).rgb(), Theme::accent.rgb());
        EXPECT_EQ(image.pixelColor(int(41 * ratio) - 1, y).rgb(), Theme::accent.rgb());
        EXPECT_EQ(image.pixelColor(int(41 * ratio), y).rgb(), QColor(Qt::black).rgb());
    }
}
