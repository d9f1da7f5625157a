#pragma once

namespace window {

// The screen as the window's geometry sees it: twips per pixel and the size in twips.
class ScreenMetrics {
  public:
    virtual ~ScreenMetrics() = default;
    virtual double twipsPerPixelX() const = 0;
    virtual double twipsPerPixelY() const = 0;
    virtual double widthTwips() const = 0;
    virtual double heightTwips() const = 0;
};

// The primary screen: 1440 twips per logical inch.
class QtScreenMetrics : public ScreenMetrics {
  public:
    double twipsPerPixelX() const override;
    double twipsPerPixelY() const override;
    double widthTwips() const override;
    double heightTwips() const override;
};

// Twips to pixels: divide by the factor, nearest integer, ties to even; errors raise.
int toPixels(double twips, double twipsPerPixel);

} // namespace window
