#pragma once

#include <QScrollBar>

#include <optional>

namespace norvale {

// A scroll bar that paints again after a change of its range only when it
// would look different. A long search raises the grid's range once a frame;
// once the handle is at its smallest and the view at the top, that changes
// nothing on screen. Painting so tall a widget is not free either: Qt's
// raster engine hands its fills to a pool of threads and waits for them,
// which on a busy machine means waiting for a processor, every frame.
class SteadyScrollBar final : public QScrollBar {
public:
    using QScrollBar::QScrollBar;

protected:
    void sliderChange(SliderChange change) override;
    void paintEvent(QPaintEvent *event) override;

private:
    struct Look {
        QRect handle;
        // The arrows at the ends grey out there.
        bool atMinimum = false;
        bool atMaximum = false;
        bool operator==(const Look &) const = default;
    };
    Look look() const;

    std::optional<Look> m_painted;
};

} // namespace norvale
