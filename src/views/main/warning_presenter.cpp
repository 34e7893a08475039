#include "views/main/warning_presenter.h"

#include "views/kit/dialogs/alert_dialog.h"
#include "views/kit/refresh_scheduler.h"
#include "views/kit/view_texts.h"

#include "sd2/sd2_recovery_failure.h"

#include <QWidget>

namespace tampod {

WarningPresenter::WarningPresenter(ParentWindow parent, Runner runner)
    : parent_(std::move(parent))
    , runner_([runner = runner ? std::move(runner) : Runner([](AlertDialog &alert) { return alert.runModal(); })](
                  AlertDialog &alert) {
        // The window behind the alert shows the state the alert is about (Play no longer lit).
        RefreshScheduler::refreshAllScheduled();
        return runner(alert);
    })
{
}

std::unique_ptr<AlertDialog> WarningPresenter::alert(const QString &title, const QString &message) const
{
    return std::make_unique<AlertDialog>(title, message, parent_ ? parent_() : nullptr);
}

std::unique_ptr<AlertDialog> WarningPresenter::warningAlert(const QString &title, const QString &message,
                                                            const QStringList &details) const
{
    auto dialog = alert(title, message);
    dialog->addButton(ViewText::ok);
    if (!details.isEmpty())
        dialog->setAccessoryText(details.join(QStringLiteral("\n\n")), detailsSize);
    return dialog;
}

void WarningPresenter::show(const QString &title, const QString &message, const QStringList &details)
{
    auto dialog = warningAlert(title, message, details);
    runner_(*dialog);
}

std::unique_ptr<AlertDialog> WarningPresenter::quitAlert() const
{
    auto dialog = alert(ViewText::quitTitle, ViewText::quitMessage);
    dialog->addButton(ViewText::quit);
    dialog->setEscapeButton(dialog->addButton(ViewText::cancel));
    return dialog;
}

bool WarningPresenter::confirmQuit()
{
    auto dialog = quitAlert();
    return runner_(*dialog) == 0;
}

std::unique_ptr<AlertDialog> WarningPresenter::depthConfirmationAlert(const SD2DepthWarning &warning) const
{
    auto dialog = alert(warning.title(), warning.message());
    const int cancel = dialog->addButton(ViewText::cancel);
    dialog->addButton(warning.tryButton());
    // Return and the first focus stay on "Cancel": a wrong depth can be painfully loud.
    dialog->setDefaultButton(cancel);
    dialog->setEscapeButton(cancel);
    return dialog;
}

bool WarningPresenter::confirmRecoveryDepth(int bitDepth)
{
    auto dialog = depthConfirmationAlert(SD2DepthWarning{bitDepth});
    return runner_(*dialog) == 1;
}

std::unique_ptr<AlertDialog> WarningPresenter::recoveryAlert(const SD2RecoveryFailure &failure, bool expanded) const
{
    auto dialog = alert(failure.title, failure.message);
    dialog->addButton(ViewText::ok);
    dialog->addButton(expanded ? ViewText::hideTechnicalExplanation : ViewText::technicalExplanation);
    if (expanded)
        dialog->setAccessoryText(failure.technicalExplanation, explanationSize, ViewText::technicalExplanation);
    return dialog;
}

void WarningPresenter::showRecovery(const SD2RecoveryFailure &failure)
{
    bool expanded = false;
    for (;;) {
        auto dialog = recoveryAlert(failure, expanded);
        if (runner_(*dialog) != 1)
            return;
        expanded = !expanded;
    }
}

} // namespace tampod
