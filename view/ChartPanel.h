#pragma once

#include "view/TChartControl.h"

#include <QObject>
#include <QRect>
#include <QString>

#include <cstdint>
#include <optional>

class QTimer;
class QWidget;

namespace qm45 {

class ChartToolbar;
class Dialogs;
class TrendChart;

// The behaviour of the trend chart and its tool bar Panel19: the paging
// object ChartControl, the page buttons and the page number on Bt10, area or
// line, the page-size edit with its delay, enlarging and restoring the chart,
// and saving it as a bitmap. Main thread only.
class ChartPanel final : public QObject {
    Q_OBJECT
public:
    struct Widgets {
        TrendChart* Chtshow = nullptr;   // required
        ChartToolbar* Panel19 = nullptr; // required
        // Hidden while the chart is enlarged; either may be missing.
        QWidget* Panel4 = nullptr;
        QWidget* Panel6 = nullptr;
        // Parents the dialogs. Missing: the chart's own top-level window.
        QWidget* window = nullptr;
        // The page-size delay. The caller keeps ownership; missing: the panel
        // makes its own.
        QTimer* Timer2 = nullptr;
    };

    static constexpr int kPageSizeDelayMs = 2000;

    ChartPanel(const Widgets& widgets, Dialogs& dialogs, QObject* parent = nullptr);
    ~ChartPanel() override;

    [[nodiscard]] TChartControl& ChartControl() { return ChartControl_; }
    [[nodiscard]] const TChartControl& ChartControl() const { return ChartControl_; }

    // For the recorder: each shows the resulting page number on Bt10.
    void AddValue(double value);
    void ClearChart();

    // Draws exactly the series at `index`: 0 area, 1 line.
    void ShowSeries(int index);
    void btFillClick();

    void MaxrecordChange();
    void Timer2Timer();

    void BtFirstClick();
    void BTPreviousClick();
    void BtNextClick();
    void BTlastClick();

    void TbFdClick();
    [[nodiscard]] bool enlarged() const;

    void BtSaveClick();

    // The page size an edit text asks for: a decimal integer above 0, else none.
    [[nodiscard]] static std::optional<std::int32_t> pageSizeFromText(const QString& text);

private:
    void showPage(std::int32_t page);
    [[nodiscard]] QWidget* window() const;
    // Empty on success, else what went wrong, in the platform's words.
    [[nodiscard]] QString writeBitmap(const QString& path) const;

    Widgets widgets_;
    Dialogs& dialogs_;
    TChartControl ChartControl_;
    QRect SavedChartBounds;
};

} // namespace qm45
