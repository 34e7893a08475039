#pragma once

#include <QDialog>
#include <QList>
#include <QString>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QHBoxLayout;
class QVBoxLayout;

namespace tampod {

// A modal alert: the caution sign, a bold title, a message, an optional scrolling text and
// its buttons, the first one rightmost. Every text is shown as plain text. Built and then run
// by its caller; runModal() is the one place the application enters an alert's modal loop.
class AlertDialog : public QDialog {
    Q_OBJECT

public:
    AlertDialog(const QString &title, const QString &message, QWidget *parent = nullptr);

    // Adds a button after the others (to the left of them); returns its index.
    int addButton(const QString &text);
    // Return presses this button (the first one unless set otherwise); it starts with focus.
    void setDefaultButton(int index);
    // Escape and the window's close button press this button; without one they press none.
    void setEscapeButton(int index) { escapeIndex_ = index; }
    // A selectable, read-only plain text of the given size under the message, which Tab
    // reaches; named accessibleName, else the message. It is also the alert's description.
    void setAccessoryText(const QString &text, QSize size, const QString &accessibleName = {});

    QString title() const;
    QString message() const;
    QList<QPushButton *> buttons() const { return buttons_; }
    int defaultButton() const { return defaultIndex_; }
    int escapeButton() const { return escapeIndex_; }
    QPlainTextEdit *accessory() const { return accessory_; }

    // The button that ended the alert, or -1 when none did.
    int clickedButton() const { return clicked_; }

    // Runs the alert modally and returns clickedButton().
    int runModal();

protected:
    void reject() override;
    void showEvent(QShowEvent *event) override;

private:
    void press(int index);

    QLabel *title_;
    QLabel *message_;
    QVBoxLayout *textColumn_;
    QHBoxLayout *buttonRow_;
    QPlainTextEdit *accessory_ = nullptr;
    QList<QPushButton *> buttons_;
    int defaultIndex_ = -1;
    int escapeIndex_ = -1;
    int clicked_ = -1;
};

} // namespace tampod
