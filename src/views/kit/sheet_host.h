#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class QWidget;

namespace tampod {

class SheetDialog;

// The main window's export sheets: at most one single-file export sheet and one batch export
// sheet, each living until it is dismissed. A factory builds a sheet for the current state or
// gives none when there is nothing to show; until the export views exist, the sheets open
// empty. thread: main.
class SheetHost : public QObject {
    Q_OBJECT

public:
    using Factory = std::function<SheetDialog *(QWidget *window)>;

    explicit SheetHost(QWidget *window);

    void setExportFactory(Factory factory) { exportFactory_ = std::move(factory); }
    void setBatchFactory(Factory factory) { batchFactory_ = std::move(factory); }

    // Builds and shows the sheet; false when the factory gave none or another sheet is up.
    bool presentExport();
    bool presentBatch();
    SheetDialog *exportSheet() const { return export_; }
    SheetDialog *batchSheet() const { return batch_; }

    // An empty sheet with a title, deleted once dismissed.
    static SheetDialog *emptySheet(QWidget *window, const QString &title);

private:
    bool present(const Factory &factory, QPointer<SheetDialog> &slot);

    QWidget *window_;
    Factory exportFactory_;
    Factory batchFactory_;
    QPointer<SheetDialog> export_;
    QPointer<SheetDialog> batch_;
};

} // namespace tampod
