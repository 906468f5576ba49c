#include "StationLabel.h"

#include "WindowFont.h"

namespace morven {

QLabel* StationLabel(qreal scale, bool bold) {
    auto* label = new QLabel;
    QFont font = common::WindowFont();
    font.setPointSizeF(font.pointSizeF() * scale);
    font.setBold(bold);
    label->setFont(font);
    label->setContentsMargins(2, 0, 2, 0);
    label->setMinimumHeight(QFontMetrics(font).height() + 4);
    return label;
}

}  // namespace morven
