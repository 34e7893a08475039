#include "views/section_loop_overlay.h"
#include "views/waveform_texts.h"

#include "support/snapshot.h"
#include "waveform_fakes.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QKeyEvent>
#include <QLocale>
#include <QMenu>
#include <QUndoStack>

using namespace tampod;
using namespace tampod::test;

namespace {

constexpr double m60 = 0.001 / 60; // the minimum span of a 60-second file

// A 60-second track with its loop on at 15–30 s, and the overlay over the whole file at scale s.
struct OverlayTest {
    explicit OverlayTest(double s = 2, double duration = 60, bool holdPreparation = false,
                         WaveformViewport viewport = {0, 1})
    {
        model.preparer->calls.hold = holdPreparation;
        model.select(trackAt(QStringLiteral("/absent/a.wav"), duration));
        model.loopOn({0.25, 0.5});
        hosted.emplace(s, model, viewport);
    }
    SectionLoopOverlay &overlay() { return *hosted->widget; }
    int undoSteps() { return model.sectionLoop().findChild<QUndoStack *>()->count(); }
    void key(bool start, Qt::Key key)
    {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QCoreApplication::sendEvent(overlay().marker(start), &press);
    }
    Pointer pointer() { return Pointer{hosted->host}; }

    FakePaneModel model;
    std::optional<Hosted<SectionLoopOverlay>> hosted;
};

} // namespace

TEST(SectionLoopOverlay, MovedKeepsTheRangeValid)
{
    const SectionRange r{0.25, 0.5};
    const std::tuple<const char *, SectionRange, bool, double, double, std::optional<SectionRange>> cases[] = {
        {"start inside", r, true, 0.1, m60, SectionRange{0.1, 0.5}},
        {"start past the end", r, true, 0.6, m60, SectionRange{0.5 - m60, 0.5}},
        {"end before the start", r, false, 0.1, m60, SectionRange{0.25, 0.25 + m60}},
        {"start before the file", r, true, -0.2, m60, SectionRange{0, 0.5}},
        {"end past the file", r, false, 1.3, m60, SectionRange{0.25, 1}},
        {"start not a number", r, true, NAN, m60, SectionRange{0, 0.5}},
        {"end not a number", r, false, NAN, m60, SectionRange{0.25, 1}},
        {"whole-file span, extremes", {0, 1}, true, 0.3, 1, SectionRange{0, 1}},
        {"whole-file span, start", r, true, 0.3, 1, std::nullopt},
        {"whole-file span, end", r, false, 0.3, 1, std::nullopt},
    };
    for (const auto &[name, current, start, to, span, expected] : cases)
        EXPECT_EQ(SectionLoopOverlay::moved(current, start, to, span), expected) << name;

    const std::tuple<double, double, double> durations[] = {
        {60, m60, 0.1 / 60}, {10, 0.0001, 0.01}, {5, 0.0002, 0.01}, {0.0005, 1, 0.01}, {0, 1, 0.01}, {NAN, 1, 0.01}};
    for (const auto &[seconds, span, step] : durations) {
        EXPECT_DOUBLE_EQ(SectionLoopOverlay::minimumSpan(seconds), span) << seconds;
        EXPECT_DOUBLE_EQ(SectionLoopOverlay::arrowStep(seconds), step) << seconds;
    }
}

TEST(SectionLoopOverlay, DragsPauseClampAndCommitOnce)
{
    OverlayTest t(2);
    SectionLoopOverlay &overlay = t.overlay();
    Pointer pointer = t.pointer();
    // The start boundary lies at 244.5 points, 489 pixels at scale 2.
    pointer.press({489, 300});
    EXPECT_EQ(t.model.pauses, 1);
    EXPECT_EQ(overlay.dragOrigin(), 0.25);
    EXPECT_EQ(overlay.focusedBoundary(), true);
    EXPECT_EQ(overlay.title(), WaveformText::releaseToApply);
    pointer.move({489 + 196, 300}); // 98 points of 978: 0.1002 of the file
    EXPECT_DOUBLE_EQ(overlay.draft()->start, 0.25 + 98.0 / 978);
    EXPECT_EQ(overlay.timesText(), QStringLiteral("21.012 – 30.000 s"));
    EXPECT_EQ(overlay.markerValue(true), QStringLiteral("21.012 seconds"));
    pointer.move({489 + 2 * 400, 300}); // past the end marker
    EXPECT_EQ(overlay.draft(), (SectionRange{0.5 - m60, 0.5}));
    EXPECT_EQ(t.model.pauses, 1) << "paused once per drag";
    EXPECT_TRUE(t.model.commits.empty()) << "nothing is committed during the drag";
    pointer.release({489 + 2 * 400, 300});
    EXPECT_EQ(t.model.commits, (std::vector<SectionRange>{{0.5 - m60, 0.5}}));
    EXPECT_EQ(overlay.draft(), std::nullopt);
    EXPECT_EQ(overlay.dragOrigin(), std::nullopt);
    EXPECT_EQ(overlay.title(), WaveformText::sectionLoop);
    EXPECT_EQ(t.undoSteps(), 1);

    // A click without moving commits the same range: no undo step.
    QCoreApplication::sendPostedEvents();
    const QPointF end = overlay.marker(false)->geometry().center();
    pointer.drag(end, {});
    EXPECT_EQ(t.model.commits.size(), 2u);
    EXPECT_EQ(t.undoSteps(), 1);
    // The end dragged past the file's end stops at 1.
    pointer.drag(end, {end + QPointF(2 * 978, 0)});
    EXPECT_EQ(t.model.commits.back().end, 1);
    EXPECT_EQ(t.undoSteps(), 2);
}

TEST(SectionLoopOverlay, ArrowKeysStepTheFocusedBoundary)
{
    // 60 s prepared: 0.1 s; 5 s, not prepared yet: a hundredth of the file.
    for (const auto &[seconds, step] : {std::pair(60.0, 0.1 / 60), {5.0, 0.01}}) {
        OverlayTest t(1, seconds, seconds != 60);
        t.key(false, Qt::Key_Right);
        t.key(false, Qt::Key_Up);
        t.key(true, Qt::Key_Left);
        t.key(true, Qt::Key_Down);
        t.key(true, Qt::Key_Home); // no other key does anything
        ASSERT_EQ(t.model.commits.size(), 4u) << seconds;
        EXPECT_NEAR(t.model.commits[0].end, 0.5 + step, 1e-4) << seconds;
        EXPECT_NEAR(t.model.commits[1].end, 0.5 + 2 * step, 1e-4) << seconds;
        EXPECT_NEAR(t.model.commits[2].start, 0.25 - step, 1e-4) << seconds;
        EXPECT_NEAR(t.model.commits[3].start, 0.25 - 2 * step, 1e-4) << seconds;
        EXPECT_EQ(t.undoSteps(), 4) << "one undo step per commit";
        EXPECT_EQ(t.overlay().draft(), std::nullopt);
    }
    // An unknown length makes the minimum span the whole file: no step gives a valid range.
    OverlayTest unknown(1, 0, true);
    unknown.key(false, Qt::Key_Right);
    unknown.key(true, Qt::Key_Left);
    EXPECT_TRUE(unknown.model.commits.empty());
}

TEST(SectionLoopOverlay, UndoMenuAndRecoveryLock)
{
    OverlayTest t(1);
    SectionLoopOverlay &overlay = t.overlay();
    const auto menuState = [&] {
        std::unique_ptr<QMenu> menu(overlay.contextMenu(nullptr));
        const QList<QAction *> actions = menu->actions();
        EXPECT_EQ(actions[0]->text(), WaveformText::undoChange);
        EXPECT_EQ(actions[1]->text(), WaveformText::redoChange);
        return std::pair(actions[0]->isEnabled(), actions[1]->isEnabled());
    };
    EXPECT_EQ(menuState(), std::pair(false, false));
    t.key(true, Qt::Key_Right);
    EXPECT_EQ(menuState(), std::pair(true, false));
    {
        std::unique_ptr<QMenu> menu(overlay.contextMenu(nullptr));
        menu->actions()[0]->trigger();
    }
    EXPECT_EQ(t.model.sectionLoop().range(), (SectionRange{0.25, 0.5}));
    EXPECT_EQ(menuState(), std::pair(false, true));

    t.model.setRecovering(true);
    EXPECT_EQ(menuState(), std::pair(false, false));
    Pointer pointer = t.pointer();
    const int pauses = t.model.pauses;
    pointer.drag({244.5, 150}, {{300, 150}});
    EXPECT_EQ(t.model.pauses, pauses) << "markers cannot be dragged during a recovery";
    EXPECT_EQ(overlay.draft(), std::nullopt);
}

TEST(SectionLoopOverlay, MarkersOutOfViewTakeNoPressesButKeepTheirDrag)
{
    // Zoomed to 0.2505–0.3005: the start boundary 0.25 lies 2.4 points left of the view, its
    // 48-point frame reaching into it.
    OverlayTest t(1, 60, false, {0.2505, 0.3005});
    SectionLoopOverlay &overlay = t.overlay();
    EXPECT_TRUE(overlay.marker(true)->testAttribute(Qt::WA_TransparentForMouseEvents));
    Pointer pointer = t.pointer();
    pointer.drag({10, 150}, {{40, 150}});
    EXPECT_EQ(t.model.pauses, 0);
    EXPECT_TRUE(t.model.commits.empty());

    overlay.setViewport({0.2, 0.6}); // the end boundary 0.5 at 733.5 points
    pointer.press({733.5, 150});
    pointer.move({733.5 + 400, 150}); // carried out of view
    EXPECT_FALSE(overlay.marker(false)->testAttribute(Qt::WA_TransparentForMouseEvents));
    pointer.move({733.5 + 450, 150});
    EXPECT_NEAR(overlay.draft()->end, 0.5 + 450.0 / 978 * 0.4, 1e-12);
    pointer.release({733.5 + 450, 150});
    EXPECT_TRUE(overlay.marker(false)->testAttribute(Qt::WA_TransparentForMouseEvents));
}

TEST(SectionLoopOverlay, TimesIgnoreTheLocale)
{
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    OverlayTest t(1);
    t.model.loopOn({0.2, 27.5 / 60});
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(t.overlay().timesText(), QStringLiteral("12.000 – 27.500 s"));
    QWidget *start = t.overlay().marker(true);
    QAccessibleInterface *marker = QAccessible::queryAccessibleInterface(start);
    EXPECT_EQ(marker->text(QAccessible::Value), QStringLiteral("12.000 seconds"));
    EXPECT_EQ(marker->text(QAccessible::Name), WaveformText::sectionStart);
    EXPECT_EQ(marker->text(QAccessible::Description), WaveformText::markerHint);
    ASSERT_NE(marker->actionInterface(), nullptr);
    marker->actionInterface()->doAction(QAccessibleActionInterface::increaseAction());
    EXPECT_NEAR(t.model.commits.back().start, 0.2 + 0.1 / 60, 1e-12);
    QLocale::setDefault(saved);

    OverlayTest unknown(1, 0, true);
    EXPECT_EQ(unknown.overlay().timesText(), QStringLiteral("0.000 – 0.000 s"));
}

TEST(SectionLoopOverlay, HeaderShowsPreparationAndCancels)
{
    OverlayTest t(1, 60, true);
    QAbstractButton *cancel = t.overlay().cancelButton();
    EXPECT_TRUE(cancel->isVisible());
    t.overlay().marker(false)->setFocus();
    for (const double ratio : {1.0, 2.0}) {
        OverlayTest look(ratio, 60, true);
        look.overlay().dragChanged(false, 0); // focus on the end marker, no outline while dragging
        look.overlay().dragEnded();
        render(look.hosted->host, ratio, QStringLiteral("section-loop-overlay"));
    }
    cancel->click();
    EXPECT_EQ(t.model.toggles, 1);
    QCoreApplication::sendPostedEvents();
    EXPECT_FALSE(cancel->isVisible());
}
