#pragma once

#include <QLineEdit>

// Integer entry box with up/down arrows. Provisional body: the full spin edit
// replaces it. OnChange is QLineEdit::textChanged.
class TSpinEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit TSpinEdit(QWidget* parent = nullptr);

    int value() const;
    void setValue(int v);
    int minValue() const { return min_; }
    void setMinValue(int v) { min_ = v; }
    int maxValue() const { return max_; }
    void setMaxValue(int v) { max_ = v; }
    int increment() const { return inc_; }
    void setIncrement(int v) { inc_ = v; }
    int clampValue(int v) const;

private:
    int min_ = 0;
    int max_ = 0;
    int inc_ = 1;
};
