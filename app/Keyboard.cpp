// The window by keyboard alone: the shortcuts of the menu, its mnemonics
// where the captions stay as they are, the focus mark on the painted
// buttons, and the help box.
#include "Ukorvane.h"

#include "CuteBtn.h"
#include "Framework.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QSet>
#include <QShortcut>

namespace {

bool latin(const QString& text) {
    for (QChar c : text)
        if (c.unicode() >= 0x80)
            return false;
    return true;
}

// In the English window each caption gets "&" before its first letter that
// no other item of the same menu uses. The Japanese window keeps its
// captions as they are (an appended "(&F)" would change them); its items
// are reached by F10 and the arrows.
void giveMnemonics(const QList<QAction*>& actions) {
    QSet<QChar> used;
    for (QAction* a : actions)
        if (const QKeySequence k = QKeySequence::mnemonic(a->text()); !k.isEmpty())
            used.insert(QChar(k[0].key()).toLower());
    for (QAction* a : actions) {
        const QString caption = a->text();
        if (caption.isEmpty() || caption.contains(QLatin1Char('&')) || !latin(caption))
            continue;
        for (qsizetype i = 0; i < caption.size(); ++i) {
            const QChar c = caption.at(i).toLower();
            if (!c.isLetterOrNumber() || used.contains(c))
                continue;
            used.insert(c);
            a->setText(caption.left(i) + QLatin1Char('&') + caption.mid(i));
            break;
        }
    }
}

// Where the manual is: beside the installed program, else in the sources.
QString manualLocation() {
    const QString bin = QCoreApplication::applicationDirPath();
    for (const QString& candidate : {bin + QStringLiteral("/../share/doc/korvane/manual.md"),
                                     bin + QStringLiteral("/../docs/manual.md"),
                                     QStringLiteral("/usr/share/doc/korvane/manual.md")})
        if (QFileInfo::exists(candidate))
            return QDir::cleanPath(candidate);
    return QCoreApplication::translate("TFkorvane", "ソースの docs/manual.md");
}

} // namespace

void TFkorvane::buildKeyboard() {
    N5->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    auto* help = Korvane->addAction(tr("ヘルプ"));
    help->setObjectName(QStringLiteral("helpItem"));
    help->setShortcut(QKeySequence(Qt::Key_F1));
    connect(help, &QAction::triggered, this, [this] {
        runHandler([this] {
            ShowMessage(tr("Korvane %1\n\nマニュアル: %2").arg(b1->text(), manualLocation()));
        });
    });
    // F10 opens the menu bar, as on the desktops this runs on.
    auto* menuKey = new QShortcut(QKeySequence(Qt::Key_F10), this);
    connect(menuKey, &QShortcut::activated, this,
            [this] { menuBar()->setActiveAction(menuBar()->actions().value(0)); });

    if (latin(N1->title())) {
        giveMnemonics(menuBar()->actions());
        for (QAction* a : menuBar()->actions())
            if (a->menu())
                giveMnemonics(a->menu()->actions());
    }

    // The painted buttons show where the keyboard is; Enter and Space press
    // the one that has it.
    for (TCuteButton* b : findChildren<TCuteButton*>())
        b->setShowFocusRect(true);
}
