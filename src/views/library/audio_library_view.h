#pragma once

#include "views/library/library_rows.h"

#include <QSet>
#include <QUuid>
#include <QWidget>

#include <functional>
#include <vector>

class QLabel;
class QProgressBar;
class QPushButton;
class QVBoxLayout;

namespace tampod {

class LibraryHeader;
class LibraryTable;
class PlayerModel;
class RefreshScheduler;

// The main window's library pane: the header strip, the table (or the drop hint while the
// library is empty), the bar with Link/Unlink, the export summary and Export, the linking
// progress and message, the SD2 recovery status and the import line. It keeps no state: every
// refresh reads the player, and the table reconciles. thread: main only.
class AudioLibraryView : public QWidget {
    Q_OBJECT

public:

    // onExport starts the batch export of the library's export selection.
    AudioLibraryView(PlayerModel &player, std::function<void()> onExport, QWidget *parent = nullptr);
    ~AudioLibraryView() override;

    // The main window's scale: its content's width over the design width.
    double scale() const;
    std::vector<LibraryRow> rows() const;

    // The SD2 recovery status line, placed under the bottom bar.
    void setRecoveryStatus(QWidget *status);

    void refresh();
    // How many times refresh() has run: a detection's progress step redraws its own rows only.
    int refreshCount() const { return refreshCount_; }

    LibraryHeader *header() const { return header_; }
    LibraryTable *table() const { return table_; }
    QLabel *dropHint() const { return hint_; }
    QPushButton *linkButton() const { return link_; }
    QPushButton *unlinkButton() const { return unlink_; }
    QLabel *summary() const { return summary_; }
    QPushButton *exportButton() const { return export_; }
    QWidget *bottomBar() const { return bar_; }
    QWidget *linkingLine() const { return linking_; }
    QLabel *linkingMessage() const { return message_; }
    QWidget *loadingLine() const { return loading_; }

protected:
    void resizeEvent(QResizeEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void placeHeader();
    // Shows the tracks in changedTracks_ (a detection's step or end, a found tempo) in their
    // rows alone.
    void refreshChangedTracks();

    PlayerModel &player_;
    LibraryHeader *const header_;
    LibraryTable *const table_;
    QLabel *const hint_;
    QWidget *const bar_;
    QPushButton *const link_;
    QPushButton *const unlink_;
    QLabel *const summary_;
    QPushButton *const export_;
    QWidget *const linking_;
    QProgressBar *const linkingProgress_;
    QLabel *const message_;
    QVBoxLayout *const recoverySlot_;
    QWidget *const loading_;
    RefreshScheduler *const scheduler_;
    // Changes of one track's rows alone (the high-rate progress steps of detections, their ends
    // and the tempos found), by library track, coalesced on their own.
    RefreshScheduler *const trackScheduler_;
    QSet<QUuid> changedTracks_;
    int refreshCount_ = 0;
    mutable LibraryRowCache rowCache_;
};

} // namespace tampod
