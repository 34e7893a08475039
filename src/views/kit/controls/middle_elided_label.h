#pragma once

#include <QLabel>

namespace tampod {

// A plain-text label that shortens its text in the middle to the room it gets, so that the
// start and the end of a long file name (its extension, a percentage) both stay visible. With
// more than one line it first wraps, within words where it must, and shortens only what does
// not fit in its lines. text() is what is shown; the full text is also its accessible name and
// tool tip. thread: main only.
class MiddleElidedLabel : public QLabel {
    Q_OBJECT

public:
    explicit MiddleElidedLabel(QWidget *parent = nullptr, int maximumLines = 1);

    void setFullText(const QString &text);
    const QString &fullText() const { return fullText_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void elide();

    QString fullText_;
    int maximumLines_;
};

} // namespace tampod
