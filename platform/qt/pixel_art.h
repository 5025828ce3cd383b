#pragma once
// Pixel art on a high-density screen: each pixel of the art becomes a square of whole device
// pixels, never a blend of its neighbours.

#include <QImage>

// How many device pixels each way one pixel of the art covers at that device pixel ratio.
int PixelArtScale(qreal devicePixelRatio);

// The art with each pixel repeated `scale` times each way.
QImage EnlargedPixelArt(const QImage& image, int scale);
