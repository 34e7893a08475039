#pragma once

#include "export/export_defaults.h"

#include <QWidget>

class QLabel;

namespace tampod {

// The notes that explain the lo-fi, clipping and Vinyl choices of a draft. thread: main only.
class ExportResolutionNote : public QWidget {
    Q_OBJECT

public:
    ExportResolutionNote(bool allowsPreview, QWidget *parent = nullptr);

    void refresh(const ExportDefaults &settings);

    // The notes shown, in order.
    QStringList texts() const;

private:
    const bool allowsPreview_;
    QLabel *vinyl_;
    QLabel *loFi_;
    QLabel *clipping_;
};

} // namespace tampod
