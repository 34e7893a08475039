#pragma once

#include <QList>
#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;

namespace tampod {

class ExportSession;
class RefreshScheduler;
class Stepper;
class TaggedComboBox;

// What the export holds: the entire file, or the selected loop repeated a chosen number of
// times, with the lengths and the one-line summary of the output. thread: main only.
class LoopExportControls : public QWidget {
    Q_OBJECT

public:
    static constexpr int quickChoices[] = {2, 4, 8, 16, 32, 64};

    explicit LoopExportControls(ExportSession &session, QWidget *parent = nullptr);

    void refresh();

    TaggedComboBox *exportPicker() const { return exportPicker_; }
    QPushButton *quickChoice(int count) const;
    QLineEdit *repeatField() const { return repeatField_; }
    Stepper *repeatStepper() const { return repeatStepper_; }
    QLabel *sectionLine() const { return section_; }
    QLabel *loopLengthLine() const { return loopLength_; }
    QLabel *exportedLengthLine() const { return exportedLength_; }
    QLabel *summaryLine() const { return summary_; }
    QWidget *repeatPart() const { return repeatPart_; }

private:
    ExportSession &session_;
    RefreshScheduler *scheduler_;
    QWidget *loopPart_;
    TaggedComboBox *exportPicker_;
    QWidget *repeatPart_;
    QList<QPushButton *> quickButtons_;
    QLineEdit *repeatField_;
    Stepper *repeatStepper_;
    QLabel *section_;
    QLabel *loopLength_;
    QLabel *exportedLength_;
    QLabel *summary_;
};

} // namespace tampod
