// SPDX-License-Identifier: GPL-3.0-or-later
// The trend window: the inputs' recent readings as curves, with a channel
// picker, a time span, a cursor, per-channel figures, pause and export. It
// only reads the history the acquisition window records; it never calls
// the driver.
#pragma once

#include "engineering.h"
#include "history.h"
#include "reduce.h"
#include "setup.h"

#include <QList>
#include <QPointF>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <vector>

class QByteArray;
class QCheckBox;
class QComboBox;
class QCPGraphData;
class QCPItemStraightLine;
class QCPLayer;
class QCPItemText;
class QCustomPlot;
class QHBoxLayout;
class QLabel;
class QMouseEvent;
class QPushButton;
class QScrollArea;
class QShowEvent;
class QSplitter;
class QTableWidget;
class QTimer;

namespace trend {
class ColumnCanvas;
class ColumnGraph;
} // namespace trend

class frmTrend : public QWidget {
    Q_OBJECT

public:
    // Both clocks now (trend::Now unless a test stands in). The monotonic
    // time places the curves; the wall time only labels them.
    using Clock = std::function<trend::Stamp()>;

    explicit frmTrend(const trend::History& history, QWidget* parent = nullptr, Clock clock = {});

    // The time spans offered, in milliseconds.
    static constexpr std::array<std::int64_t, 4> kSpansMs{10'000, 60'000, 600'000, 3'600'000};

    void SetSpan(int index);     // index into kSpansMs
    void SetFitToData(bool fit); // value axis fitted, or fixed at ±5 V
    void SetChannels(const std::vector<int>& channels);
    std::vector<int> ShownChannels() const;
    void SetPaused(bool paused);
    bool Paused() const { return paused_; }

    // The span on screen (monotonic milliseconds, as the history's), and a
    // redraw of it now.
    trend::Span VisibleSpan() const;
    void Redraw();

    // Writes the visible span; false (with the reason in lastError) on failure.
    bool ExportCsv(const QString& path);
    bool ExportPng(const QString& path);
    bool ExportPdf(const QString& path);
    QString LastError() const { return lastError_; }

    // The cursor readout at a monotonic time within the span.
    void PlaceCursor(std::int64_t ms);

    // A setup file's names, units and limits (docs/setup-file.md). Taken
    // whole: a file that cannot be read leaves the setup as it was, with the
    // reason in LastError. No setup, no change to what the window shows.
    bool LoadSetup(const QString& path);
    void SetSetup(const mox::setup::Setup& setup);
    const mox::setup::Setup* CurrentSetup() const { return setup_ ? &*setup_ : nullptr; }

    // The channel whose limit lines are drawn: the figures' current row, or
    // the first shown channel when none is current.
    void SelectChannel(int channel);
    void ShowSelectedLimits();
    int SelectedChannel() const;

    // The channel pointed at (a curve, a figures row or a picker box):
    // drawn wider and on top, the others dimmed, until the pointer leaves;
    // -1 for none.
    void HighlightChannel(int channel);
    int HighlightedChannel() const { return highlighted_; }
    // The shown channel whose curve passes within a few pixels of a point
    // of the plot, the nearest; -1 for none.
    int ChannelAt(QPointF position) const;

signals:
    void SetupChanged(); // another setup file was loaded from the menu

private:
    void BuildControls();
    QHBoxLayout* CreateToolBar();
    void CreatePlot();
    void CreateHighlight();
    void CreateCursorAndStats();
    QWidget* BuildChannelPicker();
    void Refresh();
    // The curves of the span reduced to `columns` pixel columns; the lowest
    // and highest value drawn come back through lo and hi, the span's
    // figures of the shown channels through figures if given.
    void FillCurves(trend::Span span, int columns, double& lo, double& hi,
                    std::vector<trend::Stats>* figures = nullptr);
    // A shown channel's curve as the plot takes it, and its extremes.
    struct Curve {
        QVector<QCPGraphData> line;
        double lo = std::numeric_limits<double>::infinity();
        double hi = -std::numeric_limits<double>::infinity();
    };
    std::vector<Curve> Curves(trend::Span span, int columns, std::vector<trend::Stats>* figures) const;
    // The table's figures: those given (counted over the visible span for
    // the shown channels), or counted here.
    void UpdateStats(const std::vector<trend::Stats>* counted = nullptr);
    void UpdateCursorColumn();
    void UpdateModeCaption();
    void OnMouseMove(QMouseEvent* event);
    bool eventFilter(QObject* watched, QEvent* event) override;
    void ApplyPens();
    void PlaceChannelName(QPointF position);
    void ExportWithDialog(int kind);
    void OpenSetupWithDialog();
    void ApplySetup();
    void FitPicker();
    void showEvent(QShowEvent* event) override;
    void CreateLimitLines();
    void UpdateLimitLines();
    void ColourRow(int row, vcard::Level level);
    bool Export(const QString& path, const QByteArray& content);
    bool DrawPdf(QByteArray& document) const;
    // The wall clock's reading minus the monotonic one at the end of the view.
    std::int64_t WallOffsetMs() const;
    std::array<std::string, 3> ModeNames() const;

    const trend::History& history_;
    Clock clock_;
    std::int64_t spanMs_ = kSpansMs[0];
    bool fit_ = false;
    bool paused_ = false;
    trend::Stamp pausedAt_;
    bool cursorShown_ = false;
    std::int64_t cursorMs_ = 0;
    std::int64_t shownOffsetMs_ = 0; // WallOffsetMs() of the last redraw: the axis' keys
    trend::Span shownSpan_{};        // the span of the last redraw: the curves' readings
    QString lastError_;
    std::optional<mox::setup::Setup> setup_;
    std::optional<trend::LevelFollower> levels_;
    // The figures of the span as of the last UpdateStats, by channel: a
    // cursor move changes only the cursor column of the table.
    std::array<trend::Stats, trend::kChannels> stats_{};

    QCustomPlot* plotTrend = nullptr;
    std::array<trend::ColumnGraph*, trend::kChannels> graphs_{};
    trend::ColumnCanvas* canvas_ = nullptr;
    QCPLayer* cursorLayer_ = nullptr; // buffered: a mouse move replots this layer alone
    QCPItemStraightLine* cursorLine_ = nullptr;
    QCPItemText* channelName_ = nullptr; // the highlighted curve's name by the pointer
    int highlighted_ = -1;
    int pointedChannel_ = -1; // under the pointer in the plot, highlighted when it rests
    QPointF pointer_;
    QTimer* TimerHighlight = nullptr;
    std::array<QCPItemStraightLine*, 4> limitLines_{}; // a channel has at most four levels
    std::array<QCPItemText*, 4> limitLabels_{};
    std::array<QCheckBox*, trend::kChannels> chkChannel{};
    QComboBox* cboSpan = nullptr;
    QComboBox* cboScale = nullptr;
    QPushButton* cmdPause = nullptr;
    QPushButton* cmdExport = nullptr;
    QPushButton* cmdSetup = nullptr;
    QLabel* lblMode = nullptr;
    QLabel* lblCursor = nullptr;
    QTableWidget* tblStats = nullptr;
    QSplitter* splitPicker_ = nullptr; // the picker | the plot and figures
    QScrollArea* pickerArea_ = nullptr;
    bool pickerToFit_ = true;      // at the next show
    QTimer* TimerRedraw = nullptr; // coalesces redraws, and moves the time axis while nothing is read
};
