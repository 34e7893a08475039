#pragma once

#include "library/audio_track.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUuid>
#include <QWidget>

#include <functional>
#include <optional>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace tampod {

class PlayerModel;
class RefreshScheduler;
class SheetDialog;
class TaggedComboBox;

// The "Advanced SD2 Recovery" sheet's content: for the selected track, what is known of its
// SD2 parameters, and for a missing-metadata file the depth, rate and channels to read it with;
// for a linked pair its two files and Unpair; and the linking of a left and a right mono SD2
// file into a stereo pair. It reads the model and calls its operations; the recovery, the
// pairing and their rules live there. thread: main.
class SD2ToolsView : public QWidget {
    Q_OBJECT

public:
    static constexpr QSize fixedSize{500, 620};

    explicit SD2ToolsView(PlayerModel &player, QWidget *parent = nullptr);
    ~SD2ToolsView() override;

    // A sheet of window holding a new view. It closes itself when another track becomes
    // current; however it closes, a pairing in progress is abandoned, once.
    static SheetDialog *sheet(PlayerModel &player, QWidget *window);

    // Closes the sheet; set by whoever shows the view.
    std::function<void()> dismiss;

    // Seeds the form from the selection; runs once, when the view is first shown.
    void appear();
    // Abandons a pairing in progress; runs once, when the view goes.
    void disappear();

    void refresh();

    // The state the form edits.
    int bits() const { return bits_; }
    const QString &rate() const { return rate_; }
    int channels() const { return channels_; }
    const std::optional<QUuid> &leftID() const { return leftID_; }
    const std::optional<QUuid> &rightID() const { return rightID_; }
    const std::optional<QUuid> &sourceID() const { return sourceID_; }

    // The controls, for tests and screen readers.
    TaggedComboBox *bitsPicker() const { return bitsPicker_; }
    QLineEdit *rateField() const { return rateField_; }
    TaggedComboBox *channelsPicker() const { return channelsPicker_; }
    QLabel *volumeNote() const { return volumeNote_; }
    QPushButton *prepareButton() const { return prepare_; }
    QWidget *recoveryForm() const { return recoveryForm_; }
    QWidget *pairSummary() const { return pairSummary_; }
    QLabel *pairSummaryText() const { return pairText_; }
    QPushButton *unpairButton() const { return unpair_; }
    QLabel *decoderNote() const { return decoderNote_; }
    QWidget *pairingGroup() const { return pairingGroup_; }
    TaggedComboBox *leftPicker() const { return leftPicker_; }
    TaggedComboBox *rightPicker() const { return rightPicker_; }
    QLabel *issueLabel() const { return issue_; }
    QProgressBar *pairingProgress() const { return pairingProgress_; }
    QPushButton *createPairButton() const { return createPair_; }
    QPushButton *cancelPairingButton() const { return cancelPairing_; }
    QLabel *messageLabel() const { return message_; }
    QPushButton *doneButton() const { return done_; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    void chooseLeft(const QString &tag);
    void prepareRecovery();
    void createPair();
    void closeSheet();
    void selectionChanged();
    void refreshPickers(const QList<AudioTrack> &left, const QList<AudioTrack> &right);

    QPointer<PlayerModel> player_;
    std::optional<QUuid> leftID_;   // thread: main, as every member
    std::optional<QUuid> rightID_;
    int bits_ = 16;
    QString rate_ = QStringLiteral("44100");
    int channels_ = 1;
    std::optional<QUuid> sourceID_;
    bool appeared_ = false;
    bool disappeared_ = false;
    QList<QUuid> rightIDs_;
    QStringList leftItems_, rightItems_;

    QLabel *trackName_;
    QLabel *trackNote_;
    QWidget *selectedGroup_;
    QWidget *recoveryForm_;
    QLabel *summary_;
    TaggedComboBox *bitsPicker_;
    QLineEdit *rateField_;
    TaggedComboBox *channelsPicker_;
    QLabel *volumeNote_;
    QPushButton *prepare_;
    QWidget *pairSummary_;
    QLabel *pairText_;
    QPushButton *unpair_;
    QLabel *decoderNote_;
    QWidget *pairingGroup_;
    TaggedComboBox *leftPicker_;
    TaggedComboBox *rightPicker_;
    QLabel *issue_;
    QProgressBar *pairingProgress_;
    QPushButton *cancelPairing_;
    QPushButton *createPair_;
    QLabel *message_;
    QPushButton *done_;
    RefreshScheduler *scheduler_;
};

} // namespace tampod
