#pragma once

#include <QLabel>

namespace tampod {

// A rich-text label whose links Tab visits one by one, as QLabel's do, and which a screen reader
// hears at each: while a link has the keyboard, the label's accessible name is linkPrefix and
// the link's text, announced as the focus; otherwise it is name. QLabel itself keeps its one
// name, so a reader hears only what the label said when Tab first reached it.
// thread: main only.
class LinkLabel final : public QLabel {
public:
    LinkLabel(const QString &markup, const QString &name, const QString &linkPrefix, QWidget *parent = nullptr);

protected:
    bool focusNextPrevChild(bool next) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    // Names the label for the link that has the keyboard now; true when the name changed.
    bool nameFocusedLink();

    QString name_;
    QString linkPrefix_;
};

} // namespace tampod
