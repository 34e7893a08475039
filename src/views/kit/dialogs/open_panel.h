#pragma once

#include <QFileDialog>
#include <QList>
#include <QUrl>

namespace tampod {

// The Open panel: several files and folders at once, as one choice. Our own (non-native)
// dialog, so that a selected folder is chosen with "Open" instead of being entered.
class OpenPanel : public QFileDialog {
    Q_OBJECT

public:
    OpenPanel(QWidget *parent, const QString &title);

    // Runs the panel modally; the chosen files and folders, none when cancelled.
    static QList<QUrl> choose(QWidget *parent, const QString &title);

    const QList<QUrl> &chosen() const { return chosen_; }

public Q_SLOTS:
    void accept() override;

private:
    QList<QUrl> chosen_;
};

} // namespace tampod
