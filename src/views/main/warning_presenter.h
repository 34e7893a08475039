#pragma once

#include "views/kit/dialogs/alert_presenting.h"
#include "views/main/sd2_depth_warning.h"

#include <QSize>

#include <functional>
#include <memory>

class QWidget;

namespace tampod {

class AlertDialog;

// The application's alerts on AlertDialog. Each alert is built, run and released; nothing
// survives from one to the next. thread: main only.
class WarningPresenter : public AlertPresenting {
public:
    // Runs a built alert and returns the index of the button that ended it (-1 for none).
    using Runner = std::function<int(AlertDialog &)>;
    // The window the alerts are centred on (may give none).
    using ParentWindow = std::function<QWidget *()>;

    explicit WarningPresenter(ParentWindow parent = {}, Runner runner = {});

    void show(const QString &title, const QString &message, const QStringList &details) override;
    bool confirmQuit() override;
    bool confirmRecoveryDepth(int bitDepth) override;
    void showRecovery(const SD2RecoveryFailure &failure) override;

    // The alerts, built and not run.
    std::unique_ptr<AlertDialog> alert(const QString &title, const QString &message) const;
    std::unique_ptr<AlertDialog> warningAlert(const QString &title, const QString &message,
                                              const QStringList &details) const;
    std::unique_ptr<AlertDialog> quitAlert() const;
    std::unique_ptr<AlertDialog> depthConfirmationAlert(const SD2DepthWarning &warning) const;
    std::unique_ptr<AlertDialog> recoveryAlert(const SD2RecoveryFailure &failure, bool expanded) const;

    static constexpr QSize detailsSize{420, 180};
    static constexpr QSize explanationSize{440, 190};

private:
    ParentWindow parent_;
    Runner runner_;
};

} // namespace tampod
