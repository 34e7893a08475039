#include "views/about/about_view.h"

#include "views/about/app_identity.h"
#include "views/kit/theme.h"
#include "views/kit/view_texts.h"

#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace tampod {

namespace {

// An image scaled to fit its frame when painted, so it stays sharp at any pixel ratio.
class ImageView : public QWidget {
public:
    ImageView(const QImage &image, QSize frame, QWidget *parent)
        : QWidget(parent)
        , image_(image)
    {
        setFixedSize(frame);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.setRenderHint(QPainter::Antialiasing);
        QSizeF fitted = QSizeF(image_.size()).scaled(QSizeF(size()), Qt::KeepAspectRatio);
        QRectF target(QPointF(), fitted);
        target.moveCenter(QRectF(rect()).center());
        painter.drawImage(target, image_);
    }

private:
    QImage image_;
};

QLabel *plainLabel(const QString &text, int pixelSize, bool bold, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignCenter);
    QFont font = label->font();
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    label->setFont(font);
    return label;
}

} // namespace

AboutView::AboutView(QWidget *parent)
    : QWidget(parent)
{
    setFixedSize(size);
    setPalette(Theme::darkPalette()); // dark whatever the desktop's scheme

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(10);
    layout->addStretch();

    if (const QImage &icon = AppIdentity::appIcon(); !icon.isNull()) {
        auto *image = new ImageView(icon, QSize(72, 72), this);
        image->setAccessibleName(ViewText::appIconLabel);
        layout->addWidget(image, 0, Qt::AlignHCenter);
    }

    auto *name = plainLabel(ViewText::applicationName, 28, true, this);
    layout->addWidget(name);

    auto *version = plainLabel(AppIdentity::version(), 13, false, this);
    version->setObjectName(QStringLiteral("version"));
    version->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    // The window's one stop for the keyboard: a reader lands on the version, not on nothing.
    version->setFocusPolicy(Qt::StrongFocus);
    layout->addWidget(version);

    auto *copyright = plainLabel(ViewText::copyright, 11, false, this);
    QPalette dimmed = copyright->palette();
    dimmed.setColor(QPalette::WindowText, Theme::secondaryText);
    copyright->setPalette(dimmed);
    layout->addWidget(copyright);

    layout->addStretch();
}

void AboutView::paintEvent(QPaintEvent *)
{
    QPainter(this).fillRect(rect(), Theme::background);
}

} // namespace tampod
