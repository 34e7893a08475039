#pragma once

#include <QString>
#include <QUrl>

namespace tampod {

// The local path of a file URL that came from outside (a drop, another launch, an argument):
// there its percent-escapes are the path's bytes, which QUrl alone decodes only when they are
// UTF-8. A name that is not UTF-8 keeps its bytes (see encodedPath).
QString localPathOf(const QUrl &url);

} // namespace tampod
