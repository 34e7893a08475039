#pragma once

#include <QString>

// Where the Vinyl samples live: real files that the build synthesises into <build>/share/tampod/
// and that are found at <folder of the executable>/../share/tampod/.
namespace tampod::VinylResources {

QString folder();
// The sample file of a resource name ("lo-fi_vinyl1", ..., "vinyl_hum").
QString path(const QString &name);

} // namespace tampod::VinylResources
