#include "views/kit/dialogs/alert_dialog.h"

#include "views/kit/design_scale.h"
#include "views/kit/theme.h"
#include "views/kit/view_texts.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace tampod {

namespace {

// The caution sign: a rounded triangle with an exclamation mark cut out, on a 64-unit grid.
QPainterPath cautionSign()
{
    QPainterPath triangle;
    triangle.moveTo(32, 6);
    triangle.lineTo(60, 56);
    triangle.lineTo(4, 56);
    triangle.closeSubpath();
    QPainterPathStroker rounder;
    rounder.setWidth(8);
    rounder.setJoinStyle(Qt::RoundJoin);
    QPainterPath sign = rounder.createStroke(triangle).united(triangle);

    QPainterPath mark;
    mark.addRoundedRect(QRectF(29, 21, 6, 21), 3, 3);
    mark.addEllipse(QRectF(28.5, 45, 7, 7));
    return sign.subtracted(mark);
}

class CautionIcon : public QWidget {
public:
    explicit CautionIcon(QWidget *parent)
        : QWidget(parent)
    {
        setFixedSize(64, 64);
        DesignScale::setDesignSize(this, QSizeF(64, 64));
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const double s = DesignScale::of(this);
        painter.scale(s, s);
        painter.fillPath(cautionSign(), Theme::caution);
    }
};

} // namespace

AlertDialog::AlertDialog(const QString &title, const QString &message, QWidget *parent)
    : QDialog(parent)
    , title_(new QLabel(title))
    , message_(new QLabel(message))
    , textColumn_(new QVBoxLayout)
    , buttonRow_(new QHBoxLayout)
{
    setWindowTitle(ViewText::applicationName);
    setWindowModality(Qt::ApplicationModal);

    for (QLabel *label : {title_, message_}) {
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(true);
        label->setFixedWidth(340);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    }
    QFont bold = title_->font();
    bold.setBold(true);
    title_->setFont(bold);
    title_->setAccessibleName(title);
    message_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    textColumn_->setSpacing(8);
    textColumn_->addWidget(title_);
    textColumn_->addWidget(message_);

    auto *iconColumn = new QVBoxLayout;
    iconColumn->addWidget(new CautionIcon(this));
    iconColumn->addStretch();

    auto *top = new QHBoxLayout;
    top->setSpacing(16);
    top->addLayout(iconColumn);
    top->addLayout(textColumn_, 1);

    buttonRow_->setSpacing(8);
    buttonRow_->addStretch();

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 16);
    layout->setSpacing(18);
    layout->addLayout(top);
    layout->addLayout(buttonRow_);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

int AlertDialog::addButton(const QString &text)
{
    auto *button = new QPushButton(text, this);
    button->setAutoDefault(false);
    button->setMinimumWidth(84);
    const int index = buttons_.size();
    buttons_.append(button);
    // Rightmost first: later buttons go left of the earlier ones.
    buttonRow_->insertWidget(1, button);
    connect(button, &QPushButton::clicked, this, [this, index] { press(index); });
    if (defaultIndex_ < 0)
        setDefaultButton(index);
    return index;
}

void AlertDialog::setDefaultButton(int index)
{
    for (int i = 0; i < buttons_.size(); ++i)
        buttons_[i]->setDefault(i == index);
    defaultIndex_ = index;
}

void AlertDialog::setAccessoryText(const QString &text, QSize size, const QString &accessibleName)
{
    if (!accessory_) {
        accessory_ = new QPlainTextEdit(this);
        accessory_->setReadOnly(true);
        accessory_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        accessory_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        accessory_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        accessory_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        // Tab reaches it from the buttons and leaves it again: a reader hears what it holds.
        accessory_->setFocusPolicy(Qt::StrongFocus);
        accessory_->setTabChangesFocus(true);
        QFont font = accessory_->font();
        font.setPixelSize(12);
        accessory_->setFont(font);
        textColumn_->addWidget(accessory_);
    }
    accessory_->setFixedSize(size);
    accessory_->setPlainText(text);
    // Named by the message it details ("The following items were rejected:") unless told.
    accessory_->setAccessibleName(accessibleName.isEmpty() ? message_->text() : accessibleName);
    // And spoken with the alert itself, for a reader that reads an alert's description.
    setAccessibleDescription(text);
    for (QLabel *label : {title_, message_})
        label->setFixedWidth(std::max(340, size.width()));
}

QString AlertDialog::title() const
{
    return title_->text();
}

QString AlertDialog::message() const
{
    return message_->text();
}

int AlertDialog::runModal()
{
    clicked_ = -1;
    exec();
    return clicked_;
}

void AlertDialog::press(int index)
{
    clicked_ = index;
    done(index == escapeIndex_ ? QDialog::Rejected : QDialog::Accepted);
}

void AlertDialog::reject()
{
    if (escapeIndex_ >= 0)
        press(escapeIndex_);
    else if (buttons_.size() == 1)
        press(0); // a lone "OK" is what closing the alert means
    else
        QDialog::reject();
}

void AlertDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (defaultIndex_ >= 0)
        buttons_[defaultIndex_]->setFocus(Qt::OtherFocusReason);
}

} // namespace tampod
