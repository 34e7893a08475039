#pragma once

#include <QDir>
#include <QImage>
#include <QWidget>

namespace tampod::test {

// A widget painted at a device pixel ratio. With TAMPOD_SNAPSHOT_DIR set the image is also
// saved there as NAME@<ratio>x.png, to be looked at.
inline QImage render(QWidget &widget, double ratio, const QString &name)
{
    QImage image((QSizeF(widget.size()) * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    widget.render(&image);
    if (const QString folder = qEnvironmentVariable("TAMPOD_SNAPSHOT_DIR"); !folder.isEmpty())
        image.save(QDir(folder).filePath(name + QStringLiteral("@") + QString::number(ratio) + QStringLiteral("x.png")));
    return image;
}

} // namespace tampod::test
