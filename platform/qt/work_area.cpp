#include "platform/qt/work_area.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

QRect KeptWithinWorkArea(QRect place)
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return place;
    const QRect work = screen->availableGeometry();
    place.moveLeft(
        std::clamp(place.left(), work.left(), std::max(work.left(), work.right() + 1 - place.width())));
    place.moveTop(
        std::clamp(place.top(), work.top(), std::max(work.top(), work.bottom() + 1 - place.height())));
    return place;
}
