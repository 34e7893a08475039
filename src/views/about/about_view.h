#pragma once

#include <QWidget>

namespace tampod {

// The About window's content: icon, name, version and copyright, 360 × 410, not resizable.
class AboutView : public QWidget {
    Q_OBJECT

public:
    static constexpr QSize size{360, 410};

    explicit AboutView(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

} // namespace tampod
