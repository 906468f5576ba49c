#pragma once

#include <QFont>

namespace common {

// The layouts were drawn for Windows' 9-point dialog font. IPAPGothic, a little wider in its
// Latin letters, has those widths at 8.25 points (11 pixels at 96 dpi), and it carries the
// Japanese captions too.
inline QFont WindowFont() {
    QFont font;
    font.setFamilies({QStringLiteral("IPAPGothic"), QStringLiteral("DejaVu Sans")});
    font.setPointSizeF(8.25);
    return font;
}

}  // namespace common
