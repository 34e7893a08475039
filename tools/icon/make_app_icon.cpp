// Draws tamPOD's application icon: a dark hardware tile with a lit waveform display and a
// play key. Run by the build; writes one PNG of the given size.
//
// usage: make_app_icon OUTPUT.png [SIZE]

#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cstdio>
#include <cstdlib>

namespace {

const QColor accent = QColor::fromRgbF(0.48f, 0.94f, 0.02f);

void draw(QPainter &p)
{
    // Everything on a 1024-unit grid.
    const QRectF tile(100, 100, 824, 824);
    QPainterPath body;
    body.addRoundedRect(tile, 185, 185);

    QLinearGradient shade(tile.topLeft(), tile.bottomLeft());
    shade.setColorAt(0, QColor(58, 58, 60));
    shade.setColorAt(1, QColor(22, 22, 23));
    p.fillPath(body, shade);
    p.setPen(QPen(QColor(255, 255, 255, 40), 6));
    p.drawPath(body);

    // The display.
    const QRectF screen(190, 220, 644, 380);
    QPainterPath glass;
    glass.addRoundedRect(screen, 48, 48);
    QLinearGradient dark(screen.topLeft(), screen.bottomLeft());
    dark.setColorAt(0, QColor(8, 12, 6));
    dark.setColorAt(1, QColor(16, 22, 12));
    p.fillPath(glass, dark);
    p.setPen(QPen(QColor(0, 0, 0, 160), 8));
    p.drawPath(glass);

    // A waveform of lit bars, with a soft glow behind it.
    static const double heights[] = {0.18, 0.34, 0.52, 0.40, 0.78, 0.96, 0.64, 0.86, 0.46, 0.58, 0.30, 0.42, 0.2};
    const int bars = int(std::size(heights));
    const double pitch = 560.0 / bars;
    const double barWidth = pitch * 0.56;
    const double middle = screen.center().y();
    QPainterPath wave;
    for (int i = 0; i < bars; ++i) {
        const double half = heights[i] * 150;
        const double x = screen.left() + 42 + i * pitch + (pitch - barWidth) / 2;
        wave.addRoundedRect(QRectF(x, middle - half, barWidth, 2 * half), barWidth / 2, barWidth / 2);
    }
    QColor glow = accent;
    glow.setAlphaF(0.22f);
    p.setPen(QPen(glow, 22, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(wave);
    p.fillPath(wave, accent);

    // The play key below the display.
    const QRectF key(412, 662, 200, 172);
    QPainterPath button;
    button.addRoundedRect(key, 36, 36);
    QLinearGradient face(key.topLeft(), key.bottomLeft());
    face.setColorAt(0, QColor(150, 150, 152));
    face.setColorAt(1, QColor(112, 112, 114));
    p.fillPath(button, face);
    QPainterPath play;
    play.moveTo(480, 705);
    play.lineTo(560, 748);
    play.lineTo(480, 791);
    play.closeSubpath();
    p.fillPath(play, QColor(26, 26, 26));

    // Two round knobs beside it.
    for (double x : {268.0, 756.0}) {
        QRadialGradient knob(QPointF(x - 14, 734), 70);
        knob.setColorAt(0, QColor(96, 96, 98));
        knob.setColorAt(1, QColor(40, 40, 42));
        p.setPen(QPen(QColor(0, 0, 0, 150), 5));
        p.setBrush(knob);
        p.drawEllipse(QPointF(x, 748), 56, 56);
        p.setPen(QPen(accent, 10, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(x, 748), QPointF(x + 30, 716));
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: make_app_icon OUTPUT.png [SIZE]\n");
        return 2;
    }
    const int size = argc == 3 ? std::atoi(argv[2]) : 512;
    if (size < 16 || size > 4096) {
        std::fprintf(stderr, "make_app_icon: size must be 16 to 4096\n");
        return 2;
    }
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(size / 1024.0, size / 1024.0);
        draw(painter);
    }
    if (!image.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "make_app_icon: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
