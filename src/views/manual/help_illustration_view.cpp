#include "views/manual/help_illustration_view.h"

#include "views/manual/help_typography.h"
#include "views/manual/manual_texts.h"

#include "views/kit/dialogs/sheet_host.h"
#include "views/kit/theme.h"

#include <QHBoxLayout>
#include <QImageReader>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QVBoxLayout>

namespace tampod {

namespace {

// Screenshots at twice the pixels of the largest window take about 8 MB decoded.
constexpr int figureAllocationLimitMB = 64;

// The image, filling the card's width with its aspect kept; pressing it enlarges the figure.
class FigureImageButton : public QAbstractButton {
public:
    FigureImageButton(QImage image, QWidget *parent)
        : QAbstractButton(parent)
        , image_(std::move(image))
    {
        QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        policy.setHeightForWidth(true);
        setSizePolicy(policy);
        setCursor(Qt::PointingHandCursor);
    }

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override
    {
        return image_.width() > 0 ? qRound(double(width) * image_.height() / image_.width()) : 0;
    }
    QSize sizeHint() const override { return image_.size(); }
    QSize minimumSizeHint() const override { return QSize(0, 0); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        drawFitted(painter, QRectF(rect()), image_);
        if (hasFocus()) {
            QStyleOptionFocusRect option;
            option.initFrom(this);
            style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
        }
    }

private:
    QImage image_;
};

} // namespace

QImage loadFigureImage(const QString &folder, const QString &resourceName)
{
    QImageReader reader(folder + u'/' + resourceName + QStringLiteral(".png"), "png");
    const int limit = QImageReader::allocationLimit();
    QImageReader::setAllocationLimit(figureAllocationLimitMB);
    QImage image = reader.read();
    QImageReader::setAllocationLimit(limit);
    return image;
}

HelpIllustrationView::HelpIllustrationView(HelpIllustration figure, QString imageFolder, QWidget *parent)
    : RoundedPlate(12, Theme::manualFigureCard, parent)
    , figure_(std::move(figure))
    , imageFolder_(std::move(imageFolder))
{
    setFont(HelpTypography::body());
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(10);
    layout->addWidget(headingLabel(figure_.title, HelpTypography::heading(), this));

    if (QImage image = loadFigureImage(imageFolder_, figure_.resourceName); !image.isNull()) {
        const QString enlargeName = ManualText::enlargeImageFor + figure_.title;
        imageButton_ = new FigureImageButton(std::move(image), this);
        imageButton_->setAccessibleName(enlargeName);
        imageButton_->setAccessibleDescription(figure_.accessibilityDescription);
        layout->addWidget(imageButton_);
        connect(imageButton_, &QAbstractButton::clicked, this, &HelpIllustrationView::enlarge);

        enlargeButton_ = new QPushButton(ManualText::enlargeImage, this);
        enlargeButton_->setAccessibleName(enlargeName);
        layout->addWidget(enlargeButton_, 0, Qt::AlignLeft);
        connect(enlargeButton_, &QPushButton::clicked, this, &HelpIllustrationView::enlarge);
    }

    layout->addWidget(new SelectableText(figure_.caption, this));
}

void HelpIllustrationView::enlarge()
{
    if (sheet_ || !imageButton_)
        return;
    auto *sheet = new HelpFigureSheet(figure_, imageFolder_, window());
    sheet_ = sheet;
    // A sheet already up on the window refuses it, and it is gone again.
    SheetHost::of(this).present(sheet);
}

HelpFigureSheet *HelpIllustrationView::sheet() const
{
    return sheet_.data();
}

HelpFigureSheet::HelpFigureSheet(const HelpIllustration &figure, const QString &imageFolder, QWidget *window)
    : SheetDialog(window)
{
    setWindowTitle(figure.title);
    setFont(HelpTypography::body());
    resize(800, 600);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(12);

    auto *top = new QHBoxLayout;
    top->setSpacing(12);
    top->addWidget(headingLabel(figure.title, HelpTypography::heading(), this), 1);
    done_ = new QPushButton(ManualText::done, this);
    done_->setAccessibleName(ManualText::done);
    done_->setAutoDefault(false);
    top->addWidget(done_, 0, Qt::AlignTop);
    layout->addLayout(top);
    // Escape reaches the same end through the sheet's reject().
    connect(done_, &QPushButton::clicked, this, [this] { dismiss(); });

    if (const QImage image = loadFigureImage(imageFolder, figure.resourceName); !image.isNull()) {
        // One image pixel per pixel: a screenshot shows as taken and scrolls when larger.
        auto *picture = new FittedImage(image);
        picture->setFixedSize(image.size());
        picture->setAccessibleName(figure.accessibilityDescription);
        imageArea_ = new QScrollArea(this);
        imageArea_->setWidget(picture);
        imageArea_->setAlignment(Qt::AlignCenter);
        imageArea_->setFrameShape(QFrame::NoFrame);
        imageArea_->setAccessibleName(figure.accessibilityDescription);
        layout->addWidget(imageArea_, 1);
    }

    layout->addWidget(new SelectableText(figure.caption, this));
    if (!imageArea_)
        layout->addStretch(1);
}

} // namespace tampod
