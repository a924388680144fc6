#pragma once

#include "tests/support/FakeDialogs.h"
#include "view/ChartPanel.h"
#include "view/ChartToolbar.h"
#include "view/TrendChart.h"

#include <QFrame>
#include <QLineEdit>
#include <QTimer>
#include <QToolButton>
#include <QWidget>

#include <memory>

// The chart's corner of the main window at the window's own places: the top
// bar, the judgement panel, an LCD stand-in, the chart and its tool bar, in
// the order the window creates them.
struct ChartTestWindow {
    ChartTestWindow() {
        window.setFixedSize(716, 474);
        Panel6 = new QFrame(&window);
        Panel6->setGeometry(0, 0, 716, 30);
        lcd = new QFrame(&window);
        lcd->setGeometry(4, 29, 334, 136);
        Panel4 = new QFrame(&window);
        Panel4->setGeometry(338, 29, 375, 120);
        Chtshow = new qm45::TrendChart(&window);
        Chtshow->setGeometry(336, 187, 377, 286);
        Panel19 = new qm45::ChartToolbar(&window);
        Panel19->setGeometry(339, 152, 372, 33);
        Timer2 = new QTimer(&window);

        qm45::ChartPanel::Widgets widgets;
        widgets.Chtshow = Chtshow;
        widgets.Panel19 = Panel19;
        widgets.Panel4 = Panel4;
        widgets.Panel6 = Panel6;
        widgets.window = &window;
        widgets.Timer2 = Timer2;
        panel = std::make_unique<qm45::ChartPanel>(widgets, dialogs);
        Chtshow->setLeftAxisRange(-40000, 40000);
    }

    void addReadings(int count, double value = 1000) {
        for (int i = 0; i < count; ++i)
            panel->AddValue(value);
    }

    void applyPageSizeText(const QString& text) {
        Panel19->Maxrecord->setText(text);
        panel->Timer2Timer();
    }

    [[nodiscard]] qm45::TChartControl& control() { return panel->ChartControl(); }

    FakeDialogs dialogs;
    QWidget window;
    QFrame* Panel6 = nullptr;
    QFrame* lcd = nullptr;
    QFrame* Panel4 = nullptr;
    qm45::TrendChart* Chtshow = nullptr;
    qm45::ChartToolbar* Panel19 = nullptr;
    QTimer* Timer2 = nullptr;
    std::unique_ptr<qm45::ChartPanel> panel;
};
