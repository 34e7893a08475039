#pragma once

#include <QColor>
#include <QList>
#include <QSizeF>
#include <QString>
#include <QWidget>

namespace tampod {

// Two rows of round lamps showing the output peak level of each channel (0…1, left first),
// drawn at its design size scaled with its width. thread: main.
class StereoMeterView : public QWidget {
    Q_OBJECT

public:
    static constexpr int lampCount = 11;
    static constexpr double lampSize = 15;
    static constexpr double lampSpacing = 6;
    static constexpr double rowSpacing = 10;
    static constexpr double unlitOpacity = 0.22;
    static constexpr QSizeF designSize{lampCount * lampSize + (lampCount - 1) * lampSpacing, 2 * lampSize + rowSpacing};

    explicit StereoMeterView(QWidget *parent = nullptr);

    void setLevels(const QList<double> &levels);
    const QList<double> &levels() const { return levels_; }

    // Lamp i of channel c is lit while i / 11 is below the channel's level; a missing channel
    // is dark.
    static bool isLit(const QList<double> &levels, int channel, int lamp);
    static QColor lampColor(int lamp);
    // "Silent", or each level in whole percent.
    static QString valueText(const QList<double> &levels);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QList<double> levels_;
};

} // namespace tampod
