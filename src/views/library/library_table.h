#pragma once

#include "views/kit/accessibility/accessible_table_source.h"
#include "views/library/library_row.h"

#include <QSet>
#include <QTableView>
#include <QUuid>

#include <functional>
#include <optional>
#include <vector>

namespace tampod {

class LibraryTableModel;

// The library list: eight fixed columns (Name takes the rest of the width), rows 56 × s high.
// It holds no library state: every update hands it all rows, the selected and checked rows and
// the row to keep in view, and it reconciles its own state with them. Its callbacks report
// what the user did; a selection made by an update is never reported back. A click in the
// Export column toggles that row's check without touching the selection. A screen reader
// toggles the check and presses Get and × through the same callbacks. For the keyboard the
// table is one Tab stop; arriving there selects nothing, and the arrow keys move the selection
// from the selected row, whoever selected it. thread: main only.
class LibraryTable : public QTableView, public AccessibleTableSource {
    Q_OBJECT

public:
    struct Update {
        std::vector<LibraryRow> rows;
        QSet<QUuid> selection;
        // Scrolled into view when it changes, and kept whole in view when the list's height
        // changes while it is.
        std::optional<QUuid> focus;
        double scale = 1;
        QSet<QUuid> checked;
    };

    explicit LibraryTable(QWidget *parent = nullptr);
    ~LibraryTable() override;

    std::function<void(const QSet<QUuid> &)> onSelection = [](const QSet<QUuid> &) {};
    std::function<void(const QUuid &)> onPlay = [](const QUuid &) {};
    std::function<void(const QUuid &, bool)> onCheck = [](const QUuid &, bool) {};
    std::function<void(const QUuid &)> onGetBPM = [](const QUuid &) {};
    std::function<void(const QUuid &)> onCancelBPM = [](const QUuid &) {};

    void apply(Update update);

    LibraryTableModel *tableModel() const { return model_; }
    double scale() const { return scale_; }
    // The columns' pixel edges in the viewport, count + 1 of them.
    std::array<int, LibraryColumns::count + 1> columnEdges() const;

    // AccessibleTableSource: the BPM cell's Get or ×, and the Export check.
    QList<CellButton> cellButtons(const QModelIndex &index) const override;
    void pressCellButton(const QModelIndex &index, int button) override;
    bool isCheckCell(const QModelIndex &index) const override;
    void toggleCheckCell(const QModelIndex &index) override;

Q_SIGNALS:
    // The column edges or the scale changed: the header strip follows.
    void columnsChanged();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    bool viewportEvent(QEvent *event) override;
    void selectionChanged(const QItemSelection &selected, const QItemSelection &deselected) override;
    void focusInEvent(QFocusEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;

private:
    void layoutColumns();
    void syncSelection(const QSet<QUuid> &ids);
    void toggleCheck(int row);
    void followSelection();
    // The row of id in the list now.
    std::optional<int> rowOf(const std::optional<QUuid> &id) const;
    // Whether row is whole in sight in a viewport viewportHeight high.
    bool isWhole(int row, int viewportHeight) const;

    LibraryTableModel *const model_;
    bool isUpdating_ = false;
    std::optional<QUuid> focus_;
    double scale_ = 1;
    // The Get or × pressed, acted on when released over it.
    struct Press {
        QUuid row;
        int part;
    };
    std::optional<Press> press_;
};

} // namespace tampod
