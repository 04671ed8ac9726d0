#include "norvale/gui/main/SteadyScrollBar.h"

#include <QStyle>
#include <QStyleOptionSlider>

namespace norvale {

void SteadyScrollBar::sliderChange(SliderChange change)
{
    if (change == SliderRangeChange && m_painted && look() == *m_painted)
        return;
    QScrollBar::sliderChange(change);
}

void SteadyScrollBar::paintEvent(QPaintEvent *event)
{
    m_painted = look();
    QScrollBar::paintEvent(event);
}

SteadyScrollBar::Look SteadyScrollBar::look() const
{
    QStyleOptionSlider option;
    initStyleOption(&option);
    return {style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this),
            value() == minimum(), value() == maximum()};
}

} // namespace norvale
