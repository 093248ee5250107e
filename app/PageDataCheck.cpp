// The data check page: the raw lines of both decoders and the decoder
// command buttons.
#include "Ukorvane.h"

#include "CuteBtn.h"
#include "WindowParts.h"

#include <QFontMetricsF>
#include <QPlainTextEdit>

void TFkorvane::buildDataCheckPage() {
    QWidget* p = TabSheet4;
    Memo1 = new QPlainTextEdit(p);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setGeometry(6, 6, 310, 300);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo2 = new QPlainTextEdit(p);
    Memo2->setObjectName(QStringLiteral("Memo2"));
    Memo2->setGeometry(322, 6, 312, 300);
    Memo2->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo2->viewport()->installEventFilter(this);
    // The logs only grow at their end: no undo history to keep (it would grow
    // with every line for the life of the program).
    for (QPlainTextEdit* m : {Memo1, Memo2, Memo3})
        m->setUndoRedoEnabled(false);
    // Decoder fields are TAB-separated: narrow tab stops keep a line in view.
    for (QPlainTextEdit* m : {Memo1, Memo2})
        m->setTabStopDistance(QFontMetricsF(m->font()).horizontalAdvance(QLatin1Char('0')) * 5);
    CuteButton1 = new TCuteButton(QStringLiteral("Time set"), p);
    CuteButton1->setGeometry(6, 314, 90, 28);
    CuteButton3 = new TCuteButton(QStringLiteral("Pro. change"), p);
    CuteButton3->setGeometry(102, 314, 90, 28);
}
