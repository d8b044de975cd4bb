// SPDX-License-Identifier: GPL-3.0-or-later
#include "columns.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <future>
#include <iterator>
#include <limits>

namespace trend {

namespace {

// The row a height rounds to, kept within one row of the image so that the
// conversion cannot overflow; clipping happens on the run. (Shifted to be
// positive, the cast is floor without a call into the maths library.)
int Row(double y, int height) { return static_cast<int>(std::clamp(y, -1.0, double(height)) + 1.5) - 1; }

// Adds rows a..b (either order) of a column, merged into the run before it
// when they meet, clipped to the image.
void AddRun(std::vector<ColumnRun>& runs, int column, int a, int b, int height) {
    int first = std::min(a, b), last = std::max(a, b);
    if (last < 0 || first >= height) return;
    first = std::max(first, 0);
    last = std::min(last, height - 1);
    if (!runs.empty()) {
        ColumnRun& previous = runs.back();
        if (previous.column == column && first <= previous.last + 1 && last >= previous.first - 1) {
            previous.first = std::min(previous.first, first);
            previous.last = std::max(previous.last, last);
            return;
        }
    }
    runs.push_back({column, first, last});
}

// The columns a segment crosses, each with the rows between the segment's
// heights at the column's edges (or at the segment's ends within it).
void AddSegment(std::vector<ColumnRun>& runs, QPointF a, QPointF b, int width, int height) {
    const double firstX = std::max(a.x(), 0.0), lastX = std::min(b.x(), double(width) - 1e-9);
    if (firstX > lastX) return; // wholly left or right of the image
    // Both within [0, width): the casts are floor.
    const int from = static_cast<int>(firstX), to = static_cast<int>(lastX);
    const double dx = b.x() - a.x();
    if (dx <= 0 || (from == to && firstX == a.x() && lastX == b.x())) {
        // Within one column (most segments of a dense curve): its ends' rows.
        AddRun(runs, from, Row(a.y(), height), Row(b.y(), height), height);
        return;
    }
    const double slope = (b.y() - a.y()) / dx;
    const auto heightAt = [&](double x) { return a.y() + slope * (x - a.x()); };
    double left = firstX;
    int top = Row(heightAt(left), height);
    for (int c = from; c <= to; ++c) {
        const double right = c < to ? double(c + 1) : lastX;
        const int bottom = Row(heightAt(right), height);
        AddRun(runs, c, top, bottom, height);
        left = right;
        top = bottom;
    }
}

// An axis' coordToPixel as one multiplication and addition, from the
// image's corner (origin) in image pixels (scale per plot pixel). Two
// points of the axis fix it: only linear axes are used here.
struct Linear {
    double factor, offset;
};
Linear Mapping(const QCPAxis* axis, int origin, double scale) {
    const QCPRange range = axis->range();
    const double lower = axis->coordToPixel(range.lower), upper = axis->coordToPixel(range.upper);
    const double factor = range.size() != 0 ? (upper - lower) / range.size() : 0;
    return {factor * scale, (lower - factor * range.lower - origin) * scale};
}

bool Drawable(const QPointF& p) { return std::isfinite(p.x()) && std::isfinite(p.y()); }

} // namespace

void InParallel(bool worthIt, const std::function<void()>& other, const std::function<void()>& mine) {
    std::promise<void> done;
    std::future<void> finished = done.get_future();
    const bool started = worthIt && QThreadPool::globalInstance()->tryStart([&other, &done] {
        try {
            other();
            done.set_value();
        } catch (...) {
            done.set_exception(std::current_exception());
        }
    });
    if (!started) {
        other();
        mine();
        return;
    }
    try {
        mine();
    } catch (...) {
        finished.wait(); // other still uses what mine's caller owns
        throw;
    }
    finished.get();
}

std::vector<ColumnRun> PolylineRuns(std::span<const QPointF> points, int width, int height) {
    std::vector<ColumnRun> runs;
    if (width <= 0 || height <= 0) return runs;
    runs.reserve(points.size() + 16);
    bool joinedBefore = false;
    bool drawable = !points.empty() && Drawable(points[0]);
    for (std::size_t i = 0; i < points.size(); ++i) {
        const bool joinedAfter = drawable && i + 1 < points.size() && Drawable(points[i + 1]);
        if (joinedAfter) {
            AddSegment(runs, points[i], points[i + 1], width, height);
        } else if (drawable && !joinedBefore) {
            AddSegment(runs, points[i], points[i], width, height); // a reading alone: one pixel
        }
        joinedBefore = joinedAfter;
        drawable = i + 1 < points.size() && (joinedAfter || Drawable(points[i + 1]));
    }
    return runs;
}

std::vector<ColumnRun> WidenRuns(const std::vector<ColumnRun>& runs, int width, int height) {
    std::vector<ColumnRun> taller, shifted;
    taller.reserve(runs.size());
    shifted.reserve(runs.size());
    for (const ColumnRun& r : runs) {
        if (r.column < 0 || r.column >= width) continue;
        const ColumnRun grown{r.column, std::max(r.first - 1, 0), std::min(r.last + 1, height - 1)};
        if (grown.first > grown.last) continue;
        taller.push_back(grown);
        if (r.column + 1 < width) shifted.push_back({r.column + 1, grown.first, grown.last});
    }
    std::vector<ColumnRun> wide;
    wide.reserve(taller.size() + shifted.size());
    std::merge(taller.begin(), taller.end(), shifted.begin(), shifted.end(), std::back_inserter(wide),
               [](const ColumnRun& a, const ColumnRun& b) { return a.column < b.column; });
    return wide;
}

void ColumnRaster::Reset(int width, int height) {
    width_ = std::max(width, 0);
    height_ = std::max(height, 0);
    lines_.clear();
}

void ColumnRaster::Add(std::vector<ColumnRun> runs, QRgb colour) {
    lines_.push_back({std::move(runs), qPremultiply(colour)});
}

namespace {

constexpr int kBand = 64; // columns painted together

// The rows of one column already painted, as sorted disjoint spans. Lines
// are painted topmost first, and a pixel once painted is never written
// again: an hour of 32 channels covers most columns many times over.
class Coverage {
public:
    void Clear() { spans_.clear(); }
    // Paints the rows of first..last not painted yet, in a column of the
    // image whose rows lie `stride` pixels apart.
    void Paint(std::uint32_t* column, std::size_t stride, int first, int last, std::uint32_t pixel) {
        const auto fill = [&](int from, int to) {
            for (std::uint32_t* p = column + static_cast<std::size_t>(from) * stride; from < to; ++from, p += stride)
                *p = pixel;
        };
        std::size_t i = 0;
        while (i < spans_.size() && spans_[i].last < first) ++i;
        std::size_t j = i;
        int row = first;
        Span merged{first, last};
        for (; j < spans_.size() && spans_[j].first <= last; ++j) {
            if (row < spans_[j].first) fill(row, spans_[j].first);
            row = std::max(row, spans_[j].last + 1);
            merged.first = std::min(merged.first, spans_[j].first);
            merged.last = std::max(merged.last, spans_[j].last);
        }
        if (row <= last) fill(row, last + 1);
        spans_.erase(spans_.begin() + static_cast<std::ptrdiff_t>(i), spans_.begin() + static_cast<std::ptrdiff_t>(j));
        spans_.insert(spans_.begin() + static_cast<std::ptrdiff_t>(i), merged);
    }

private:
    struct Span {
        int first, last;
    };
    std::vector<Span> spans_;
};

} // namespace

// The image is painted a band of columns at a time, so that the rows of a
// band stay in the cache while every line paints into it.
void ColumnRaster::Paint(QImage& image) const {
    // The image's memory is kept from one draw to the next: a fresh one
    // costs a page fault per 4 KiB.
    if (image.size() != QSize(width_, height_) || image.format() != QImage::Format_ARGB32_Premultiplied)
        image = QImage(width_, height_, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) return;
    image.fill(Qt::transparent);
    auto* pixels = reinterpret_cast<std::uint32_t*>(image.bits());
    const auto stride = static_cast<std::size_t>(image.bytesPerLine()) / sizeof(std::uint32_t);
    // Columns are independent: a wide image is painted in two halves at once.
    const int half = width_ >= 4 * kBand ? width_ / 2 / kBand * kBand : 0;
    InParallel(
        half > 0, [&] { PaintColumns(pixels, stride, 0, half); }, [&] { PaintColumns(pixels, stride, half, width_); });
}

// Columns from..to-1, a band at a time, so that the rows of a band stay in
// the cache while every line paints into it.
void ColumnRaster::PaintColumns(std::uint32_t* pixels, std::size_t stride, int from, int to) const {
    std::vector<Coverage> coverage(kBand);
    std::vector<std::size_t> next(lines_.size());
    for (std::size_t k = 0; k < lines_.size(); ++k) {
        const std::vector<ColumnRun>& runs = lines_[k].runs;
        next[k] = static_cast<std::size_t>(
            std::lower_bound(runs.begin(), runs.end(), from, [](const ColumnRun& r, int c) { return r.column < c; }) -
            runs.begin());
    }
    for (int x0 = from; x0 < to; x0 += kBand) {
        const int x1 = std::min(to, x0 + kBand);
        for (Coverage& c : coverage) c.Clear();
        for (std::size_t k = lines_.size(); k-- > 0;) { // the topmost line first
            const std::vector<ColumnRun>& runs = lines_[k].runs;
            for (std::size_t& i = next[k]; i < runs.size() && runs[i].column < x1; ++i) {
                const ColumnRun& r = runs[i];
                coverage[static_cast<std::size_t>(r.column - x0)].Paint(pixels + r.column, stride, r.first, r.last,
                                                                        lines_[k].pixel);
            }
        }
    }
}

std::optional<std::pair<double, double>> ValueExtent(const QCPGraphDataContainer& data, double from, double to) {
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    const auto take = [&](double value) {
        if (std::isnan(value)) return;
        lo = std::min(lo, value);
        hi = std::max(hi, value);
    };
    const auto crossing = [&](double key) {
        const auto after = data.findBegin(key, false); // the first point at or past key
        if (after == data.constBegin() || after == data.constEnd() || after->key == key) return;
        const auto before = after - 1;
        take(before->value + (after->value - before->value) * (key - before->key) / (after->key - before->key));
    };
    crossing(from);
    crossing(to);
    for (auto it = data.findBegin(from, false); it != data.constEnd() && it->key <= to; ++it) take(it->value);
    if (lo > hi) return std::nullopt;
    return std::make_pair(lo, hi);
}

void ColumnGraph::draw(QCPPainter* painter) {
    if (!canvas_ || !canvas_->Dense()) QCPGraph::draw(painter); // else painted with the others by the canvas
}

bool ColumnCanvas::Dense() const {
    std::size_t points = 0, shown = 0;
    for (const ColumnGraph* graph : graphs_) {
        if (!graph->realVisibility()) continue;
        points += static_cast<std::size_t>(graph->data()->size());
        ++shown;
    }
    return shown > 0 && 2 * points >= shown * static_cast<std::size_t>(std::max(axisRect_->width(), 1));
}

ColumnCanvas::ColumnCanvas(QCustomPlot* plot, QCPAxisRect* axisRect) : QCPLayerable(plot), axisRect_(axisRect) {}

void ColumnCanvas::applyDefaultAntialiasingHint(QCPPainter* painter) const {
    applyAntialiasingHint(painter, false, QCP::aePlottables);
}

QRect ColumnCanvas::clipRect() const { return axisRect_->rect(); }

// The runs of one graph, mapped from its keys and values to image pixels.
std::vector<ColumnRun> ColumnCanvas::Runs(const ColumnGraph* graph, QRect rect, double scale, QSize size,
                                          std::vector<QPointF>& points) {
    const Linear x = Mapping(graph->keyAxis(), rect.left(), scale);
    const Linear y = Mapping(graph->valueAxis(), rect.top(), scale);
    points.clear();
    const QCPGraphDataContainer& data = *graph->data();
    points.reserve(static_cast<std::size_t>(data.size()));
    for (auto it = data.constBegin(); it != data.constEnd(); ++it)
        points.emplace_back(x.factor * it->key + x.offset, y.factor * it->value + y.offset);
    std::vector<ColumnRun> runs = PolylineRuns(points, size.width(), size.height());
    if (graph->pen().widthF() > 1) return WidenRuns(runs, size.width(), size.height());
    return runs;
}

void ColumnCanvas::draw(QCPPainter* painter) {
    const QRect rect = axisRect_->rect();
    if (rect.isEmpty() || !Dense()) {
        image_ = QImage();
        return;
    }
    const bool vector = painter->modes().testFlag(QCPPainter::pmVectorized);
    const double scale = vector ? kPrintDpi / 72.0 : std::max(1.0, painter->device()->devicePixelRatioF());
    const QSize size(static_cast<int>(std::ceil(rect.width() * scale)),
                     static_cast<int>(std::ceil(rect.height() * scale)));
    std::vector<const ColumnGraph*> shown;
    for (const ColumnGraph* graph : graphs_)
        if (graph->realVisibility()) shown.push_back(graph);
    // A wide pen marks the curve pointed at: it goes over the others.
    std::stable_partition(shown.begin(), shown.end(),
                          [](const ColumnGraph* graph) { return graph->pen().widthF() <= 1; });
    // Many curves are shared with a second thread; the graphs only change
    // on this one, which waits.
    std::vector<std::vector<ColumnRun>> runs(shown.size());
    std::size_t total = 0;
    for (const ColumnGraph* graph : shown) total += static_cast<std::size_t>(graph->data()->size());
    constexpr std::size_t kShared = 20'000; // fewer points are not worth a thread
    const std::size_t half = total >= kShared ? shown.size() / 2 : 0;
    InParallel(
        half > 0,
        [&] {
            std::vector<QPointF> points;
            for (std::size_t i = 0; i < half; ++i) runs[i] = Runs(shown[i], rect, scale, size, points);
        },
        [&] {
            for (std::size_t i = half; i < shown.size(); ++i) runs[i] = Runs(shown[i], rect, scale, size, points_);
        });
    raster_.Reset(size.width(), size.height());
    for (std::size_t i = 0; i < shown.size(); ++i) raster_.Add(std::move(runs[i]), shown[i]->pen().color().rgba());
    raster_.Paint(image_);
    if (!image_.isNull()) painter->drawImage(QRectF(rect.topLeft(), QSizeF(size) / scale), image_);
}

} // namespace trend
