#pragma once

#include <QObject>

#include <array>
#include <cstdint>

class QAbstractButton;
class QAction;
class QActionGroup;
class QCheckBox;
class QLineEdit;
class QMenu;
class QTimer;
class QWidget;

namespace qm45 {

class Dialogs;
class DigitKeyFilter;
class Recorder;

// The main window's recording controls bound to the recorder: "Repeat", timed
// sampling (check box, period edit, sampling timer), Close Data and the
// "Record" menu. The window creates and places the widgets; this object
// connects them and holds the handlers.
//
// Main thread only.
class RecorderControls final : public QObject {
    Q_OBJECT
public:
    struct Widgets {
        QCheckBox* RepeatSet = nullptr;
        QCheckBox* RecordSI = nullptr;
        QLineEdit* RecordSITime = nullptr;
        QTimer* Timer1 = nullptr;
        QAbstractButton* RecordNew = nullptr;
    };

    struct LimitItem {
        const char* name;
        const char* caption;
        std::int32_t limit;
    };
    static constexpr std::array<LimitItem, 6> kLimitItems{{{"N10001", "1000", 1000},
                                                           {"N50001", "5000", 5000},
                                                           {"N100001", "10000", 10000},
                                                           {"N500001", "50000", 50000},
                                                           {"N1000001", "100000", 100000},
                                                           {"limitess", "limitless", 10000000}}};

    // Takes over the widgets' current states: the recorder follows "Repeat",
    // the timer runs exactly when RecordSI is ticked, with the edit's period.
    // dialogParent owns the Close Data question.
    // The first sample the record limit refuses is followed by one
    // information box naming the limit and the "Record" menu.
    RecorderControls(const Widgets& widgets, Recorder& recorder, Dialogs& dialogs,
                     QWidget* dialogParent, QObject* parent = nullptr);

    // Adds the six limit items to the "Record" menu, radio-style, the check
    // mark on the recorder's current limit.
    void populateRecordMenu(QMenu* menu);
    [[nodiscard]] QAction* limitAction(int item) const;

    void Timer1Timer();
    void RecordSIClick();
    void RecordSITimeChange();
    void RecordNewClick();
    void N10001Click() { chooseLimit(0); }
    void N50001Click() { chooseLimit(1); }
    void N100001Click() { chooseLimit(2); }
    void N500001Click() { chooseLimit(3); }
    void N1000001Click() { chooseLimit(4); }
    void limitessClick() { chooseLimit(5); }

private:
    void chooseLimit(int item);
    void showLimitReached(std::int32_t limit);

    Widgets w_;
    Recorder& recorder_;
    Dialogs& dialogs_;
    QWidget* dialogParent_;
    DigitKeyFilter* keyFilter_;
    QActionGroup* limitGroup_ = nullptr;
    std::array<QAction*, kLimitItems.size()> limitActions_{};
};

} // namespace qm45
