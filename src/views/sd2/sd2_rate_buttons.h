#pragma once

#include <QAbstractButton>
#include <QSizeF>
#include <QWidget>

#include <array>
#include <functional>

namespace tampod {

class PlayerModel;
class RefreshScheduler;

// One of the sidebar's quick recovery choices: an outlined label, lit while its choice is in
// force, dimmed while there is nothing to recover. Drawn at 66 × 42 design units scaled with
// its width. thread: main.
class SD2RateButton : public QAbstractButton {
    Q_OBJECT

public:
    static constexpr QSizeF designSize{66, 42};
    static constexpr double cornerRadius = 4;
    static constexpr double dimmedOpacity = 0.4;

    SD2RateButton(const QString &title, double textSize, QWidget *parent = nullptr);

    void setSelected(bool selected);
    bool isSelected() const { return selected_; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    double textSize_;
    bool selected_ = false;
};

// The sidebar's quick SD2 recovery: 44.1 and 48 kHz and 16- and 24-bit, one click each, for
// the selected track's missing-metadata recovery. The main window shows it only while that
// track has a recovery record. Laid out in the sidebar's design width, scaled with its width.
// thread: main.
class SD2RateButtons : public QWidget {
    Q_OBJECT

public:
    static constexpr double spacing = 12;
    static constexpr int rates[2] = {44100, 48000};
    static constexpr int depths[2] = {16, 24};

    SD2RateButtons(PlayerModel &player, double sidebarDesignWidth, QWidget *parent = nullptr);

    // In order: 44.1, 48, 16-bit, 24-bit.
    const std::array<SD2RateButton *, 4> &buttons() const { return buttons_; }

    void refresh();

private:
    void recoverRate(int rate);

    PlayerModel &player_;
    std::array<SD2RateButton *, 4> buttons_{};
    RefreshScheduler *scheduler_;
};

} // namespace tampod
