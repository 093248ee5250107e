#pragma once

#include <QLineEdit>

// Text box that shows its text right-aligned; otherwise an ordinary edit box.
// Focus arrival never selects the text.
class TREdit : public QLineEdit {
    Q_OBJECT
public:
    explicit TREdit(QWidget* parent = nullptr);

protected:
    void focusInEvent(QFocusEvent* e) override;
};
