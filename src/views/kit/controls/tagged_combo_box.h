#pragma once

#include <QComboBox>
#include <QList>
#include <QString>

namespace tampod {

class WheelGate;

// A picker whose items carry tags (saved forms). It reports only what the user chose: a
// rebuilt item list or a stored tag that is not offered never comes back as a choice, so a
// stored setting is never overwritten behind the user's back. The wheel changes the choice only
// once the user has chosen the picker (WheelGate); otherwise it scrolls the form.
// thread: main only.
class TaggedComboBox : public QComboBox {
    Q_OBJECT

public:
    struct Item {
        QString tag;
        QString title;
        bool enabled = true;
    };

    explicit TaggedComboBox(QWidget *parent = nullptr);

    // Replaces the items and shows the current tag again; emits nothing.
    void setItems(const QList<Item> &items);
    // Shows the item with this tag, or no item when none has it; emits nothing.
    void setCurrentTag(const QString &tag);
    // The tag last set or chosen, offered or not.
    const QString &currentTag() const { return tag_; }

Q_SIGNALS:
    // The user picked an item (also when it was already shown).
    void tagChosen(const QString &tag);

public:
    void showPopup() override;

private:
    void show(const QString &tag);
    // The list of choices selects the shown item, for a screen reader reading that list.
    void selectShownInList();

    QString tag_; // thread: main
    WheelGate *wheelGate_;
};

} // namespace tampod
