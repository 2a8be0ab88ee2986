#pragma once

#include <QRect>

#include "common/units.h"

namespace kv {

// A design rectangle in twips, on screen in whole pixels.
inline QRect TwipsRect(int left, int top, int width, int height) {
    return {TwipsToPixels(left), TwipsToPixels(top), TwipsToPixels(width), TwipsToPixels(height)};
}

// Places a control by its design geometry in twips.
template <typename W>
W* Place(W* widget, int left, int top, int width, int height) {
    widget->setGeometry(TwipsRect(left, top, width, height));
    return widget;
}

}  // namespace kv
