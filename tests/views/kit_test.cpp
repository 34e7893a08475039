#include "views/binding.h"
#include "views/design_scale_layout.h"
#include "views/refresh_scheduler.h"
#include "views/sheet_dialog.h"
#include "views/stepper.h"
#include "views/tagged_combo_box.h"

#include "support/test_support.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QWidget>

#include <gtest/gtest.h>

using namespace tampod;

TEST(RefreshScheduler, CoalescesABurstIntoOneRefresh)
{
    int refreshes = 0;
    RefreshScheduler scheduler([&] { ++refreshes; });
    ObservableFlag a, b;
    scheduler.watch(&a, &ObservableFlag::valueChanged);
    scheduler.watch(&b, &ObservableFlag::valueChanged);
    a.setValue(true);
    b.setValue(true);
    a.setValue(false);
    EXPECT_EQ(refreshes, 0);
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(refreshes, 1);
    a.setValue(false); // no change, no signal
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(refreshes, 1);
    scheduler.schedule();
    scheduler.refreshNow(); // the queued one is then dropped
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(refreshes, 2);
}

TEST(TaggedComboBox, ReportsOnlyTheUsersChoice)
{
    TaggedComboBox box;
    QStringList chosen;
    QObject::connect(&box, &TaggedComboBox::tagChosen, [&](const QString &tag) { chosen.append(tag); });
    box.setCurrentTag(QStringLiteral("aiff"));
    box.setItems({{QStringLiteral("wav"), QStringLiteral("WAV")}, {QStringLiteral("aiff"), QStringLiteral("AIFF")}});
    EXPECT_EQ(box.currentIndex(), 1);
    // A stored tag that is not offered shows nothing and is kept, never replaced.
    box.setCurrentTag(QStringLiteral("sd2"));
    EXPECT_EQ(box.currentIndex(), -1);
    box.setItems({{QStringLiteral("wav"), QStringLiteral("WAV")}});
    EXPECT_EQ(box.currentIndex(), -1);
    EXPECT_EQ(box.currentTag(), QStringLiteral("sd2"));
    EXPECT_EQ(chosen.count(), 0);

    Q_EMIT box.activated(0);
    EXPECT_EQ(chosen, QStringList{QStringLiteral("wav")});
    EXPECT_EQ(box.currentTag(), QStringLiteral("wav"));
}

TEST(Stepper, NeverWritesBackAClampedValue)
{
    Stepper stepper;
    stepper.setRange(1, 999);
    QList<int> chosen;
    QObject::connect(&stepper, &Stepper::valueChosen, [&](int value) { chosen.append(value); });
    stepper.setStoredValue(5000);
    stepper.setStoredValue(0);
    EXPECT_EQ(chosen.count(), 0);
    stepper.stepUp();
    EXPECT_EQ(chosen, QList<int>{2});
}

TEST(SheetDialog, EveryWayOutRunsTheCloseActionOnce)
{
    QWidget window;
    window.resize(600, 400);
    window.show();
    enum class Way { escape, closeButton, dismiss };
    for (Way way : {Way::escape, Way::closeButton, Way::dismiss}) {
        int closes = 0;
        auto *sheet = new SheetDialog(&window);
        sheet->setOnClose([&] { ++closes; });
        ASSERT_TRUE(sheet->present());
        EXPECT_EQ(SheetDialog::current(), sheet);
        EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
        // One sheet at a time.
        SheetDialog other(&window);
        EXPECT_FALSE(other.present());
        EXPECT_FALSE(other.isVisible());
        switch (way) {
        case Way::escape: {
            QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QApplication::sendEvent(sheet, &escape);
            break;
        }
        case Way::closeButton:
            sheet->close();
            break;
        case Way::dismiss:
            sheet->dismiss();
            break;
        }
        sheet->dismiss(); // a second way out does nothing more
        sheet->close();
        EXPECT_EQ(closes, 1) << int(way);
        EXPECT_FALSE(sheet->isVisible());
        EXPECT_EQ(SheetDialog::current(), nullptr);
        delete sheet;
    }
}

TEST(SheetDialog, StaysWhileItRefusesToClose)
{
    QWidget window;
    window.show();
    SheetDialog sheet(&window);
    bool busy = true;
    int closes = 0;
    sheet.setRefusesClose([&] { return busy; });
    sheet.setOnClose([&] { ++closes; });
    ASSERT_TRUE(sheet.present());
    EXPECT_FALSE(sheet.dismiss());
    sheet.close();
    EXPECT_TRUE(sheet.isVisible());
    EXPECT_EQ(closes, 0);
    busy = false;
    EXPECT_TRUE(sheet.dismiss());
    EXPECT_EQ(closes, 1);
}

TEST(DesignScaleLayout, RoundsEdgesSoNeighboursNeverGap)
{
    QWidget host;
    auto *layout = new DesignScaleLayout(QSizeF(1104, 435), &host);
    QList<QWidget *> cells;
    for (int i = 0; i < 7; ++i) {
        cells.append(new QWidget);
        layout->addWidget(cells.last(), QRectF(10 + i * 33.3, 5.5, 33.3, 20.2));
    }
    for (int width : {1104, 607, 552, 333}) {
        host.resize(width, 435);
        layout->setGeometry(QRect(0, 0, width, 435));
        const double s = width / 1104.0;
        EXPECT_DOUBLE_EQ(layout->scale(), s);
        for (int i = 1; i < cells.size(); ++i)
            EXPECT_EQ(cells[i - 1]->geometry().right() + 1, cells[i]->geometry().left()) << width << " " << i;
        EXPECT_EQ(cells.last()->geometry().right() + 1, qRound((10 + 7 * 33.3) * s));
    }
    EXPECT_EQ(layout->heightForWidth(552), qRound(435 / 2.0));
    EXPECT_EQ(DesignScaleLayout::toDesign(QPointF(55.2, 11), 0.55), QPointF(100.36363636363636, 20));
    EXPECT_EQ(DesignScaleLayout::scaledFont(QFont(), 13, 0.55).pixelSize(), 7);
}

TEST(Binding, WritesThroughAndReportsChanges)
{
    ObservableFlag flag;
    const Binding<bool> binding = flag.binding();
    int changes = 0;
    QObject context;
    binding.onChange(&context, [&] { ++changes; });
    binding.set(true);
    binding.set(true);
    EXPECT_TRUE(binding.get());
    EXPECT_EQ(changes, 1);
}
