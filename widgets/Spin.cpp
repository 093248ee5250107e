#include "Spin.h"

TSpinEdit::TSpinEdit(QWidget* parent) : QLineEdit(parent) { setText(QStringLiteral("0")); }

int TSpinEdit::value() const {
    bool ok = false;
    const int v = text().trimmed().toInt(&ok);
    return ok ? v : min_;
}

void TSpinEdit::setValue(int v) {
    const QString t = QString::number(clampValue(v));
    if (t != text())
        setText(t);
}

int TSpinEdit::clampValue(int v) const {
    if (min_ == max_)
        return v;
    if (v < min_)
        return min_;
    if (v > max_)
        return max_;
    return v;
}
