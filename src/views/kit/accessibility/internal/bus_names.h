#pragma once

#include <QString>

// The accessibility bus's interface names, as the guard and the call bounds both match them.
namespace tampod::atspi {

inline const QString accessibleInterfaceName = QStringLiteral("org.a11y.atspi.Accessible");
inline const QString actionInterfaceName = QStringLiteral("org.a11y.atspi.Action");
inline const QString applicationInterfaceName = QStringLiteral("org.a11y.atspi.Application");
inline const QString componentInterfaceName = QStringLiteral("org.a11y.atspi.Component");
inline const QString editableTextInterfaceName = QStringLiteral("org.a11y.atspi.EditableText");
inline const QString tableInterfaceName = QStringLiteral("org.a11y.atspi.Table");
inline const QString textInterfaceName = QStringLiteral("org.a11y.atspi.Text");
inline const QString valueInterfaceName = QStringLiteral("org.a11y.atspi.Value");

} // namespace tampod::atspi
