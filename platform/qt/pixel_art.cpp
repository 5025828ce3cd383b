#include "platform/qt/pixel_art.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace {
// The fewest pixels of the art that cover a whole number of device pixels: 2 at 1.5, 4 at
// 1.25 and 1.75, at most 96 for a screen's dots per inch over 96.
int RunOnWholeDevicePixels(qreal devicePixelRatio)
{
    int run = 1;
    while (run < 96 && !IsWholePixelRatio(run * devicePixelRatio))
        ++run;
    return run;
}

// The part of a source pixel a device pixel covers, in units of which a source pixel holds
// `sourceSpan` and a device pixel `deviceSpan`.
struct Share {
    int source;
    int amount;
};

// For each device pixel along a line of `length` source pixels, the source pixels under it.
std::vector<std::vector<Share>> SharesAlong(int length, int sourceSpan, int deviceSpan)
{
    const int end = length * sourceSpan;
    std::vector<std::vector<Share>> shares((end + deviceSpan - 1) / deviceSpan);
    for (int device = 0; device < static_cast<int>(shares.size()); ++device) {
        const int from = device * deviceSpan;
        const int to = std::min(from + deviceSpan, end);
        for (int source = from / sourceSpan; source * sourceSpan < to; ++source)
            shares[device].push_back(
                {source, std::min(to, (source + 1) * sourceSpan) - std::max(from, source * sourceSpan)});
    }
    return shares;
}

int Weight(const std::vector<Share>& shares)
{
    int weight = 0;
    for (const Share& share : shares)
        weight += share.amount;
    return weight;
}
} // namespace

int PixelArtScale(qreal devicePixelRatio)
{
    // Whole factors only: at 1.5 one pixel of the art would cover one device pixel, the next two.
    return std::max(1, static_cast<int>(std::lround(devicePixelRatio)));
}

bool IsWholePixelRatio(qreal devicePixelRatio)
{
    return qFuzzyCompare(devicePixelRatio, std::round(devicePixelRatio));
}

int PixelArtScaleAbove(qreal devicePixelRatio)
{
    return IsWholePixelRatio(devicePixelRatio) ? PixelArtScale(devicePixelRatio)
                                               : static_cast<int>(std::ceil(devicePixelRatio));
}

QRect OnWholeDevicePixels(const QRect& rect, qreal devicePixelRatio)
{
    const int run = RunOnWholeDevicePixels(devicePixelRatio);
    const auto down = [run](int value) { return value - ((value % run) + run) % run; };
    return QRect(QPoint(down(rect.left()), down(rect.top())),
                 QPoint(down(rect.right() + run) - 1, down(rect.bottom() + run) - 1));
}

QImage EnlargedPixelArt(const QImage& image, int scale)
{
    return scale == 1 ? image
                      : image.scaled(image.size() * scale, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

QImage ShrunkPixelArt(const QImage& enlarged, int scale, qreal devicePixelRatio)
{
    // Over a run of the art, `run * scale` source pixels make `devicePixels` device pixels.
    const int run = RunOnWholeDevicePixels(devicePixelRatio);
    const int devicePixels = static_cast<int>(std::lround(run * devicePixelRatio));
    const auto across = SharesAlong(enlarged.width(), devicePixels, run * scale);
    const auto down = SharesAlong(enlarged.height(), devicePixels, run * scale);
    const QImage source = enlarged.convertToFormat(QImage::Format_RGB32);
    QImage shrunk(static_cast<int>(across.size()), static_cast<int>(down.size()), QImage::Format_RGB32);
    std::vector<std::array<qint64, 3>> sums(across.size());
    for (int y = 0; y < shrunk.height(); ++y) {
        std::fill(sums.begin(), sums.end(), std::array<qint64, 3>{});
        for (const Share& row : down[static_cast<size_t>(y)]) {
            const auto* line = reinterpret_cast<const QRgb*>(source.constScanLine(row.source));
            for (size_t x = 0; x < across.size(); ++x) {
                for (const Share& column : across[x]) {
                    const QRgb pixel = line[column.source];
                    const qint64 amount = qint64(row.amount) * column.amount;
                    sums[x][0] += amount * qRed(pixel);
                    sums[x][1] += amount * qGreen(pixel);
                    sums[x][2] += amount * qBlue(pixel);
                }
            }
        }
        auto* out = reinterpret_cast<QRgb*>(shrunk.scanLine(y));
        const qint64 rowWeight = Weight(down[static_cast<size_t>(y)]);
        for (size_t x = 0; x < across.size(); ++x) {
            const qint64 weight = rowWeight * Weight(across[x]);
            const auto average = [&](int channel) { return int((sums[x][channel] + weight / 2) / weight); };
            out[x] = qRgb(average(0), average(1), average(2));
        }
    }
    return shrunk;
}

QPixmap PixelArtPixmap(const QImage& image, qreal devicePixelRatio)
{
    const bool whole = IsWholePixelRatio(devicePixelRatio);
    const int scale = whole ? PixelArtScale(devicePixelRatio) : PixelArtScaleAbove(devicePixelRatio);
    const QImage enlarged = EnlargedPixelArt(image, scale);
    QPixmap pixmap = QPixmap::fromImage(whole ? enlarged : ShrunkPixelArt(enlarged, scale, devicePixelRatio));
    pixmap.setDevicePixelRatio(whole ? scale : devicePixelRatio);
    return pixmap;
}
