#include "platform/qt/pixel_art.h"

#include <algorithm>
#include <cmath>

int PixelArtScale(qreal devicePixelRatio)
{
    // Whole factors only: at 1.5 one pixel of the art would cover one device pixel, the next two.
    return std::max(1, static_cast<int>(std::lround(devicePixelRatio)));
}

QImage EnlargedPixelArt(const QImage& image, int scale)
{
    return scale == 1 ? image
                      : image.scaled(image.size() * scale, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}
