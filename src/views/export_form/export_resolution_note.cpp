#include "views/export_form/export_resolution_note.h"

#include "views/export_form/export_form_texts.h"
#include "views/export_form/form_text.h"

#include <QLabel>
#include <QVBoxLayout>

namespace tampod {

namespace T = ExportFormText;

ExportResolutionNote::ExportResolutionNote(bool allowsPreview, QWidget *parent)
    : QWidget(parent)
    , allowsPreview_(allowsPreview)
    , vinyl_(FormText::label(T::vinylNote, TextStyle::caption, true, this))
    , loFi_(FormText::label(QString(), TextStyle::caption, true, this))
    , clipping_(FormText::label(T::clippingNote + (allowsPreview ? T::clippingWithPreview : T::clippingWithoutPreview),
                                TextStyle::caption, true, this))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(vinyl_);
    layout->addWidget(loFi_);
    layout->addWidget(clipping_);
}

void ExportResolutionNote::refresh(const ExportDefaults &settings)
{
    vinyl_->setVisible(settings.vinyl.enabled);
    QString loFi;
    if (settings.format == ExportFormat::wav && settings.bitDepth == 8)
        loFi = T::eightBitWavNote;
    else if (settings.format != ExportFormat::m4aAAC)
        loFi = T::gritNote + (allowsPreview_ ? T::gritWithPreview : T::gritWithoutPreview);
    else
        loFi = T::lossyGritNote;
    if (loFi_->text() != loFi)
        loFi_->setText(loFi);
}

QStringList ExportResolutionNote::texts() const
{
    QStringList shown;
    for (const QLabel *label : {vinyl_, loFi_, clipping_}) {
        if (!label->isHidden())
            shown << label->text();
    }
    return shown;
}

} // namespace tampod
