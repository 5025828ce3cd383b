#pragma once
// The part of the screen that windows may take: all of it but the panels and docks.

#include <QRect>

// `place` moved the least that keeps it within the work area; a place larger than the work area
// keeps its top-left corner inside.
QRect KeptWithinWorkArea(QRect place);
