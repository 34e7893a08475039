#pragma once

#include <QImage>
#include <QString>

#include <optional>

// Extends the identity namespace of the files module with the interface's images and texts.
namespace tampod::AppIdentity {

// The application icon, drawn by the build; loaded once. Null when the resource is missing.
const QImage &appIcon();
// The image at a resource path, or a null image when it is missing or unreadable.
QImage bundledImage(const QString &resource);

// "Version " short version " (Build " build ")", with "—" for a part that is unknown.
QString versionText(const std::optional<QString> &shortVersion, const std::optional<QString> &build);
// The version of this build, as set by the build system.
QString version();

inline constexpr char appIconResource[] = ":/tampod/tamPODAppIcon.png";

} // namespace tampod::AppIdentity
