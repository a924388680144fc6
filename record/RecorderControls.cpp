#include "record/RecorderControls.h"

#include "record/Recorder.h"
#include "view/Dialogs.h"
#include "view/DigitKeyFilter.h"

#include <QAbstractButton>
#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QTimer>

namespace qm45 {

RecorderControls::RecorderControls(const Widgets& widgets, Recorder& recorder, Dialogs& dialogs,
                                   QWidget* dialogParent, QObject* parent)
    : QObject(parent), w_(widgets), recorder_(recorder), dialogs_(dialogs),
      dialogParent_(dialogParent), keyFilter_(new DigitKeyFilter(this)) {
    Q_ASSERT(w_.RepeatSet && w_.RecordSI && w_.RecordSITime && w_.Timer1 && w_.RecordNew);

    recorder_.setRepeatSet(w_.RepeatSet->isChecked());
    connect(w_.RepeatSet, &QCheckBox::toggled, this,
            [this](bool on) { recorder_.setRepeatSet(on); });

    w_.RecordSITime->installEventFilter(keyFilter_);
    connect(w_.RecordSITime, &QLineEdit::textChanged, this, &RecorderControls::RecordSITimeChange);
    // toggled, not clicked: a tick set from code must start the timer too.
    connect(w_.RecordSI, &QCheckBox::toggled, this, &RecorderControls::RecordSIClick);
    connect(w_.Timer1, &QTimer::timeout, this, &RecorderControls::Timer1Timer);
    connect(w_.RecordNew, &QAbstractButton::clicked, this, &RecorderControls::RecordNewClick);

    // Shown from the top of the event loop, not inside the frame handler
    // that took the refused sample.
    recorder_.setLimitReachedHandler([self = QPointer<RecorderControls>(this)](std::int32_t limit) {
        if (self)
            QMetaObject::invokeMethod(
                self.data(), [self, limit] { self->showLimitReached(limit); },
                Qt::QueuedConnection);
    });

    RecordSITimeChange();
    RecordSIClick();
}

void RecorderControls::populateRecordMenu(QMenu* menu) {
    limitGroup_ = new QActionGroup(menu);
    limitGroup_->setExclusive(true);
    for (std::size_t i = 0; i < kLimitItems.size(); ++i) {
        const LimitItem& item = kLimitItems[i];
        QAction* action = menu->addAction(QLatin1String(item.caption));
        action->setObjectName(QLatin1String(item.name));
        action->setCheckable(true);
        action->setChecked(item.limit == recorder_.RecordLimit());
        limitGroup_->addAction(action);
        const int index = int(i);
        connect(action, &QAction::triggered, this, [this, index] { chooseLimit(index); });
        limitActions_[i] = action;
    }
}

QAction* RecorderControls::limitAction(int item) const {
    return item >= 0 && item < int(limitActions_.size()) ? limitActions_[std::size_t(item)]
                                                         : nullptr;
}

void RecorderControls::Timer1Timer() {
    recorder_.timedSample();
}

void RecorderControls::RecordSIClick() {
    // The first timed sample comes one period after the tick, and only when
    // a frame came in that period.
    if (w_.RecordSI->isChecked()) {
        if (!w_.Timer1->isActive())
            recorder_.startTimedSampling();
        w_.Timer1->start();
    } else {
        w_.Timer1->stop();
    }
}

void RecorderControls::showLimitReached(std::int32_t limit) {
    dialogs_.information(dialogParent_,
                         QStringLiteral("Recording stopped at %1 rows, the limit chosen in the "
                                        "\"Record\" menu. Choose a higher limit there to go on "
                                        "recording.")
                             .arg(limit));
}

void RecorderControls::RecordSITimeChange() {
    int seconds = Recorder::samplingPeriodSeconds(w_.RecordSITime->text());
    if (seconds == 0) {
        seconds = 1;
        // Re-enters through textChanged with a valid text.
        w_.RecordSITime->setText(QStringLiteral("1"));
    }
    w_.Timer1->setInterval(seconds * 1000);
}

void RecorderControls::RecordNewClick() {
    // The question runs the event loop: samples taken while it is open are
    // emptied with the rest when the answer is Yes.
    if (dialogs_.question(dialogParent_, QStringLiteral("Are you sure to delete the data?")) !=
        Dialogs::Answer::Yes)
        return;
    recorder_.closeData();
}

void RecorderControls::chooseLimit(int item) {
    if (item < 0 || item >= int(kLimitItems.size()))
        return;
    recorder_.setRecordLimit(kLimitItems[std::size_t(item)].limit);
    if (QAction* action = limitActions_[std::size_t(item)])
        action->setChecked(true);
}

} // namespace qm45
