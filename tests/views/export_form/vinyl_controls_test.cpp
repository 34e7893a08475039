// The Vinyl and Hum rows: levels remembered once set, a new pattern, the solo previews and
// everything that stops them; previews play on a silent fake player.
#include "export/export_preferences.h"
#include "files/access/missing_audio_source.h"
#include "views/export_form/vinyl_controls.h"
#include "views/kit/binding.h"
#include "views/kit/controls/hardware_slider.h"
#include "views/kit/controls/tagged_combo_box.h"

#include "support/test_support.h"

#include <QAccessible>
#include <QCheckBox>
#include <QFormLayout>
#include <QLabel>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QSettings>

#include <gtest/gtest.h>

#include <atomic>
#include <set>

using namespace tampod;
using namespace tampod::test;
using Mode = ExportPreviewMode;
using Prepared = std::shared_ptr<const PreparedExportPreview>;

namespace {

// Reads the recording the way an audition reads its source, and keeps each request.
class CheckingRenderer final : public ExportPreviewPreparing {
public:
    Async<Prepared> prepare(ExportPreviewRequest request, ExportProgress, CancellationToken) override
    {
        return executor_.submit([this, request]() -> Prepared {
            MissingAudioSource::check(request.track.url(), request.track.projectedURL().fileName());
            requests.push_back(request);
            return std::make_shared<const PreparedExportPreview>(request, request.track.url(), 1);
        });
    }
    std::vector<ExportPreviewRequest> requests; // read once the preview plays

private:
    SerialExecutor executor_{QStringLiteral("checking renderer")};
};

class SilentPlayer final : public ExportPreviewPlaying {
public:
    Async<void> play(Prepared, double, CancellationToken) override { return executor_.submit([this] { playing = true; }); }
    Async<bool> isPlaying() override { return executor_.submit([this] { return playing.load(); }); }
    Async<void> stop() override { return executor_.submit([this] { playing = false; }); }
    std::atomic<bool> playing{false};

private:
    SerialExecutor executor_{QStringLiteral("silent player")};
};

struct Scene {
    explicit Scene(bool withSamples = true)
    {
        draft.vinyl.enabled = true;
        draft.vinyl.humEnabled = true;
        if (withSamples)
            for (const char *name : {"lo-fi_vinyl1.flac", "vinyl_hum.flac"})
                writeFile(samples.file(name), "fLaC");
        VinylEnvironment environment;
        environment.preferences = &preferences;
        environment.pauseMainPlayback = [this]() -> QCoro::Task<double> {
            ++pauses;
            co_return 0.5;
        };
        environment.makePreview = [this] { return new ExportPreviewCoordinator(renderer, player); };
        environment.resourcePath = [this](const QString &name) { return samples.file(name + ".flac"); };
        controls = new VinylControls(binding(), environment, new QFormLayout(&host), &host);
        host.show();
    }

    ExportDraftBinding binding()
    {
        return ExportDraftBinding([this] { return draft; },
                                  [this](const ExportDefaults &value) {
                                      draft = value;
                                      changed.setValue(!changed.value());
                                  },
                                  [this](QObject *context, std::function<void()> onChange) {
                                      return QObject::connect(&changed, &ObservableFlag::valueChanged, context,
                                                              std::move(onChange));
                                  });
    }
    bool play(Mode mode)
    {
        controls->previewButton(mode)->click();
        return pumpUntil([&] { return controls->preview().phase() == ExportPreviewCoordinator::Phase::playing; });
    }
    bool stopped() const
    {
        return controls->preview().phase() == ExportPreviewCoordinator::Phase::idle && controls->preview().message().isEmpty();
    }

    TempDir samples;
    TempDir settingsFolder;
    QSettings storage{settingsFolder.file("settings.ini"), QSettings::IniFormat};
    ExportPreferences preferences{storage};
    ExportDefaults draft;
    ObservableFlag changed;
    int pauses = 0;
    std::shared_ptr<CheckingRenderer> renderer = std::make_shared<CheckingRenderer>();
    std::shared_ptr<SilentPlayer> player = std::make_shared<SilentPlayer>();
    QWidget host;
    VinylControls *controls;
};

} // namespace

TEST(VinylControls, TheLevelMidpointGoesToTheDraftAndTheStoredSettingsAtOnce)
{
    Scene scene;
    ExportDefaults expected = scene.draft;
    expected.vinyl.amount = 50;
    scene.controls->vinylLevel()->setAccessibleCurrent(0.5);
    EXPECT_EQ(scene.draft, expected);
    EXPECT_EQ(scene.preferences.defaults().vinyl.amount, 50);
    QSettings reread(scene.settingsFolder.file("settings.ini"), QSettings::IniFormat);
    EXPECT_EQ(ExportPreferences(reread).defaults().vinyl.amount, 50);
    scene.controls->refresh();
    EXPECT_EQ(scene.controls->vinylLevelText()->text(), "50%");
    // 12.5: halves round away from zero.
    scene.controls->humLevel()->setAccessibleCurrent(0.125);
    EXPECT_EQ(scene.preferences.defaults().vinyl.humAmount, 13);
}

TEST(VinylControls, APreviewPlaysTheRecordingAloneAndAnyChangeStopsIt)
{
    Scene scene;
    ASSERT_TRUE(scene.play(Mode::vinyl));
    LayerPreviewButton *vinyl = scene.controls->previewButton(Mode::vinyl);
    scene.controls->refresh();
    EXPECT_EQ(scene.controls->messageLine()->text(), "Playing vinyl preview");
    EXPECT_TRUE(scene.controls->isRowShown(scene.controls->messageLine()));
    EXPECT_TRUE(vinyl->isActive());
    EXPECT_EQ(vinyl->accessibleName(), "Stop preview — Vinyl");
    EXPECT_EQ(vinyl->toolTip(), "Stop this preview");
    EXPECT_EQ(scene.pauses, 1);
    ASSERT_EQ(scene.renderer->requests.size(), 1u); // the renderer's worker is done with it
    const ExportPreviewRequest &request = scene.renderer->requests[0];
    EXPECT_EQ(request.track.projectedURL().toLocalFile(), scene.samples.file("lo-fi_vinyl1.flac"));
    EXPECT_EQ(request.track.duration, 60.0);
    EXPECT_EQ(request.settings, scene.draft);

    // New Pattern: a different seed in the draft only, and silence with no status left.
    const ExportDefaults before = scene.draft;
    scene.controls->newPatternButton()->click();
    EXPECT_NE(scene.draft.vinyl.seed, before.vinyl.seed);
    ExportDefaults reseeded = before;
    reseeded.vinyl.seed = scene.draft.vinyl.seed;
    EXPECT_EQ(scene.draft, reseeded);
    EXPECT_EQ(scene.preferences.defaults().vinyl.seed, VinylOptions::defaultSeed);
    EXPECT_TRUE(scene.stopped());
    scene.controls->refresh();
    EXPECT_FALSE(vinyl->isActive());
    EXPECT_EQ(vinyl->accessibleName(), "Preview Vinyl");
    EXPECT_FALSE(scene.controls->isRowShown(scene.controls->messageLine()));

    // Hum off: its preview stops, its button is disabled and its level hidden.
    ASSERT_TRUE(scene.play(Mode::hum));
    EXPECT_TRUE(scene.controls->isRowShown(scene.controls->humLevel()));
    scene.controls->humToggle()->click();
    EXPECT_FALSE(scene.draft.vinyl.humEnabled);
    EXPECT_TRUE(scene.stopped());
    scene.controls->refresh();
    EXPECT_FALSE(scene.controls->previewButton(Mode::hum)->isEnabled());
    EXPECT_FALSE(scene.controls->isRowShown(scene.controls->humLevel()));

    // A disabled form and the rows going away stop it as well.
    ASSERT_TRUE(scene.play(Mode::vinyl));
    scene.host.setEnabled(false);
    EXPECT_TRUE(scene.stopped());
    scene.host.setEnabled(true);
    ASSERT_TRUE(scene.play(Mode::vinyl));
    delete scene.controls;
    EXPECT_EQ(PreviewAudioFocus::shared().current(), nullptr);
    EXPECT_TRUE(pumpUntil([&] { return !scene.player->playing; }));
}

TEST(VinylControls, AMissingRecordingIsReportedByThePreview)
{
    Scene scene(false);
    scene.controls->previewButton(Mode::vinyl)->click();
    ASSERT_TRUE(pumpUntil([&] { return scene.controls->preview().phase() == ExportPreviewCoordinator::Phase::idle; }));
    scene.controls->refresh();
    EXPECT_EQ(scene.controls->messageLine()->text(), MissingAudioSource("lo-fi_vinyl1.flac").message());
    EXPECT_TRUE(scene.controls->isRowShown(scene.controls->messageLine()));
}

TEST(VinylControls, TheTextureToggleCanAlwaysSwitchAnEnabledTreatmentOff)
{
    Scene scene;
    scene.draft.format = ExportFormat::m4aALAC; // takes no Vinyl layers
    scene.controls->textureToggle()->click();
    scene.controls->refresh();
    EXPECT_FALSE(scene.draft.vinyl.enabled);
    EXPECT_FALSE(scene.controls->textureToggle()->isEnabled());
    EXPECT_FALSE(scene.controls->isRowShown(scene.controls->samplePicker()));
}

TEST(VinylControls, AScreenReadersToggleActsAsAClickDoes)
{
    Scene scene;
    scene.draft.vinyl.enabled = false;
    scene.controls->refresh();
    ASSERT_FALSE(scene.controls->isRowShown(scene.controls->vinylLevel()));
    const auto toggle = [](QWidget *box) {
        QAccessible::queryAccessibleInterface(box)->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    };
    toggle(scene.controls->textureToggle());
    EXPECT_TRUE(scene.draft.vinyl.enabled);
    scene.controls->refresh();
    EXPECT_TRUE(scene.controls->textureToggle()->isChecked());
    EXPECT_TRUE(scene.controls->isRowShown(scene.controls->samplePicker()));
    EXPECT_TRUE(scene.controls->isRowShown(scene.controls->vinylLevel()));
    EXPECT_TRUE(scene.controls->isRowShown(scene.controls->humLevel()));

    toggle(scene.controls->humToggle());
    EXPECT_FALSE(scene.draft.vinyl.humEnabled);
    scene.controls->refresh();
    EXPECT_FALSE(scene.controls->isRowShown(scene.controls->humLevel()));
}

TEST(VinylControls, ADragStoresItsLevelOnceReleasedAndEachKeyStepStores)
{
    Scene scene;
    int stores = 0;
    QObject::connect(&scene.preferences, &ExportPreferences::defaultsChanged, [&] { ++stores; });
    HardwareSlider *slider = scene.controls->vinylLevel();
    const auto mouse = [slider](QEvent::Type type, int x) {
        const QPointF at(x, slider->height() / 2.0);
        QMouseEvent event(type, at, slider->mapToGlobal(at), Qt::LeftButton,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(slider, &event);
    };

    // The draft follows every step of the drag; the settings file is written at the release.
    std::set<std::int64_t> levels;
    mouse(QEvent::MouseButtonPress, 0);
    for (int x = 0; x <= slider->width(); ++x) {
        mouse(QEvent::MouseMove, x);
        levels.insert(scene.draft.vinyl.amount);
    }
    EXPECT_GT(levels.size(), 50u);
    EXPECT_EQ(stores, 0);
    mouse(QEvent::MouseMove, slider->width() / 3);
    const std::int64_t dragged = scene.draft.vinyl.amount;
    mouse(QEvent::MouseButtonRelease, slider->width() / 3);
    EXPECT_EQ(stores, 1);
    EXPECT_EQ(scene.preferences.defaults().vinyl.amount, dragged);
    QSettings reread(scene.settingsFolder.file("settings.ini"), QSettings::IniFormat);
    EXPECT_EQ(ExportPreferences(reread).defaults().vinyl.amount, dragged);

    // A press and release that leave the level where it was write nothing.
    const int knob = qRound(slider->knobCentre(slider->value()) * slider->width() / slider->designSize().width());
    mouse(QEvent::MouseButtonPress, knob);
    mouse(QEvent::MouseButtonRelease, knob);
    EXPECT_EQ(stores, 1);

    for (int step = 1; step <= 3; ++step) {
        QKeyEvent right(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier);
        QCoreApplication::sendEvent(slider, &right);
        EXPECT_EQ(stores, 1 + step);
        EXPECT_EQ(scene.preferences.defaults().vinyl.amount, scene.draft.vinyl.amount);
    }
    EXPECT_EQ(scene.draft.vinyl.amount, dragged + 3);
}

TEST(VinylControls, EachLevelShowsItsOwnPercentage)
{
    Scene scene;
    scene.draft.vinyl.amount = 30;
    scene.draft.vinyl.humAmount = 70;
    scene.controls->refresh();
    EXPECT_EQ(scene.controls->vinylLevelText()->text(), "30%");
    EXPECT_EQ(scene.controls->humLevelText()->text(), "70%");
}
