#pragma once

#include "views/library/library_row.h"

#include <QWidget>

#include <array>

namespace tampod {

// The strip above the library table: the Export check symbol, "Name" and the titles of the
// fixed columns, with a separator at the leading edge of each titled column. It takes the
// column edges from the table, so both line up at every width. thread: main only.
class LibraryHeader : public QWidget {
    Q_OBJECT

public:
    static constexpr double designHeight = 41;
    static constexpr double separatorHeight = 29;

    explicit LibraryHeader(QWidget *parent = nullptr);

    // Edges in this strip's pixels, and the scale.
    void setColumns(const std::array<int, LibraryColumns::count + 1> &edges, double s);
    const std::array<int, LibraryColumns::count + 1> &edges() const { return edges_; }
    // The x of every separator drawn, left to right.
    QList<int> separators() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QRect columnRect(int column) const;

    std::array<int, LibraryColumns::count + 1> edges_{};
    double scale_ = 1;
    QWidget *const checkMark_;  // accessible handles for the two symbols
    QWidget *const repeatMark_;
};

} // namespace tampod
