// SPDX-License-Identifier: GPL-3.0-or-later
// Dense curves painted as an oscilloscope paints them: every curve is a
// polyline reduced to about two points per pixel column, so what it covers
// in each column is one vertical run of pixels. The runs are written
// straight into an image, column by column, and the image is drawn into the
// plot as one layerable, so axes, grid, items and export stay QCustomPlot's.
#pragma once

#include <QImage>
#include <QPointF>
#include <QRgb>

#include <qcustomplot.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace trend {

// Runs `other` on a pooled thread while `mine` runs on this one, and
// returns when both have (with the exception of either). Both here when not
// worth a thread, or when the pool has none free.
void InParallel(bool worthIt, const std::function<void()>& other, const std::function<void()>& mine);

// One colour's pixels in one column: rows first..last, both included.
struct ColumnRun {
    std::int32_t column;
    std::int32_t first, last;
};

// The rows a polyline covers in each pixel column, in column order. Points
// are in pixels (x to the right, y down, 0 at the image's corner) and in
// non-decreasing x; a NaN y breaks the line. Pixel column c holds the x in
// [c, c + 1), row r the y that round to r. A segment covers, in each column
// it crosses, the rows between its heights at the column's two edges, so
// the line is unbroken however steep; a point alone between breaks is one
// pixel. Runs are clipped to width x height.
std::vector<ColumnRun> PolylineRuns(std::span<const QPointF> points, int width, int height);

// The runs of a line two pixels wide: each run also one row above and
// below, and again in the next column; in column order, clipped to
// width x height.
std::vector<ColumnRun> WidenRuns(const std::vector<ColumnRun>& runs, int width, int height);

// Polylines painted as runs into a premultiplied ARGB image, later lines
// over earlier ones, the rest transparent.
class ColumnRaster {
public:
    void Reset(int width, int height);
    void Add(std::vector<ColumnRun> runs, QRgb colour);
    // Paints into image, resized to width x height if it is not that size.
    void Paint(QImage& image) const;

private:
    void PaintColumns(std::uint32_t* pixels, std::size_t stride, int from, int to) const;

    struct Line {
        std::vector<ColumnRun> runs;
        std::uint32_t pixel;
    };
    int width_ = 0, height_ = 0;
    std::vector<Line> lines_;
};

// The lowest and highest value a curve takes for keys from..to: its points
// there, and its segments where they cross the two keys (a NaN breaks the
// curve). None where it has nothing.
std::optional<std::pair<double, double>> ValueExtent(const QCPGraphDataContainer& data, double from, double to);

class ColumnCanvas;

// A graph that holds its curve but leaves the drawing of a dense one to a
// ColumnCanvas: data, legend icon and selection stay the graph's own. A
// sparse curve (far fewer points than pixel columns: long sloped lines, not
// columns) is drawn as QCPGraph draws it, which costs less there.
class ColumnGraph : public QCPGraph {
    Q_OBJECT
public:
    using QCPGraph::QCPGraph;
    void SetCanvas(const ColumnCanvas* canvas) { canvas_ = canvas; }

protected:
    void draw(QCPPainter* painter) override;

private:
    const ColumnCanvas* canvas_ = nullptr;
};

// Draws the visible ColumnGraphs of one axis rect, in their order, as one
// image; a graph whose pen is wider than one pixel is painted two pixels
// wide, over the others. On screen and in a bitmap the image has the device's pixels; in a
// vector export it is drawn at print resolution instead, under the vector
// axes, grid and text.
class ColumnCanvas : public QCPLayerable {
    Q_OBJECT
public:
    static constexpr double kPrintDpi = 300;

    ColumnCanvas(QCustomPlot* plot, QCPAxisRect* axisRect);
    void SetGraphs(std::vector<ColumnGraph*> graphs) { graphs_ = std::move(graphs); }
    // Whether the graphs shown are dense enough to be painted as columns:
    // on average at least one point every two pixel columns.
    bool Dense() const;
    // The image of the last draw, if the graphs were dense, and where it
    // went: the axis rect, in the plot's pixels.
    const QImage& LastImage() const { return image_; }

protected:
    void applyDefaultAntialiasingHint(QCPPainter* painter) const override;
    QRect clipRect() const override;
    void draw(QCPPainter* painter) override;

private:
    static std::vector<ColumnRun> Runs(const ColumnGraph* graph, QRect rect, double scale, QSize size,
                                       std::vector<QPointF>& points);

    QCPAxisRect* axisRect_;
    std::vector<ColumnGraph*> graphs_;
    ColumnRaster raster_;
    std::vector<QPointF> points_;
    QImage image_;
};

} // namespace trend
