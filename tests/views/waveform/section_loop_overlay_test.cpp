#include "views/waveform/section_loop_overlay.h"
#include "views/waveform/waveform_texts.h"

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

// A track with its loop on at a quarter to a half, the overlay over it at scale s.
struct OverlayTest {
    explicit OverlayTest(double s = 1, double duration = 60, bool holdPreparation = false,
                         WaveformViewport viewport = {0, 1})
    {
        model.preparer->calls.hold = holdPreparation;
        model.select(trackAt("/absent/a.wav", duration));
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
    // Undo and redo enabled in the markers' menu.
    std::pair<bool, bool> menu()
    {
        const std::unique_ptr<QMenu> m(overlay().contextMenu(nullptr));
        EXPECT_EQ(m->actions()[0]->text(), WaveformText::undoChange);
        EXPECT_EQ(m->actions()[1]->text(), WaveformText::redoChange);
        return {m->actions()[0]->isEnabled(), m->actions()[1]->isEnabled()};
    }

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
    Pointer pointer{t.hosted->host};
    pointer.press({489, 300}); // the start boundary: 244.5 points at scale 2
    EXPECT_EQ(t.model.pauses, 1);
    EXPECT_EQ(overlay.dragOrigin(), 0.25);
    EXPECT_EQ(overlay.focusedBoundary(), true);
    EXPECT_EQ(overlay.title(), WaveformText::releaseToApply);
    pointer.move({489 + 196, 300}); // 98 points of 978
    EXPECT_DOUBLE_EQ(overlay.draft()->start, 0.25 + 98.0 / 978);
    EXPECT_EQ(overlay.timesText(), "21.012 – 30.000 s");
    pointer.move({489 + 800, 300}); // past the end marker
    EXPECT_EQ(overlay.draft(), (SectionRange{0.5 - m60, 0.5}));
    EXPECT_EQ(t.model.pauses, 1) << "paused once per drag";
    EXPECT_TRUE(t.model.commits.empty()) << "nothing is committed during the drag";
    pointer.release({489 + 800, 300});
    EXPECT_EQ(t.model.commits, (std::vector<SectionRange>{{0.5 - m60, 0.5}}));
    EXPECT_EQ(overlay.dragOrigin(), std::nullopt);
    EXPECT_EQ(overlay.title(), WaveformText::sectionLoop);
    EXPECT_EQ(t.undoSteps(), 1);

    // A click without moving commits the same range: no undo step.
    QCoreApplication::sendPostedEvents();
    const QPointF end = overlay.marker(false)->geometry().center();
    pointer.drag(end, end);
    EXPECT_EQ(t.model.commits.size(), 2u);
    EXPECT_EQ(t.undoSteps(), 1);
    pointer.drag(end, end + QPointF(2 * 978, 0)); // the end past the file's end stops at 1
    EXPECT_EQ(t.model.commits.back().end, 1);
    EXPECT_EQ(t.undoSteps(), 2);
}

TEST(SectionLoopOverlay, MarkersAtTheFilesEdgesKeepTheirWholeGrabAreaInThePane)
{
    OverlayTest t(2);
    t.model.loopOn({0, 1});
    SectionLoopOverlay &overlay = t.overlay();
    ASSERT_TRUE(pumpUntil([&] { return overlay.marker(false)->geometry().center().x() > overlay.width() / 2; }));
    for (const bool start : {true, false}) {
        const QRect area = overlay.marker(start)->geometry();
        EXPECT_TRUE(overlay.rect().contains(area)) << start;
        EXPECT_EQ(area.width(), int(2 * SectionLoopOverlay::markerWidth)) << start;
    }
    EXPECT_EQ(overlay.marker(false)->geometry().right(), overlay.rect().right());
    Pointer pointer{t.hosted->host};
    pointer.press(overlay.marker(false)->geometry().topRight() + QPoint(-1, 300));
    EXPECT_EQ(overlay.focusedBoundary(), false);
    EXPECT_EQ(overlay.dragOrigin(), 1.0);
    pointer.release(overlay.marker(false)->geometry().topRight() + QPoint(-1, 300));
}

TEST(SectionLoopOverlay, ArrowKeysStepTheFocusedBoundary)
{
    // 60 s prepared: 0.1 s; 5 s, not prepared yet: a hundredth of the file.
    for (const auto &[seconds, step] : {std::pair(60.0, 0.1 / 60), {5.0, 0.01}}) {
        OverlayTest t(1, seconds, seconds != 60);
        for (const auto key : {Qt::Key_Right, Qt::Key_Up})
            t.key(false, key);
        for (const auto key : {Qt::Key_Left, Qt::Key_Down, Qt::Key_Home}) // no other key does anything
            t.key(true, key);
        ASSERT_EQ(t.model.commits.size(), 4u) << seconds;
        EXPECT_NEAR(t.model.commits[1].end, 0.5 + 2 * step, 1e-4) << seconds;
        EXPECT_NEAR(t.model.commits[3].start, 0.25 - 2 * step, 1e-4) << seconds;
        EXPECT_EQ(t.undoSteps(), 4) << "one undo step per commit";
    }
    // An unknown length makes the minimum span the whole file: no step gives a valid range.
    OverlayTest unknown(1, 0, true);
    unknown.key(false, Qt::Key_Right);
    EXPECT_TRUE(unknown.model.commits.empty());
}

TEST(SectionLoopOverlay, UndoMenuHeaderAndRecoveryLock)
{
    OverlayTest t(1, 60, true);
    EXPECT_EQ(t.menu(), std::pair(false, false));
    t.key(true, Qt::Key_Right);
    EXPECT_EQ(t.menu(), std::pair(true, false));
    const std::unique_ptr<QMenu> menu(t.overlay().contextMenu(nullptr));
    menu->actions()[0]->trigger();
    EXPECT_EQ(t.model.sectionLoop().range(), (SectionRange{0.25, 0.5}));
    EXPECT_EQ(t.menu(), std::pair(false, true));

    t.model.recovering = true;
    EXPECT_EQ(t.menu(), std::pair(false, false));
    Pointer{t.hosted->host}.drag({244.5, 150}, {300, 150});
    EXPECT_EQ(t.model.pauses, 0) << "markers cannot be dragged during a recovery";

    QAbstractButton *cancel = t.overlay().cancelButton(); // shown while preparing
    EXPECT_TRUE(cancel->isVisible());
    cancel->click();
    EXPECT_EQ(t.model.toggles, 1);
    for (const double ratio : {1.0, 2.0}) {
        OverlayTest look(ratio, 60, true);
        look.overlay().dragChanged(false, 0); // focus on the end marker, outlined once the drag ends
        look.overlay().dragEnded();
        render(look.hosted->host, ratio, QStringLiteral("section-loop-overlay"));
    }
}

TEST(SectionLoopOverlay, MarkersOutOfViewTakeNoPressesButKeepTheirDrag)
{
    // Zoomed to 0.2505–0.3005: the start boundary lies 2.4 points left of the view, its frame
    // reaching into it.
    OverlayTest t(1, 60, false, {0.2505, 0.3005});
    SectionLoopOverlay &overlay = t.overlay();
    Pointer pointer{t.hosted->host};
    pointer.drag({10, 150}, {40, 150});
    EXPECT_EQ(t.model.pauses, 0);

    overlay.setViewport({0.2, 0.6}); // the end boundary at 733.5 points
    pointer.press({733.5, 150});
    pointer.move({733.5 + 450, 150}); // carried out of view
    EXPECT_FALSE(overlay.marker(false)->testAttribute(Qt::WA_TransparentForMouseEvents));
    pointer.move({733.5 + 500, 150});
    EXPECT_NEAR(overlay.draft()->end, 0.5 + 500.0 / 978 * 0.4, 1e-12);
    pointer.release({733.5 + 500, 150});
    EXPECT_TRUE(overlay.marker(false)->testAttribute(Qt::WA_TransparentForMouseEvents));
}

TEST(SectionLoopOverlay, TimesIgnoreTheLocale)
{
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    OverlayTest t;
    t.model.loopOn({0.2, 27.5 / 60});
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(t.overlay().timesText(), "12.000 – 27.500 s");
    QAccessibleInterface *marker = QAccessible::queryAccessibleInterface(t.overlay().marker(true));
    EXPECT_EQ(marker->text(QAccessible::Value), "12.000 seconds");
    EXPECT_EQ(marker->text(QAccessible::Name), WaveformText::sectionStart);
    EXPECT_EQ(marker->text(QAccessible::Description), WaveformText::markerHint);
    ASSERT_NE(marker->actionInterface(), nullptr);
    marker->actionInterface()->doAction(QAccessibleActionInterface::increaseAction());
    EXPECT_NEAR(t.model.commits.back().start, 0.2 + 0.1 / 60, 1e-12);
    QLocale::setDefault(saved);
    EXPECT_EQ(OverlayTest(1, 0, true).overlay().timesText(), "0.000 – 0.000 s");
}

TEST(SectionLoopOverlay, MarkersPublishTheirSecondsAsValuesAScreenReaderCanSet)
{
    OverlayTest t;
    t.model.loopOn({0.2, 27.5 / 60});
    QCoreApplication::sendPostedEvents();
    QAccessibleValueInterface *start = QAccessible::queryAccessibleInterface(t.overlay().marker(true))->valueInterface();
    QAccessibleValueInterface *end = QAccessible::queryAccessibleInterface(t.overlay().marker(false))->valueInterface();
    ASSERT_NE(start, nullptr);
    ASSERT_NE(end, nullptr);
    EXPECT_DOUBLE_EQ(start->currentValue().toDouble(), 12);
    EXPECT_DOUBLE_EQ(end->currentValue().toDouble(), 27.5);
    EXPECT_EQ(start->minimumValue().toDouble(), 0);
    EXPECT_EQ(end->maximumValue().toDouble(), 60);
    EXPECT_NEAR(start->minimumStepSize().toDouble(), 0.1, 1e-12);

    // A value set is one committed move, kept inside the file and apart from the other end.
    start->setCurrentValue(15.0);
    EXPECT_NEAR(t.model.commits.back().start, 0.25, 1e-12);
    end->setCurrentValue(1.0);
    EXPECT_NEAR(t.model.commits.back().end, 0.25 + m60, 1e-12);
}
