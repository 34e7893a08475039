#include "views/kit/controls/tagged_combo_box.h"

#include "views/kit/controls/wheel_gate.h"
#include "views/kit/accessibility/view_accessibility.h"

#include <QAbstractItemView>
#include <QItemSelectionModel>
#include <QSignalBlocker>
#include <QStandardItemModel>

namespace tampod {

TaggedComboBox::TaggedComboBox(QWidget *parent)
    : QComboBox(parent)
    , wheelGate_(WheelGate::install(this))
{
    // Named by its label, not its choice, for a screen reader.
    makeAccessible(this, QAccessible::ComboBox);
    // Not focused by the wheel: a form scrolled past a picker must not start changing it.
    setFocusPolicy(Qt::StrongFocus);
    connect(this, &QComboBox::currentIndexChanged, this, &TaggedComboBox::selectShownInList);
    connect(this, &QComboBox::activated, this, [this](int index) {
        const QString tag = itemData(index).toString();
        tag_ = tag;
        Q_EMIT tagChosen(tag);
    });
}

void TaggedComboBox::setItems(const QList<Item> &items)
{
    const QSignalBlocker blocker(this);
    clear();
    for (const Item &item : items) {
        addItem(item.title, item.tag);
        if (!item.enabled) {
            if (auto *standard = qobject_cast<QStandardItemModel *>(model()))
                standard->item(count() - 1)->setEnabled(false);
        }
    }
    show(tag_);
}

void TaggedComboBox::setCurrentTag(const QString &tag)
{
    tag_ = tag;
    show(tag);
}

void TaggedComboBox::show(const QString &tag)
{
    const QSignalBlocker blocker(this);
    const int index = findData(tag);
    if (currentIndex() != index)
        setCurrentIndex(index);
    selectShownInList();
}

void TaggedComboBox::selectShownInList()
{
    QItemSelectionModel *selection = view()->selectionModel();
    const QModelIndex shown = model()->index(currentIndex(), modelColumn(), rootModelIndex());
    if (!shown.isValid())
        selection->clearSelection();
    else if (!selection->isSelected(shown))
        selection->select(shown, QItemSelectionModel::ClearAndSelect);
}

void TaggedComboBox::showPopup()
{
    QComboBox::showPopup();
    // Opened, from the keyboard too, the user has chosen this picker. After the list has taken
    // the focus, which it hands back on closing.
    wheelGate_->engage();
}

} // namespace tampod
