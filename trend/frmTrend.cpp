// SPDX-License-Identifier: GPL-3.0-or-later
#include "frmTrend.h"

#include "columns.h"
#include "csv.h"
#include "engineering.h"
#include "save.h"
#include "widgets.h"

#include <QBuffer>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPageLayout>
#include <QPdfWriter>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSplitter>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <qcustomplot.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>

namespace {

constexpr double kFixedVolts = 5.25; // ±5 V with a margin, so full scale stays visible
constexpr int kMinRedrawMs = 200;    // the acquisition tick: data never comes faster
constexpr int kMaxRedrawMs = 1000;
constexpr int kRestMs = 120; // the pointer resting on a curve this long highlights it

// Sixteen colours told apart at a glance; channels 16..31 take the same
// colours darker, so a channel's colour also hints at its bank.
QColor ChannelColour(int k) {
    static const QRgb base[16] = {0x1f77b4, 0xff7f0e, 0x2ca02c, 0xd62728, 0x9467bd, 0x8c564b, 0xe377c2, 0x7f7f7f,
                                  0xbcbd22, 0x17becf, 0x393b79, 0xf0027f, 0x637939, 0xe7ba52, 0x7b4173, 0x00a087};
    const QColor colour(base[k % 16]);
    return k < 16 ? colour : colour.darker(160);
}

QIcon Swatch(const QColor& colour) {
    QPixmap pixmap(12, 12);
    pixmap.fill(colour);
    return QIcon(pixmap);
}

QString LocalTime(std::int64_t ms) {
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
}

// The band as one line through every column's lowest and highest reading.
// Each column is a vertical stroke; its two ends are taken in the order that
// keeps the stroke joining it to the previous column short, or a dense span
// would paint each column's height twice.
// Keys move from monotonic to wall-clock seconds by `offset`.
void ZigZag(const trend::Envelope& band, double offset, QVector<QCPGraphData>& points) {
    const std::size_t n = std::min(band.low.size(), band.high.size());
    points.resize(static_cast<qsizetype>(n));
    QCPGraphData* line = points.data(); // detached once, not at every write
    double previous = std::numeric_limits<double>::quiet_NaN();
    for (std::size_t i = 0; i < n;) {
        const bool pair = i + 1 < n && band.low[i + 1].key > band.low[i].key &&
                          band.low[i + 1].value == band.low[i].value && band.high[i + 1].value == band.high[i].value &&
                          !std::isnan(band.low[i].value);
        if (!pair) {
            line[static_cast<qsizetype>(i)] = {band.low[i].key + offset, band.low[i].value};
            previous = band.low[i].value;
            ++i;
            continue;
        }
        const double lowValue = band.low[i].value, highValue = band.high[i].value;
        const bool highFirst =
            !std::isnan(previous) && std::fabs(previous - highValue) < std::fabs(previous - lowValue);
        const auto at = static_cast<qsizetype>(i);
        const double first = highFirst ? highValue : lowValue, second = highFirst ? lowValue : highValue;
        line[at] = {band.low[i].key + offset, first};
        line[at + 1] = {band.low[i + 1].key + offset, second};
        previous = second;
        i += 2;
    }
}

using trend::kColChannel;
using trend::kColCursor;
using trend::kColLevel;
using trend::kColUnit;
using trend::kStatsColumns;

enum ExportKind { kCsv, kPng, kPdf };

} // namespace

frmTrend::frmTrend(const trend::History& history, QWidget* parent, Clock clock)
    : QWidget(parent), history_(history), clock_(std::move(clock)) {
    if (!clock_) clock_ = trend::Now;
    setObjectName(QStringLiteral("frmTrend"));
    setWindowTitle(tr("趋势图"));
    BuildControls();
    SetChannels({0, 1, 2, 3, 4, 5, 6, 7});
    resize(1100, 720);

    TimerRedraw = new QTimer(this);
    TimerRedraw->setObjectName(QStringLiteral("TimerRedraw"));
    TimerRedraw->setInterval(kMinRedrawMs);
    connect(TimerRedraw, &QTimer::timeout, this, [this] {
        if (isVisible()) Redraw();
    });
    TimerRedraw->start();
}

void frmTrend::BuildControls() {
    // Created in this order, the channel picker last: the order Tab follows.
    QHBoxLayout* bar = CreateToolBar();
    CreatePlot();
    CreateCursorAndStats();

    // Splitters, and the picker in a scroll area, so that the window fits
    // a small screen (or a large one at 200 %) and the user chooses where
    // the room goes.
    auto* under = new QWidget(this);
    auto* underLayout = new QVBoxLayout(under);
    underLayout->setContentsMargins(0, 0, 0, 0);
    underLayout->addWidget(lblCursor);
    underLayout->addWidget(tblStats, 1);
    auto* plotAndFigures = new QSplitter(Qt::Vertical, this);
    plotAndFigures->setObjectName(QStringLiteral("splitPlot"));
    plotAndFigures->addWidget(plotTrend);
    plotAndFigures->addWidget(under);
    plotAndFigures->setStretchFactor(0, 3);
    plotAndFigures->setStretchFactor(1, 1);
    plotAndFigures->setChildrenCollapsible(false);
    plotAndFigures->setSizes({3000, 1000}); // shared in this ratio at any height

    auto* right = new QWidget(this);
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    rightLayout->addLayout(bar);
    rightLayout->addWidget(plotAndFigures, 1);

    pickerArea_ = new QScrollArea(this);
    QScrollArea* pickerArea = pickerArea_;
    pickerArea->setObjectName(QStringLiteral("channelPickerArea"));
    pickerArea->setWidget(BuildChannelPicker());
    pickerArea->setWidgetResizable(true);
    pickerArea->setFrameShape(QFrame::NoFrame);
    // Shown, the picker takes the width it asks for and the plot the rest.
    pickerArea->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    splitPicker_ = new QSplitter(Qt::Horizontal, this);
    splitPicker_->setObjectName(QStringLiteral("splitPicker"));
    splitPicker_->addWidget(pickerArea);
    splitPicker_->addWidget(right);
    splitPicker_->setStretchFactor(1, 1);
    splitPicker_->setCollapsible(1, false);

    auto* top = new QHBoxLayout(this);
    top->addWidget(splitPicker_);

    mox::SetAccessible(plotTrend, tr("趋势曲线"), tr("所选通道的电压随时间变化的曲线"));
    mox::SetAccessible(cboSpan, tr("时间范围"), tr("曲线显示的时间长度"));
    mox::SetAccessible(cboScale, tr("纵轴"), tr("纵轴固定为正负5伏或适应数据"));
    mox::SetAccessible(cmdPause, tr("暂停"), tr("冻结曲线，记录继续"));
    mox::SetAccessible(cmdExport, tr("导出"), tr("把可见时间范围导出为CSV、PNG或PDF"));
    mox::SetAccessible(tblStats, tr("通道统计"), tr("可见时间范围内每个显示通道的最小、最大、平均和标准差"));
    mox::SetAccessible(cmdSetup, tr("设置"), tr("打开设置文件：通道名称、单位和限值"));
}

// The mode caption and the span, scale, pause and export controls above the plot.
QHBoxLayout* frmTrend::CreateToolBar() {
    lblMode = new QLabel(this);
    lblMode->setObjectName(QStringLiteral("lblMode"));
    lblMode->setTextFormat(Qt::PlainText);

    cboSpan = new QComboBox(this);
    cboSpan->setObjectName(QStringLiteral("cboSpan"));
    cboSpan->addItems({tr("10 秒"), tr("1 分钟"), tr("10 分钟"), tr("1 小时")});
    connect(cboSpan, &QComboBox::currentIndexChanged, this, &frmTrend::SetSpan);

    cboScale = new QComboBox(this);
    cboScale->setObjectName(QStringLiteral("cboScale"));
    cboScale->addItems({tr("±5 V"), tr("适应数据")});
    connect(cboScale, &QComboBox::currentIndexChanged, this, [this](int i) { SetFitToData(i == 1); });

    cmdPause = new QPushButton(tr("暂停"), this);
    cmdPause->setObjectName(QStringLiteral("cmdPause"));
    cmdPause->setCheckable(true);
    connect(cmdPause, &QPushButton::toggled, this, &frmTrend::SetPaused);

    cmdExport = new QPushButton(tr("导出"), this);
    cmdExport->setObjectName(QStringLiteral("cmdExport"));
    auto* exportMenu = new QMenu(cmdExport);
    exportMenu->addAction(tr("CSV 数据…"), this, [this] { ExportWithDialog(kCsv); });
    exportMenu->addAction(tr("PNG 图片…"), this, [this] { ExportWithDialog(kPng); });
    exportMenu->addAction(tr("PDF 文档…"), this, [this] { ExportWithDialog(kPdf); });
    cmdExport->setMenu(exportMenu);

    cmdSetup = new QPushButton(tr("设置"), this);
    cmdSetup->setObjectName(QStringLiteral("cmdSetup"));
    auto* setupMenu = new QMenu(cmdSetup);
    setupMenu->addAction(tr("打开设置…"), this, &frmTrend::OpenSetupWithDialog)
        ->setObjectName(QStringLiteral("actOpenSetup"));
    cmdSetup->setMenu(setupMenu);

    auto* bar = new QHBoxLayout;
    bar->addWidget(lblMode, 1);
    bar->addWidget(new QLabel(tr("时间范围:"), this));
    bar->addWidget(cboSpan);
    bar->addWidget(new QLabel(tr("纵轴:"), this));
    bar->addWidget(cboScale);
    bar->addWidget(cmdPause);
    bar->addWidget(cmdExport);
    bar->addWidget(cmdSetup);
    return bar;
}

void frmTrend::CreatePlot() {
    plotTrend = new QCustomPlot(this);
    plotTrend->setObjectName(QStringLiteral("plotTrend"));
    plotTrend->setMinimumSize(240, 120); // still a readable curve; the splitters give it the rest
    // The plot fills all of itself with its background first: what lies
    // under it need not be painted at every replot.
    plotTrend->setAttribute(Qt::WA_OpaquePaintEvent);
    plotTrend->setNotAntialiasedElements(QCP::aeAll);
    plotTrend->setPlottingHints(QCP::phFastPolylines | QCP::phCacheLabels);
    auto ticker = QSharedPointer<QCPAxisTickerDateTime>::create();
    ticker->setDateTimeFormat(QStringLiteral("hh:mm:ss"));
    plotTrend->xAxis->setTicker(ticker);
    plotTrend->xAxis->setLabel(tr("时间"));
    plotTrend->yAxis->setLabel(trend::AxisLabel(std::nullopt));
    plotTrend->yAxis->setRange(-kFixedVolts, kFixedVolts);
    // Curves are reduced to two points per pixel column before they get
    // here, and an hour of them fills most of every column: the canvas
    // paints them as runs of pixels, far faster than strokes through the
    // general rasteriser. The graphs keep the data, the names and the pens.
    // No legend (the swatches name the curves, the pointer names the one
    // under it): an item per graph in QCustomPlot's hidden legend still has
    // its text measured at every replot.
    plotTrend->setAutoAddPlottableToLegend(false);
    std::vector<trend::ColumnGraph*> graphs;
    for (int k = 0; k < trend::kChannels; ++k) {
        auto* graph = new trend::ColumnGraph(plotTrend->xAxis, plotTrend->yAxis);
        graph->setName(QStringLiteral("AI%1").arg(k, 2, 10, QLatin1Char('0')));
        graph->setAdaptiveSampling(false); // reduced here already
        graphs_[static_cast<std::size_t>(k)] = graph;
        graphs.push_back(graph);
    }
    canvas_ = new trend::ColumnCanvas(plotTrend, plotTrend->axisRect());
    canvas_->setObjectName(QStringLiteral("trendCanvas"));
    for (trend::ColumnGraph* graph : graphs) graph->SetCanvas(canvas_);
    canvas_->SetGraphs(std::move(graphs));
    ApplyPens();
    // The cursor on a layer of its own, above everything else, buffered
    // while the cursor is shown (see PlaceCursor). The overlay below it (a
    // selection rectangle's; this plot has none) shares the buffer of the
    // layers under it: every buffer is cleared and composed at each replot.
    plotTrend->layer(QStringLiteral("overlay"))->setMode(QCPLayer::lmLogical);
    plotTrend->addLayer(QStringLiteral("cursor"), plotTrend->layer(QStringLiteral("overlay")), QCustomPlot::limAbove);
    cursorLayer_ = plotTrend->layer(QStringLiteral("cursor"));
    cursorLine_ = new QCPItemStraightLine(plotTrend);
    cursorLine_->setLayer(cursorLayer_);
    cursorLine_->setPen(QPen(Qt::gray, 1, Qt::DashLine));
    cursorLine_->setVisible(false);
    CreateLimitLines();
    CreateHighlight();
    connect(plotTrend, &QCustomPlot::mouseMove, this, &frmTrend::OnMouseMove);
    plotTrend->installEventFilter(this);
}

// The highlighted curve's name by the pointer, on the cursor's layer, and
// the timer that waits for the pointer to rest on a curve.
void frmTrend::CreateHighlight() {
    channelName_ = new QCPItemText(plotTrend);
    channelName_->setObjectName(QStringLiteral("channelName"));
    channelName_->setLayer(cursorLayer_);
    channelName_->position->setType(QCPItemPosition::ptAbsolute);
    channelName_->setBrush(QColor(255, 255, 255, 220));
    channelName_->setPadding(QMargins(3, 1, 3, 1));
    channelName_->setVisible(false);
    TimerHighlight = new QTimer(this);
    TimerHighlight->setObjectName(QStringLiteral("TimerHighlight"));
    TimerHighlight->setSingleShot(true);
    TimerHighlight->setInterval(kRestMs);
    connect(TimerHighlight, &QTimer::timeout, this, [this] {
        HighlightChannel(pointedChannel_);
        PlaceChannelName(pointer_);
    });
}

// The cursor's readout and the visible span's figures under the plot.
void frmTrend::CreateCursorAndStats() {
    lblCursor = new QLabel(tr("光标: 将鼠标移到曲线上"), this);
    lblCursor->setObjectName(QStringLiteral("lblCursor"));
    lblCursor->setTextFormat(Qt::PlainText);

    tblStats = new QTableWidget(0, kStatsColumns, this);
    tblStats->setObjectName(QStringLiteral("tblStats"));
    tblStats->setHorizontalHeaderLabels(trend::StatsHeaders(false));
    tblStats->setColumnHidden(kColUnit, true); // units and levels come with a setup
    tblStats->setColumnHidden(kColLevel, true);
    tblStats->verticalHeader()->setVisible(false);
    tblStats->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tblStats->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    tblStats->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    tblStats->setMinimumHeight(tblStats->verticalHeader()->defaultSectionSize() * 3); // a header and two rows
    connect(tblStats, &QTableWidget::currentCellChanged, this, [this](int row) {
        if (row >= 0) ShowSelectedLimits();
    });
    // A row pointed at highlights its curve.
    tblStats->setMouseTracking(true);
    tblStats->viewport()->installEventFilter(this);
    connect(tblStats, &QTableWidget::cellEntered, this, [this](int row) {
        const std::vector<int> channels = ShownChannels();
        if (row >= 0 && row < static_cast<int>(channels.size()))
            HighlightChannel(channels[static_cast<std::size_t>(row)]);
    });
}

QWidget* frmTrend::BuildChannelPicker() {
    auto* picker = new QWidget(this);
    picker->setObjectName(QStringLiteral("channelPicker"));
    auto* grid = new QGridLayout(picker);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(0);
    // One column per bank of eight, so the presets below match the columns.
    for (int k = 0; k < trend::kChannels; ++k) {
        auto* box = new QCheckBox(trend::PickerText(nullptr, k), picker);
        box->setObjectName(mox::IndexedName("chkChannel", k));
        box->setIcon(Swatch(ChannelColour(k)));
        box->setAccessibleName(tr("通道 %1").arg(k));
        connect(box, &QCheckBox::toggled, this, &frmTrend::Refresh);
        box->installEventFilter(this); // pointed at, it highlights its curve
        chkChannel[static_cast<std::size_t>(k)] = box;
        grid->addWidget(box, k % 8, k / 8);
    }
    struct Preset {
        const char* name;
        QString caption;
        int first, count;
    };
    const Preset presets[] = {
        {"cmdAllChannels", tr("全部"), 0, 32},          {"cmdNoChannels", tr("无"), 0, 0},
        {"cmdBank(0)", QStringLiteral("0–7"), 0, 8},    {"cmdBank(1)", QStringLiteral("8–15"), 8, 8},
        {"cmdBank(2)", QStringLiteral("16–23"), 16, 8}, {"cmdBank(3)", QStringLiteral("24–31"), 24, 8}};
    int i = 0;
    for (const Preset& p : presets) {
        auto* button = new QPushButton(p.caption, picker);
        button->setObjectName(QString::fromLatin1(p.name));
        const int first = p.first, count = p.count;
        connect(button, &QPushButton::clicked, this, [this, first, count] {
            std::vector<int> channels;
            for (int k = first; k < first + count; ++k) channels.push_back(k);
            SetChannels(channels);
        });
        grid->addWidget(button, 8 + i / 2, i % 2 * 2, 1, 2);
        ++i;
    }
    grid->setRowStretch(11, 1);
    return picker;
}

void frmTrend::SetSpan(int index) {
    index = std::clamp(index, 0, static_cast<int>(kSpansMs.size()) - 1);
    spanMs_ = kSpansMs[static_cast<std::size_t>(index)];
    if (cboSpan->currentIndex() != index) cboSpan->setCurrentIndex(index);
    // A long span moves less than a pixel per tick: redraw it less often.
    const int columns = std::max(1, plotTrend->axisRect()->width());
    TimerRedraw->setInterval(static_cast<int>(std::clamp<std::int64_t>(spanMs_ / columns, kMinRedrawMs, kMaxRedrawMs)));
    if (isVisible()) Redraw();
}

void frmTrend::SetFitToData(bool fit) {
    fit_ = fit;
    if (cboScale->currentIndex() != (fit ? 1 : 0)) cboScale->setCurrentIndex(fit ? 1 : 0);
    if (isVisible()) Redraw();
}

void frmTrend::SetChannels(const std::vector<int>& channels) {
    std::array<bool, trend::kChannels> shown{};
    for (int k : channels)
        if (k >= 0 && k < trend::kChannels) shown[static_cast<std::size_t>(k)] = true;
    for (std::size_t k = 0; k < shown.size(); ++k) {
        const QSignalBlocker block(chkChannel[k]);
        chkChannel[k]->setChecked(shown[k]);
    }
    Refresh();
}

// A redraw updates the figures too; hidden, only the figures are kept current.
void frmTrend::Refresh() {
    const std::vector<int> channels = ShownChannels();
    if (std::find(channels.begin(), channels.end(), highlighted_) == channels.end()) HighlightChannel(-1);
    if (isVisible()) {
        Redraw();
    } else {
        UpdateStats();
    }
}

std::vector<int> frmTrend::ShownChannels() const {
    std::vector<int> channels;
    for (int k = 0; k < trend::kChannels; ++k)
        if (chkChannel[static_cast<std::size_t>(k)]->isChecked()) channels.push_back(k);
    return channels;
}

void frmTrend::SetPaused(bool paused) {
    if (paused && !paused_) pausedAt_ = clock_();
    paused_ = paused;
    if (cmdPause->isChecked() != paused) {
        const QSignalBlocker block(cmdPause);
        cmdPause->setChecked(paused);
    }
    cmdPause->setText(paused ? tr("继续") : tr("暂停"));
    if (isVisible()) Redraw();
}

trend::Span frmTrend::VisibleSpan() const {
    const std::int64_t end = (paused_ ? pausedAt_ : clock_()).steadyMs;
    return {end - spanMs_ + 1, end};
}

// Labels follow the wall clock as it reads now (or when paused), counted
// back along the monotonic one: a clock set back shifts the labels, never
// the curves.
std::int64_t frmTrend::WallOffsetMs() const {
    const trend::Stamp end = paused_ ? pausedAt_ : clock_();
    return end.wallMs - end.steadyMs;
}

void frmTrend::Redraw() {
    const trend::Span span = VisibleSpan();
    shownSpan_ = span;
    shownOffsetMs_ = WallOffsetMs();
    const double offset = static_cast<double>(shownOffsetMs_) / 1000.0;
    const std::vector<int> shownChannels = ShownChannels();
    const mox::setup::Setup* setup = CurrentSetup();
    const std::optional<std::string> unit = trend::SharedUnit(setup, shownChannels);
    double lo = 0, hi = 0;
    std::vector<trend::Stats> figures;
    FillCurves(span, std::max(1, plotTrend->axisRect()->width()), lo, hi, &figures);
    plotTrend->xAxis->setRange(static_cast<double>(span.fromMs) / 1000.0 + offset,
                               static_cast<double>(span.toMs) / 1000.0 + offset);
    plotTrend->yAxis->setLabel(trend::AxisLabel(unit));
    if (!fit_ || lo > hi) {
        const trend::Range fixed = trend::FixedRange(setup, shownChannels, unit.has_value());
        plotTrend->yAxis->setRange(fixed.lower, fixed.upper);
    } else {
        const double margin = std::max((hi - lo) * 0.05, 0.01);
        plotTrend->yAxis->setRange(lo - margin, hi + margin);
    }
    UpdateStats(&figures);
    UpdateModeCaption();
    UpdateLimitLines();
    plotTrend->replot(QCustomPlot::rpQueuedRefresh);
}

// The curves of many channels are shared with a second thread, and the
// span's figures counted on a third when asked: an hour of 32 channels is
// half a million readings to go through. They only read the history and
// the setup, which change only on this thread, and this thread waits.
std::vector<frmTrend::Curve> frmTrend::Curves(trend::Span span, int columns, std::vector<trend::Stats>* figures) const {
    const std::vector<int> channels = ShownChannels();
    const mox::setup::Setup* setup = CurrentSetup();
    const bool inUnit = trend::SharedUnit(setup, channels).has_value();
    const double offset = static_cast<double>(shownOffsetMs_) / 1000.0;
    std::vector<Curve> curves(channels.size());
    const auto make = [&](std::size_t from, std::size_t to) {
        const std::vector<int> some(channels.begin() + static_cast<std::ptrdiff_t>(from),
                                    channels.begin() + static_cast<std::ptrdiff_t>(to));
        std::vector<trend::Envelope> bands = trend::MinMaxColumns(history_, some, span, columns);
        for (std::size_t i = 0; i < bands.size(); ++i) {
            Curve& curve = curves[from + i];
            trend::Envelope& band = bands[i];
            if (inUnit) band = trend::InUnit(*setup, some[i], std::move(band));
            // Selects, not branches, which noisy data would mispredict; a NaN
            // compares false and is passed over.
            double lo = curve.lo, hi = curve.hi;
            for (const auto& p : band.low) lo = p.value < lo ? p.value : lo;
            for (const auto& p : band.high) hi = p.value > hi ? p.value : hi;
            curve.lo = lo;
            curve.hi = hi;
            ZigZag(band, offset, curve.line);
        }
    };
    // Counting the figures costs about as much as a third of the curves: the
    // other thread counts them and takes a third of the curves, when there
    // are enough channels to be worth a thread.
    constexpr std::size_t kShared = 100'000; // fewer readings are not worth a thread
    const std::size_t readings =
        (history_.LowerBound(span.toMs + 1) - history_.LowerBound(span.fromMs)) * channels.size();
    const std::size_t share = readings < kShared ? 0 : channels.size() / (figures ? 3 : 2);
    std::vector<trend::Stats> counted;
    trend::InParallel(
        share > 0,
        [&] {
            if (figures) counted = trend::SpanStats(history_, channels, span);
            make(0, share);
        },
        [&] { make(share, channels.size()); });
    if (figures) *figures = std::move(counted);
    return curves;
}

void frmTrend::FillCurves(trend::Span span, int columns, double& lo, double& hi, std::vector<trend::Stats>* figures) {
    const std::vector<int> channels = ShownChannels();
    std::vector<Curve> curves = Curves(span, columns, figures);
    lo = std::numeric_limits<double>::infinity();
    hi = -lo;
    for (trend::ColumnGraph* graph : graphs_) {
        graph->setVisible(false);
        graph->data()->clear();
    }
    for (std::size_t i = 0; i < channels.size(); ++i) {
        lo = std::min(lo, curves[i].lo);
        hi = std::max(hi, curves[i].hi);
        trend::ColumnGraph* graph = graphs_[static_cast<std::size_t>(channels[i])];
        graph->setVisible(true);
        graph->data()->set(curves[i].line, true);
    }
}

// The span's figures, computed once per redraw; the cursor column with them.
void frmTrend::UpdateStats(const std::vector<trend::Stats>* counted) {
    const std::vector<int> channels = ShownChannels();
    if (levels_) levels_->Follow(history_, *setup_);
    tblStats->setRowCount(static_cast<int>(channels.size()));
    const std::vector<trend::Stats> figures =
        counted && counted->size() == channels.size() ? *counted : trend::SpanStats(history_, channels, VisibleSpan());
    int row = 0;
    for (int k : channels) {
        const trend::Stats& st = stats_[static_cast<std::size_t>(k)] = figures[static_cast<std::size_t>(row)];
        const trend::Nearest at = cursorShown_ ? trend::NearestReading(history_, k, cursorMs_) : trend::Nearest{};
        const vcard::Level level = levels_ ? levels_->Current(k) : vcard::Level::Normal;
        const auto texts = trend::StatsTexts(CurrentSetup(), k, st, at, level);
        for (int c = 0; c < kStatsColumns; ++c) {
            QTableWidgetItem* item = tblStats->item(row, c);
            if (!item) {
                item = new QTableWidgetItem;
                tblStats->setItem(row, c, item);
            }
            // A cell whose text stays is not touched, so it is not repainted
            // (its text not laid out again) at every redraw.
            const QString& text = texts[static_cast<std::size_t>(c)];
            if (item->text() != text) item->setText(text);
            if (c == kColChannel && item->data(Qt::UserRole) != k) {
                item->setIcon(Swatch(ChannelColour(k)));
                item->setData(Qt::UserRole, k); // the channel the swatch is of
            }
        }
        if (levels_) ColourRow(row, level);
        ++row;
    }
}

// What a cursor move changes in the table: the readings under the cursor.
void frmTrend::UpdateCursorColumn() {
    const std::vector<int> channels = ShownChannels();
    if (tblStats->rowCount() != static_cast<int>(channels.size())) return UpdateStats();
    int row = 0;
    for (int k : channels) {
        const trend::Nearest at = cursorShown_ ? trend::NearestReading(history_, k, cursorMs_) : trend::Nearest{};
        const vcard::Level level = levels_ ? levels_->Current(k) : vcard::Level::Normal;
        const auto texts = trend::StatsTexts(CurrentSetup(), k, stats_[static_cast<std::size_t>(k)], at, level);
        QTableWidgetItem* item = tblStats->item(row, kColCursor);
        if (!item) return UpdateStats();
        if (item->text() != texts[kColCursor]) item->setText(texts[kColCursor]);
        ++row;
    }
}

std::array<std::string, 3> frmTrend::ModeNames() const {
    // The option captions of the acquisition window, as it shows them.
    return {QCoreApplication::translate("FrmMultiBuf", "最新AD值").toStdString(),
            QCoreApplication::translate("FrmMultiBuf", "平均AD值").toStdString(),
            QCoreApplication::translate("FrmMultiBuf", "平均电压值").toStdString()};
}

void frmTrend::UpdateModeCaption() {
    QString mode = tr("无数据");
    if (!history_.Empty()) mode = QString::fromStdString(ModeNames()[history_.Newest().mode % 3]);
    lblMode->setText(tr("读取方式: %1").arg(mode));
}

void frmTrend::OnMouseMove(QMouseEvent* event) {
    // Another curve is highlighted once the pointer rests on it: a sweep
    // across 32 curves replots only the cursor's layer, not every curve at
    // every move.
    pointer_ = event->position();
    pointedChannel_ = ChannelAt(pointer_);
    if (pointedChannel_ != highlighted_) {
        TimerHighlight->start();
    } else {
        TimerHighlight->stop();
        PlaceChannelName(pointer_);
    }
    const double seconds = plotTrend->xAxis->pixelToCoord(event->position().x());
    PlaceCursor(static_cast<std::int64_t>(std::llround(seconds * 1000.0)) - shownOffsetMs_);
}

void frmTrend::PlaceCursor(std::int64_t ms) {
    const trend::Span span = VisibleSpan();
    const bool wasShown = cursorShown_;
    cursorShown_ = ms >= span.fromMs && ms <= span.toMs;
    cursorMs_ = ms;
    cursorLine_->setVisible(cursorShown_);
    if (cursorShown_) {
        const std::int64_t offset = WallOffsetMs();
        const double key = static_cast<double>(ms + offset) / 1000.0;
        cursorLine_->point1->setCoords(key, 0);
        cursorLine_->point2->setCoords(key, 1);
        lblCursor->setText(tr("光标: %1").arg(LocalTime(ms + offset)));
    }
    UpdateCursorColumn();
    if (cursorShown_ == wasShown && cursorShown_) {
        cursorLayer_->replot(); // the cursor's layer alone
    } else if (cursorShown_ != wasShown) {
        // A buffer of its own while the cursor is shown, so that a mouse
        // move redraws only the cursor; none while it is not, so that a
        // redraw clears and composes one buffer less.
        cursorLayer_->setMode(cursorShown_ ? QCPLayer::lmBuffered : QCPLayer::lmLogical);
        plotTrend->replot(QCustomPlot::rpQueuedReplot);
    }
}

void frmTrend::HighlightChannel(int channel) {
    const std::vector<int> channels = ShownChannels();
    if (std::find(channels.begin(), channels.end(), channel) == channels.end()) channel = -1;
    if (channel < 0) channelName_->setVisible(false);
    if (channel == highlighted_) return;
    highlighted_ = channel;
    ApplyPens();
    plotTrend->replot(QCustomPlot::rpQueuedReplot);
}

// Every curve in its colour and one pixel wide; while one is highlighted,
// it two pixels wide and the others faint, so it stands out of 32.
void frmTrend::ApplyPens() {
    constexpr int kFaintAlpha = 60;
    for (int k = 0; k < trend::kChannels; ++k) {
        QColor colour = ChannelColour(k);
        if (highlighted_ >= 0 && k != highlighted_) colour.setAlpha(kFaintAlpha);
        QPen pen(colour, k == highlighted_ ? 2 : 1);
        pen.setCosmetic(true);
        graphs_[static_cast<std::size_t>(k)]->setPen(pen);
    }
}

int frmTrend::ChannelAt(QPointF position) const {
    const QCPAxisRect* rect = plotTrend->axisRect();
    if (!rect->rect().contains(position.toPoint())) return -1;
    constexpr double kReach = 6; // pixels: a curve this near is the one pointed at
    const double key = plotTrend->xAxis->pixelToCoord(position.x());
    const double column = std::fabs(plotTrend->xAxis->pixelToCoord(position.x() + 1) - key);
    int nearest = -1;
    double best = kReach;
    for (int k : ShownChannels()) {
        const auto extent =
            trend::ValueExtent(*graphs_[static_cast<std::size_t>(k)]->data(), key - column, key + column);
        if (!extent) continue;
        const double top = plotTrend->yAxis->coordToPixel(extent->second);
        const double bottom = plotTrend->yAxis->coordToPixel(extent->first);
        const double distance = std::max({top - position.y(), position.y() - bottom, 0.0});
        // Of curves equally near, the one drawn on top: the highlighted, or the later.
        if (distance < best || (distance == best && nearest != highlighted_)) {
            best = distance;
            nearest = k;
        }
    }
    return nearest;
}

// The highlighted curve's name beside the pointer, on the cursor's layer.
void frmTrend::PlaceChannelName(QPointF position) {
    if (highlighted_ < 0) return;
    const bool left = position.x() > plotTrend->axisRect()->center().x();
    channelName_->setPositionAlignment((left ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignBottom);
    channelName_->position->setCoords(position.x() + (left ? -10 : 10), position.y() - 6);
    channelName_->setText(trend::ChannelLabel(CurrentSetup(), highlighted_));
    channelName_->setColor(ChannelColour(highlighted_).darker(120));
    channelName_->setVisible(true);
}

// The pointer leaving the plot or the figures, or entering and leaving a
// picker box, moves the highlight.
bool frmTrend::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type == QEvent::Leave && (watched == plotTrend || watched == tblStats->viewport())) {
        TimerHighlight->stop();
        HighlightChannel(-1);
    }
    if (type == QEvent::Enter || type == QEvent::Leave) {
        const auto box = std::find(chkChannel.begin(), chkChannel.end(), watched);
        if (box != chkChannel.end())
            HighlightChannel(type == QEvent::Enter ? static_cast<int>(box - chkChannel.begin()) : -1);
    }
    return QWidget::eventFilter(watched, event);
}

bool frmTrend::Export(const QString& path, const QByteArray& content) {
    lastError_ = trend::SaveFile(path, content);
    return lastError_.isEmpty();
}

bool frmTrend::ExportCsv(const QString& path) {
    return Export(path, QByteArray::fromStdString(
                            trend::CsvText(history_, ShownChannels(), VisibleSpan(), ModeNames(), CurrentSetup())));
}

// The plot as it stands on screen, as QCustomPlot::savePng draws it, but
// encoded in memory so that the file's every write can be checked.
bool frmTrend::ExportPng(const QString& path) {
    QImage image = plotTrend->toPixmap().toImage();
    constexpr int kDotsPerMeter = 3780; // 96 dpi, as savePng records
    image.setDotsPerMeterX(kDotsPerMeter);
    image.setDotsPerMeterY(kDotsPerMeter);
    QByteArray png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG")) {
        lastError_ = tr("无法生成 %1").arg(QDir::toNativeSeparators(path));
        return false;
    }
    return Export(path, png);
}

// As QCustomPlot::savePdf: one page the plot's size in points, no margins,
// axes, grid and text as vectors with cosmetic pens allowed; written to
// memory first, as the PNG is. The curves are one image at print resolution
// (an hour of 32 channels as vectors would be millions of strokes), reduced
// afresh to the columns of that resolution for the page, then back.
bool frmTrend::ExportPdf(const QString& path) {
    const int screenColumns = std::max(1, plotTrend->axisRect()->width());
    const auto printColumns = static_cast<int>(std::ceil(screenColumns * trend::ColumnCanvas::kPrintDpi / 72.0));
    double lo = 0, hi = 0;
    FillCurves(shownSpan_, printColumns, lo, hi);
    QByteArray document;
    const bool drawn = DrawPdf(document);
    FillCurves(shownSpan_, screenColumns, lo, hi);
    if (!drawn) {
        lastError_ = tr("无法生成 %1").arg(QDir::toNativeSeparators(path));
        return false;
    }
    return Export(path, document);
}

bool frmTrend::DrawPdf(QByteArray& document) const {
    const QSize size = plotTrend->size();
    QBuffer buffer(&document);
    if (!buffer.open(QIODevice::WriteOnly)) return false;
    QPdfWriter pdf(&buffer);
    pdf.setCreator(QCoreApplication::applicationName());
    pdf.setTitle(windowTitle());
    QPageLayout page(QPageSize(size, QPageSize::Point, QString(), QPageSize::ExactMatch), QPageLayout::Portrait,
                     QMarginsF(0, 0, 0, 0));
    page.setMode(QPageLayout::FullPageMode);
    pdf.setPageLayout(page);
    QCPPainter painter;
    if (!painter.begin(&pdf)) return false;
    painter.setMode(QCPPainter::pmVectorized);
    painter.setMode(QCPPainter::pmNoCaching);
    painter.setMode(QCPPainter::pmNonCosmetic, false);
    painter.setWindow(QRect(QPoint(0, 0), size));
    plotTrend->toPainter(&painter, size.width(), size.height());
    return painter.end();
}

void frmTrend::ExportWithDialog(int kind) {
    static const char* const suffixes[] = {"csv", "png", "pdf"};
    const QString suffix = QString::fromLatin1(suffixes[kind]);
    const QString proposed = QStringLiteral("trend-%1.%2")
                                 .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss")), suffix);
    const QString path = QFileDialog::getSaveFileName(this, tr("导出"), proposed, QStringLiteral("*.%1").arg(suffix));
    if (path.isEmpty()) return;
    const bool written = kind == kCsv ? ExportCsv(path) : kind == kPng ? ExportPng(path) : ExportPdf(path);
    if (!written) QMessageBox::warning(this, windowTitle(), tr("导出失败: %1").arg(lastError_));
}

// A row beyond a level says so in its colour and in words: the level is
// named in its own column and in what a screen reader says of the channel.
void frmTrend::ColourRow(int row, vcard::Level level) {
    const QColor background = trend::LevelBackground(level);
    const QColor foreground = trend::LevelForeground(level);
    for (int c = 0; c < kStatsColumns; ++c) {
        QTableWidgetItem* item = tblStats->item(row, c);
        item->setBackground(background.isValid() ? QBrush(background) : QBrush());
        item->setForeground(foreground.isValid() ? QBrush(foreground) : QBrush());
    }
    QTableWidgetItem* name = tblStats->item(row, kColChannel);
    name->setData(Qt::AccessibleTextRole, level == vcard::Level::Normal
                                              ? name->text()
                                              : tr("%1, %2").arg(name->text(), trend::LevelText(level)));
}

void frmTrend::CreateLimitLines() {
    for (std::size_t i = 0; i < limitLines_.size(); ++i) {
        auto* line = new QCPItemStraightLine(plotTrend);
        line->setObjectName(QStringLiteral("limitLine(%1)").arg(i));
        line->setVisible(false);
        auto* label = new QCPItemText(plotTrend);
        label->setObjectName(QStringLiteral("limitLabel(%1)").arg(i));
        label->position->setTypeX(QCPItemPosition::ptAxisRectRatio);
        label->position->setTypeY(QCPItemPosition::ptPlotCoords);
        label->setPositionAlignment(Qt::AlignRight | Qt::AlignBottom);
        label->setVisible(false);
        limitLines_[i] = line;
        limitLabels_[i] = label;
    }
}

// The selected channel's levels as horizontal lines, alarms solid red,
// warnings dashed amber, each named at the plot's right edge.
void frmTrend::UpdateLimitLines() {
    const int channel = SelectedChannel();
    const bool axisInUnit = trend::SharedUnit(CurrentSetup(), ShownChannels()).has_value();
    std::vector<trend::LimitLine> lines;
    if (setup_ && channel >= 0) lines = trend::LimitLines(*setup_, channel, axisInUnit);
    for (std::size_t i = 0; i < limitLines_.size(); ++i) {
        const bool shown = i < lines.size();
        limitLines_[i]->setVisible(shown);
        limitLabels_[i]->setVisible(shown);
        if (!shown) continue;
        const trend::LimitLine& l = lines[i];
        const QColor colour = trend::LevelBackground(l.level);
        limitLines_[i]->setPen(QPen(colour, 1.5, vcard::IsAlarm(l.level) ? Qt::SolidLine : Qt::DashLine));
        limitLines_[i]->point1->setCoords(0, l.axis);
        limitLines_[i]->point2->setCoords(1, l.axis);
        limitLabels_[i]->position->setCoords(0.995, l.axis);
        limitLabels_[i]->setColor(colour.darker(130));
        limitLabels_[i]->setText(trend::LimitLabel(*setup_, channel, l));
    }
}

// A channel is selected by making its figures row current.
void frmTrend::SelectChannel(int channel) {
    const std::vector<int> channels = ShownChannels();
    const auto at = std::find(channels.begin(), channels.end(), channel);
    if (at == channels.end()) return;
    tblStats->setCurrentCell(static_cast<int>(at - channels.begin()), 0);
    ShowSelectedLimits();
}

void frmTrend::ShowSelectedLimits() {
    UpdateLimitLines();
    plotTrend->replot(QCustomPlot::rpQueuedReplot);
}

// The table's current row names the channel: its rows follow the shown
// channels, so after the channels change the lines still match the row.
int frmTrend::SelectedChannel() const {
    const std::vector<int> channels = ShownChannels();
    const int row = tblStats->currentRow();
    if (row >= 0 && row < static_cast<int>(channels.size())) return channels[static_cast<std::size_t>(row)];
    return channels.empty() ? -1 : channels.front();
}

bool frmTrend::LoadSetup(const QString& path) {
    auto loaded = mox::setup::Load(QFile::encodeName(path).toStdString());
    if (const auto* error = std::get_if<mox::setup::Error>(&loaded)) {
        lastError_ = QString::fromStdString(error->Text());
        return false;
    }
    SetSetup(std::get<mox::setup::Setup>(loaded));
    return true;
}

void frmTrend::SetSetup(const mox::setup::Setup& setup) {
    setup_ = setup;
    ApplySetup();
}

// Everything a setup changes, at once: the picker, the table's columns and
// the levels, followed afresh through the whole history kept.
void frmTrend::ApplySetup() {
    const mox::setup::Setup* setup = CurrentSetup();
    for (int k = 0; k < trend::kChannels; ++k) {
        QCheckBox* box = chkChannel[static_cast<std::size_t>(k)];
        box->setText(trend::PickerText(setup, k));
        box->setToolTip(setup ? QString::fromStdString(setup->ColumnName(k)) : QString());
        box->setAccessibleName(setup ? tr("通道 %1 %2").arg(k).arg(trend::ChannelLabel(setup, k))
                                     : tr("通道 %1").arg(k));
    }
    tblStats->setHorizontalHeaderLabels(trend::StatsHeaders(setup != nullptr));
    tblStats->setColumnHidden(kColUnit, setup == nullptr);
    tblStats->setColumnHidden(kColLevel, setup == nullptr);
    // Names are read whole; the figures share what is left.
    tblStats->horizontalHeader()->setSectionResizeMode(kColChannel,
                                                       setup ? QHeaderView::ResizeToContents : QHeaderView::Stretch);
    tblStats->clearContents(); // no colour of the last setup's levels stays behind
    FitPicker();
    levels_.reset();
    if (setup) levels_.emplace(*setup);
    if (isVisible()) {
        Redraw();
    } else {
        UpdateStats();
        UpdateLimitLines();
    }
}

// The picker as wide as its names ask (and the room allows), on the first
// show and when the names change; in between it keeps what the user
// dragged it to. (The scroll area's own size hint keeps the first names'.)
void frmTrend::FitPicker() {
    pickerToFit_ = !isVisible();
    if (pickerToFit_) return;
    const QWidget* picker = pickerArea_->widget();
    const int frame = 2 * pickerArea_->frameWidth();
    int wanted = picker->sizeHint().width() + frame;
    if (picker->sizeHint().height() > pickerArea_->height() - frame)
        wanted += pickerArea_->verticalScrollBar()->sizeHint().width();
    const int room = splitPicker_->width() - splitPicker_->handleWidth();
    const int rest = splitPicker_->widget(1)->minimumSizeHint().width();
    wanted = std::clamp(wanted, 0, std::max(0, room - rest));
    splitPicker_->setSizes({wanted, room - wanted});
}

void frmTrend::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (pickerToFit_) FitPicker();
}

void frmTrend::OpenSetupWithDialog() {
    const QString path =
        QFileDialog::getOpenFileName(this, tr("打开设置"), QString(), tr("设置文件 (*.toml);;所有文件 (*)"));
    if (path.isEmpty()) return;
    if (!LoadSetup(path)) {
        QMessageBox::warning(this, windowTitle(), tr("设置文件未载入，原来的设置不变:\n%1").arg(lastError_));
        return;
    }
    emit SetupChanged();
}
