#pragma once
// Pixel art on a high-density screen. At a whole device pixel ratio each pixel of the art
// becomes a square of whole device pixels, never a blend of its neighbours. At a fractional
// ratio one pixel would cover one device pixel here and two there, so the art is enlarged by
// whole pixels to the whole ratio above, then shrunk to the ratio: each device pixel takes the
// average of the art under it, and every pixel of the art keeps the same weight.

#include <QImage>
#include <QPixmap>

// How many device pixels each way one pixel of the art covers at that device pixel ratio.
int PixelArtScale(qreal devicePixelRatio);

// Whether the art shows at that ratio by whole device pixels alone.
bool IsWholePixelRatio(qreal devicePixelRatio);

// The whole factor the art is enlarged to before it is shrunk to a fractional ratio.
int PixelArtScaleAbove(qreal devicePixelRatio);

// The smallest rectangle around `rect` (pixels of the art) whose edges fall on whole device
// pixels at that ratio, counted from the art's origin.
QRect OnWholeDevicePixels(const QRect& rect, qreal devicePixelRatio);

// The art with each pixel repeated `scale` times each way.
QImage EnlargedPixelArt(const QImage& image, int scale);

// Art enlarged `scale` times, shrunk to a fractional ratio. The art's top-left corner lies on a
// whole device pixel.
QImage ShrunkPixelArt(const QImage& enlarged, int scale, qreal devicePixelRatio);

// The art ready to be drawn at its own size in pixels on a screen of that ratio.
QPixmap PixelArtPixmap(const QImage& image, qreal devicePixelRatio);
