#include "views/sd2/sd2_rate_buttons.h"
#include "views/sd2/sd2_recovery_status.h"
#include "views/sd2/sd2_tools_view.h"
#include "views/sd2/sd2_view_rules.h"

#include "views/kit/controls/middle_elided_label.h"
#include "views/kit/refresh_scheduler.h"
#include "views/kit/dialogs/sheet_dialog.h"
#include "views/kit/dialogs/sheet_host.h"
#include "views/kit/controls/tagged_combo_box.h"
#include "views/kit/accessibility/view_accessibility.h"

#include "bpm/bpm_analysis_service.h"
#include "concurrency/detached.h"
#include "library/sd2_pair_audio.h"
#include "player/player_model.h"
#include "sd2/sd2_recovery_service.h"

#include "player/player_fakes.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QFile>
#include <QTemporaryDir>

#include <cmath>

#include <future>

using namespace tampod;

namespace {

const SD2Metadata stereo16{2, 44100, 2, std::nullopt, std::nullopt};
const SD2Metadata mono16{2, 44100, 1, std::nullopt, std::nullopt};

// The real recovery of the data forks, each held until the test lets it go; the test reports
// progress through the queue's own callback meanwhile.
class GatedRecovery final : public SD2RecoveryServing {
public:
    struct Call {
        AudioTrack track;
        SD2RecoveryProgress progress;
        CancellationToken token;
        std::promise<void> gate;
        bool released = false;
    };
    explicit GatedRecovery(TemporaryAudioStore &store)
        : real_([&store]() -> TemporaryAudioStore & { return store; })
    {
    }
    std::vector<std::shared_ptr<Call>> calls; // main thread

    Async<SD2RecoveredCopyPointer> recover(AudioTrack track, int rate, SD2RecoveryProgress progress,
                                           CancellationToken token) override
    {
        auto call = std::make_shared<Call>(Call{track, progress, token, {}, false});
        calls.push_back(call);
        return runDetached(TaskPriority::UserInitiated, [this, call, rate, opened = call->gate.get_future().share()] {
            opened.wait();
            call->token.throwIfCancelled();
            return real_.recover(call->track, rate, call->progress, call->token).wait();
        });
    }
    void release(size_t i)
    {
        if (!calls.at(i)->released)
            calls[i]->released = true, calls[i]->gate.set_value();
    }
    void releaseAll()
    {
        for (size_t i = 0; i < calls.size(); ++i)
            release(i);
    }

private:
    SD2RecoveryService real_;
};

QString text(const QLabel *label)
{
    if (!label->isVisibleTo(label->window()))
        return {};
    // A line shortened to its width is read whole; its shortening is tested laid out.
    if (const auto *line = qobject_cast<const MiddleElidedLabel *>(label))
        return line->fullText();
    return label->text();
}

void choose(TaggedComboBox *picker, const QString &tag)
{
    for (int i = 0; i < picker->count(); ++i)
        if (picker->itemData(i).toString() == tag || (tag.isEmpty() && i == 0)) {
            picker->setCurrentIndex(i);
            Q_EMIT picker->activated(i);
            return;
        }
    FAIL() << "no item " << tag.toStdString();
}

void type(QLineEdit *field, const QString &value)
{
    field->setText(value);
    Q_EMIT field->textEdited(value);
}

class SD2Views : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // The pair coordinator's working copies go to the per-user store: keep it in a scratch folder.
        static QTemporaryDir cache;
        qputenv("XDG_CACHE_HOME", QFile::encodeName(cache.path()));
    }
    ~SD2Views() override
    {
        service->releaseAll();
        player.recoveryQueue().cancelAll();
        player.pairing().cancel();
        EXPECT_TRUE(test::pumpUntil([&] { return !player.recoveryQueue().activeID(); }));
        bool ended = false;
        player.commands().enqueue(false, [marker = std::shared_ptr<void>(nullptr, [&ended](void *) { ended = true; })](
                                             PlaybackServing &) -> QCoro::Task<> { co_return; });
        EXPECT_TRUE(test::pumpUntil([&] { return ended; }));
    }

    // A headerless data fork of whole 16- and 24-bit stereo frames, waiting for recovery.
    AudioTrack bare(const QString &name, std::optional<SD2Metadata> requested, int frames = 1200)
    {
        QByteArray bytes(frames * 12, '\0');
        for (qsizetype i = 0; i < bytes.size(); ++i)
            bytes[i] = char((i * 37) & 0x3F);
        test::writeFile(dir.file(name), bytes);
        AudioTrack track;
        track.id = QUuid::createUuid();
        track._url = TrackedFileURL(QUrl::fromLocalFile(dir.file(name)));
        track.recovery = SD2Recovery{nullptr, requested};
        return track;
    }
    QUuid idOf(const QString &name) const
    {
        for (const AudioTrack &track : player.tracks())
            if (track.projectedURL().fileName() == name)
                return track.id;
        return {};
    }
    bool recovered(const QString &name) const
    {
        for (const AudioTrack &track : player.tracks())
            if (track.projectedURL().fileName() == name)
                return track.recovery && track.recovery->copy;
        return false;
    }
    // take.L and take.R recovered as mono channel files.
    void recoveredChannels()
    {
        player.append({bare("take.L", mono16), bare("take.R", mono16)});
        ASSERT_TRUE(test::pumpUntil([&] {
            service->releaseAll();
            return recovered("take.L") && recovered("take.R");
        }));
    }
    SD2ToolsView *openSheet()
    {
        SheetDialog *dialog = SD2ToolsView::sheet(player, &window);
        sheet = dialog;
        EXPECT_TRUE(SheetHost::of(&window).present(dialog));
        auto *view = dialog->findChild<SD2ToolsView *>();
        test::pumpUntil([&] { return view->sourceID().has_value() || !player.selectedID(); });
        return view;
    }
    // The sheet went, its deferred deletion included.
    bool closed()
    {
        return test::pumpUntil([&] {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            return !sheet;
        });
    }
    void settle(QWidget *view) { view->findChild<RefreshScheduler *>()->refreshNow(); }

    test::TempDir dir;
    TemporaryAudioStore store{QUrl::fromLocalFile(dir.file("store"))};
    std::shared_ptr<GatedRecovery> service = std::make_shared<GatedRecovery>(store);
    std::shared_ptr<test::FakeEngine> engine = std::make_shared<test::FakeEngine>();
    PlayerModel player{engine,
                       std::make_shared<test::FakeImporter>(),
                       service,
                       std::make_shared<test::FakeSections>(),
                       BPMAnalysisService::shared(),
                       [](AudioTrack, CancellationToken) -> QCoro::Task<WaveformPeaks> { co_return WaveformPeaks{}; }};
    QWidget window;
    QPointer<SheetDialog> sheet;
};

} // namespace

TEST(SD2ViewRules, TypedRatesPercentagesAndKilohertz)
{
    for (const char *valid : {"44100", "+44100", "8000", "192000", "0000048000"})
        EXPECT_TRUE(SD2ViewRules::validRate(valid)) << valid;
    for (const char *invalid : {"7999", "192001", " 44100", "44.1k", "", "-44100", "+", "44100 ", "٤٤١٠٠",
                                "99999999999999999999", "-9223372036854775808"})
        EXPECT_FALSE(SD2ViewRules::validRate(QString::fromUtf8(invalid))) << invalid;
    EXPECT_EQ(SD2ViewRules::validRate("+44100"), 44100);

    EXPECT_EQ(SD2ViewRules::percent(0.999), 99);
    EXPECT_EQ(SD2ViewRules::percent(1), 100);
    EXPECT_EQ(SD2ViewRules::percent(std::nan("")), 0);
    EXPECT_EQ(SD2ViewRules::percent(1e300), 100);
    EXPECT_EQ(SD2ViewRules::percent(-0.5), 0);
    EXPECT_EQ(SD2ViewRules::kilohertz(44100), "44.1");
    EXPECT_EQ(SD2ViewRules::kilohertz(48000), "48");
    EXPECT_EQ(SD2ViewRules::kilohertz(22050), "22.05");
}

TEST_F(SD2Views, ButtonsAndStatusFollowTheQueueAndCancel)
{
    SD2RateButtons buttons(player, 107);
    SD2RecoveryStatus status(player);
    const auto &[b441, b48, b16, b24] = buttons.buttons();
    AudioTrack noted = bare("noted.sd2", std::nullopt);
    noted.recovery.reset();
    noted.sd2MetadataNote = QStringLiteral("SD2 note");
    player.append({bare("other.sd2", stereo16), bare("take.sd2", stereo16), bare("none.sd2", std::nullopt), noted});
    player.select(idOf("noted.sd2"), false);
    settle(&status);
    EXPECT_EQ(text(status.note()), "SD2 note");
    EXPECT_FALSE(status.panel()->isVisibleTo(&status));

    // Nothing to recover with: every button dimmed and announced as not selected.
    player.select(idOf("none.sd2"), false);
    settle(&buttons), settle(&status);
    for (SD2RateButton *b : buttons.buttons()) {
        EXPECT_FALSE(b->isEnabled());
        EXPECT_EQ(accessibleValue(b), "Not selected");
    }
    EXPECT_EQ(text(status.hint()), "Choose File > Advanced SD2 Recovery… for recovery parameters.");
    EXPECT_EQ(b441->accessibleName(), "SD2 recovery 44.1 kilohertz");
    EXPECT_EQ(b24->accessibleName(), "SD2 recovery 24 bit");
    EXPECT_EQ(b24->text(), "24-bit");

    // other.sd2 runs, take.sd2 waits behind it.
    player.select(idOf("take.sd2"), false);
    ASSERT_TRUE(test::pumpUntil([&] { return service->calls.size() == 1; }));
    service->calls[0]->progress(0.4);
    ASSERT_TRUE(test::pumpUntil([&] { return text(status.backgroundText()) == "Recovering other.sd2… 40%"; }));
    EXPECT_EQ(text(status.progressText()), "Queued for recovery…");
    EXPECT_TRUE(b441->isSelected() && b16->isSelected() && !b48->isSelected() && !b24->isSelected());

    // 48 kHz goes to the front, still behind the running job.
    b48->click();
    settle(&buttons), settle(&status);
    EXPECT_EQ(player.recoveryStatus()->parameters, (SD2Metadata{2, 48000, 2, std::nullopt, std::nullopt}));
    EXPECT_TRUE(b48->isSelected() && !b441->isSelected());
    EXPECT_EQ(text(status.progressText()), "Queued for recovery…");

    // Cancelling the other track's job lets the selected one run.
    status.backgroundCancel()->click();
    service->release(0);
    ASSERT_TRUE(test::pumpUntil([&] { return service->calls.size() == 2; }));
    settle(&status);
    EXPECT_FALSE(status.background()->isVisibleTo(&status));
    EXPECT_EQ(text(status.progressText()), "Preparing 16-bit, 48 kHz… 0%");
    service->calls[1]->progress(0.999);
    ASSERT_TRUE(test::pumpUntil([&] { return text(status.progressText()) == "Preparing 16-bit, 48 kHz… 99%"; }));
    EXPECT_EQ(status.progress()->value(), 999);
    EXPECT_FALSE(recovered("other.sd2"));

    // A trial depth, once confirmed, keeps rate and channels and caps the volume; Cancel drops
    // the job.
    QList<int> asked;
    player.confirmRecoveryDepth = [&](int bits) {
        asked.append(bits);
        return true;
    };
    b24->click();
    ASSERT_TRUE(test::pumpUntil([&] { return player.recoveryStatus() && player.recoveryStatus()->parameters.sampleBytes == 3; }));
    settle(&buttons);
    EXPECT_EQ(asked, QList<int>{24});
    EXPECT_EQ(player.recoveryStatus()->parameters, (SD2Metadata{3, 48000, 2, std::nullopt, std::nullopt}));
    EXPECT_TRUE(b24->isSelected() && b48->isSelected());
    EXPECT_EQ(player.volume(), SD2RecoveryQueue::trialVolumeCap);
    status.cancel()->click();
    settle(&status);
    EXPECT_FALSE(player.recoveryStatus());
    EXPECT_EQ(text(status.hint()), "Choose a rate or bit depth to prepare a listening copy. Other formats: File > "
                                   "Advanced SD2 Recovery….");

    // Back to the requested parameters at 44.1: a 16-bit copy brings the remembered volume back.
    b441->click();
    ASSERT_TRUE(test::pumpUntil([&] {
        service->releaseAll();
        return recovered("take.sd2");
    }));
    settle(&status);
    EXPECT_EQ(text(status.summary()), "SD2 recovery: assumed signed 16-bit big-endian PCM; 44100 Hz; stereo.");
    EXPECT_TRUE(text(status.hint()).startsWith("Press Play to audition."));
    EXPECT_EQ(player.volume(), PlayerModel::defaultVolume);
}

TEST_F(SD2Views, TheProgressLineKeepsToOneLineShortenedInTheMiddle)
{
    SD2RecoveryStatus status(player);
    player.append({bare("take.sd2", stereo16)});
    player.select(idOf("take.sd2"), false);
    ASSERT_TRUE(test::pumpUntil([&] { return service->calls.size() == 1; }));
    service->calls[0]->progress(0.11);
    const QString whole = "Preparing 16-bit, 44.1 kHz… 11%";
    ASSERT_TRUE(test::pumpUntil([&] { return text(status.progressText()) == whole; }));

    status.resize(280, 200);
    status.show();
    QCoreApplication::sendPostedEvents();
    const QLabel &line = *status.progressText();
    EXPECT_EQ(line.text(), whole);
    EXPECT_LT(line.height(), 2 * line.fontMetrics().lineSpacing());

    status.resize(200, 200);
    QCoreApplication::sendPostedEvents();
    EXPECT_TRUE(line.text().startsWith("Pre") && line.text().endsWith("11%")) << line.text().toStdString();
    EXPECT_LT(line.text().size(), whole.size());
    EXPECT_LE(line.fontMetrics().horizontalAdvance(line.text()), line.contentsRect().width());
    EXPECT_LT(line.height(), 2 * line.fontMetrics().lineSpacing());
}

TEST_F(SD2Views, ATrialCancelledInTheBackgroundStillGivesTheVolumeBack)
{
    SD2RateButtons buttons(player, 107);
    SD2RecoveryStatus status(player);
    const auto &[b441, b48, b16, b24] = buttons.buttons();
    player.append({bare("take.sd2", stereo16), bare("other.sd2", std::nullopt)});
    player.select(idOf("take.sd2"), false);
    ASSERT_TRUE(test::pumpUntil([&] {
        service->releaseAll();
        return recovered("take.sd2");
    }));
    settle(&buttons);
    player.confirmRecoveryDepth = [](int) { return true; };
    b24->click();
    ASSERT_TRUE(test::pumpUntil([&] { return player.recoveryStatus() && player.recoveryStatus()->parameters.sampleBytes == 3; }));
    ASSERT_EQ(player.volume(), SD2RecoveryQueue::trialVolumeCap);

    // Another track is selected while the trial depth is prepared: the take's job is the
    // background one, and its own Cancel stops it.
    player.select(idOf("other.sd2"), false);
    settle(&status);
    ASSERT_TRUE(status.background()->isVisibleTo(&status));
    status.backgroundCancel()->click();
    settle(&status);
    EXPECT_FALSE(status.background()->isVisibleTo(&status));

    // Back on the take, its 16-bit copy brings back the volume from before the trial.
    player.select(idOf("take.sd2"), false);
    settle(&buttons);
    b16->click();
    EXPECT_TRUE(test::pumpUntil([&] { return player.volume() == PlayerModel::defaultVolume; }));
}

TEST_F(SD2Views, ToolsSheetSeedsItsFormAndStartsARecovery)
{
    AudioTrack take = bare("take.sd2", std::nullopt);
    take.recovery->copy = std::make_shared<const SD2RecoveredCopy>(QUrl(), 48000, 10, "x", 3, 2);
    player.append({take});
    SD2ToolsView *view = openSheet();
    EXPECT_EQ(view->bitsPicker()->currentText(), "24 bit");
    EXPECT_EQ(view->rateField()->text(), "48000");
    EXPECT_EQ(view->channelsPicker()->currentText(), "Stereo — interleaved channels");
    EXPECT_TRUE(text(view->volumeNote()).startsWith("Trying 8-, 24- or 32-bit caps the app’s listening volume at 5% "));
    EXPECT_TRUE(view->prepareButton()->isEnabled());
    EXPECT_EQ(text(view->issueLabel()), "Choose a left file and a right file.");
    EXPECT_FALSE(view->createPairButton()->isEnabled());

    for (const char *rate : {" 44100", "44.1k", "", "-44100", "7999"}) {
        type(view->rateField(), rate);
        settle(view);
        EXPECT_FALSE(view->prepareButton()->isEnabled()) << rate;
    }
    // Return in the rate field commits nothing.
    type(view->rateField(), "44100");
    choose(view->channelsPicker(), "1");
    settle(view);
    Q_EMIT view->rateField()->returnPressed();
    EXPECT_FALSE(player.recoveryStatus());
    view->prepareButton()->click();
    EXPECT_EQ(player.recoveryStatus()->parameters, (SD2Metadata{3, 44100, 1, std::nullopt, std::nullopt}));
    EXPECT_TRUE(closed());

    // While the job waits, the form cannot start another.
    view = openSheet();
    EXPECT_EQ(view->channelsPicker()->currentText(), "Mono — one channel");
    type(view->rateField(), "96000");
    settle(view);
    EXPECT_FALSE(view->prepareButton()->isEnabled());

    // Another current track closes the sheet.
    player.append({bare("next.sd2", std::nullopt)});
    EXPECT_TRUE(sheet);
    player.select(idOf("next.sd2"), false);
    EXPECT_TRUE(closed());
}

// A rate a reader, a dictation tool or an on-screen keyboard enters through the field's element
// is the rate typed: it decides Prepare and the copy's rate, the field's text is not only shown.
TEST_F(SD2Views, ToolsSheetTakesTheRateAReaderEnters)
{
    player.append({bare("take.sd2", std::nullopt)});
    SD2ToolsView *view = openSheet();
    QAccessibleInterface *field = QAccessible::queryAccessibleInterface(view->rateField());
    ASSERT_NE(field->editableTextInterface(), nullptr);
    for (const char *rate : {"", "abc"}) {
        field->setText(QAccessible::Value, QString::fromLatin1(rate));
        settle(view);
        EXPECT_FALSE(view->prepareButton()->isEnabled()) << rate;
    }
    field->setText(QAccessible::Value, QStringLiteral("2205"));
    field->editableTextInterface()->insertText(4, QStringLiteral("0"));
    settle(view);
    ASSERT_TRUE(view->prepareButton()->isEnabled());
    view->prepareButton()->click();
    ASSERT_TRUE(player.recoveryStatus());
    EXPECT_EQ(player.recoveryStatus()->parameters.sampleRate, 22050);
}

TEST_F(SD2Views, ToolsSheetLinksAndUnlinksAPair)
{
    recoveredChannels();
    player.select(idOf("take.R"), false);
    SD2ToolsView *view = openSheet();
    // The selected .R file and its one partner.
    EXPECT_EQ(view->leftID(), idOf("take.L"));
    EXPECT_EQ(view->rightID(), idOf("take.R"));
    EXPECT_EQ(view->leftPicker()->currentText(), "take.L");
    EXPECT_EQ(view->rightPicker()->currentText(), "take.R");
    EXPECT_FALSE(view->issueLabel()->isVisibleTo(view));
    // Choosing no left file empties the right one; choosing it again finds its one partner.
    choose(view->leftPicker(), QString());
    EXPECT_FALSE(view->rightID());
    choose(view->leftPicker(), idOf("take.L").toString(QUuid::WithoutBraces));
    EXPECT_EQ(view->rightID(), idOf("take.R"));
    settle(view);
    ASSERT_TRUE(view->createPairButton()->isEnabled());

    view->createPairButton()->click();
    settle(view);
    EXPECT_TRUE(view->cancelPairingButton()->isVisibleTo(view));
    EXPECT_FALSE(view->createPairButton()->isVisibleTo(view));
    // The linked row replaces the selected one, which closes the sheet.
    ASSERT_TRUE(test::pumpUntil([&] { return player.tracks().size() == 1 && closed(); }));
    ASSERT_TRUE(player.selectedTrack() && player.selectedTrack()->pair);

    view = openSheet();
    EXPECT_TRUE(text(view->pairSummaryText()).startsWith("Left: take.L\nRight: take.R\n"));
    EXPECT_FALSE(view->pairingGroup()->isVisibleTo(view));
    view->unpairButton()->click();
    EXPECT_EQ(player.tracks().size(), 2);
    EXPECT_TRUE(closed());
}

TEST_F(SD2Views, ToolsSheetWillNotPairAChannelWhileItIsRecovered)
{
    recoveredChannels();
    player.select(idOf("take.L"), false);
    player.recoverSelected(SD2Metadata{2, 48000, 1, std::nullopt, std::nullopt});
    ASSERT_TRUE(player.recoveryQueue().states().contains(idOf("take.L")));
    SD2ToolsView *view = openSheet();
    ASSERT_EQ(view->rightID(), idOf("take.R"));
    settle(view);
    EXPECT_FALSE(view->createPairButton()->isEnabled());
    // Cancelled, the channel keeps the copy it had, and can be paired again.
    player.recoveryQueue().cancel(idOf("take.L"), true);
    ASSERT_TRUE(sheet);
    settle(view);
    EXPECT_TRUE(view->createPairButton()->isEnabled());
}

TEST_F(SD2Views, ClosingTheSheetAbandonsItsPairingOnce)
{
    recoveredChannels();
    player.select(idOf("take.L"), false);
    SD2ToolsView *view = openSheet();
    ASSERT_EQ(view->rightID(), idOf("take.R"));
    view->createPairButton()->click();
    ASSERT_TRUE(player.pairing().isPreparing());
    view->doneButton()->click();
    EXPECT_FALSE(player.pairing().isPreparing());

    // A pairing started after the close outlives the closed sheet's end.
    ASSERT_TRUE(sheet);
    player.pairSD2(player.tracks()[0], player.tracks()[1]);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(sheet);
    EXPECT_TRUE(player.pairing().isPreparing());
    ASSERT_TRUE(test::pumpUntil([&] { return player.tracks().size() == 1; }));
    EXPECT_EQ(player.pairing().message(), SD2PairCoordinator::readyMessage);
}
