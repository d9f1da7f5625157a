// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QRect>

class QScreen;

namespace window {

// The screen the window opens on, as the platform reports it.
class ScreenMetrics {
  public:
    virtual ~ScreenMetrics() = default;
    // Twips per pixel as reported: 0, negative or absurd where the screen knows no DPI.
    virtual double twipsPerPixelX() const = 0;
    virtual double twipsPerPixelY() const = 0;
    // The whole screen, and the part of it that windows may cover, in pixels.
    virtual QRect geometry() const = 0;
    virtual QRect availableGeometry() const = 0;
};

// A real screen (the primary one by default): 1440 twips per logical inch.
class QtScreenMetrics : public ScreenMetrics {
  public:
    explicit QtScreenMetrics(const QScreen* screen = nullptr);
    double twipsPerPixelX() const override;
    double twipsPerPixelY() const override;
    QRect geometry() const override;
    QRect availableGeometry() const override;

  private:
    const QScreen* screen() const;
    const QScreen* m_screen = nullptr;
};

// The factor the window is laid out with: the reported one, or 15 where that is 0,
// negative, not a number or absurd. Only the shaping and the bevel see the reported one.
double layoutTwipsPerPixel(double reported);

// Twips to pixels: divide by the factor, nearest integer, ties to even; errors raise.
int toPixels(double twips, double twipsPerPixel);

// Where a window of `size` at `topLeft` has to go to lie inside `area`; where it cannot,
// its top-left corner stays inside, so the title and the left edge remain on the screen.
QPoint keepInside(QPoint topLeft, QSize size, const QRect& area);

} // namespace window
