#include "REdit.h"

#include <QFocusEvent>

TREdit::TREdit(QWidget* parent) : QLineEdit(parent) {
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
}

void TREdit::focusInEvent(QFocusEvent* e) {
    // A tab into the box leaves the caret where it was, without selecting.
    const int pos = cursorPosition();
    QLineEdit::focusInEvent(e);
    deselect();
    setCursorPosition(pos);
}
