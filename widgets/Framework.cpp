#include "Framework.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCoreApplication>
#include <QGridLayout>
#include <QMessageBox>
#include <QPointer>
#include <QRadioButton>

#include <cstdio>
#include <exception>

namespace {

const QString kTitle = QStringLiteral("Korvane");

// Every box is also written to standard error, so that an operator who runs
// the program from a terminal (or without a screen) sees what it says.
void logBox(const char* kind, const QString& text, const QString& detail = QString()) {
    QByteArray line = QByteArray("korvane: ") + kind + ": " + text.toUtf8();
    if (!detail.isEmpty())
        line += " (" + detail.toUtf8() + ')';
    line += '\n';
    fputs(line.constData(), stderr);
    fflush(stderr);
}

class RealDialogs : public Dialogs {
public:
    void message(const QString& text, const QString& detail) override {
        logBox("message", text, detail);
        QMessageBox box(QMessageBox::NoIcon, kTitle, text, QMessageBox::Ok,
                        QApplication::activeWindow());
        if (!detail.isEmpty())
            box.setInformativeText(detail);
        box.exec();
    }
    bool yesNo(const QString& caption, const QString& text) override {
        logBox("question", text);
        QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No,
                        QApplication::activeWindow());
        box.setDefaultButton(QMessageBox::Yes);
        return box.exec() == QMessageBox::Yes;
    }
    void error(const QString& text) override {
        logBox("error", text);
        QMessageBox box(QMessageBox::Critical, kTitle, text, QMessageBox::Ok,
                        QApplication::activeWindow());
        box.exec();
    }
};

RealDialogs realDialogs;
Dialogs* installed = nullptr;
bool quittingNow = false;
bool failedQuitting = false;
bool failedExit = false;

QString messageOf(std::exception_ptr p) {
    try {
        std::rethrow_exception(p);
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QCoreApplication::translate("TFkorvane", "不明なエラーが発生しました");
    }
}

} // namespace

void Dialogs::install(Dialogs* dialogs) {
    installed = dialogs;
}
Dialogs& Dialogs::current() {
    return installed ? *installed : realDialogs;
}

void Dialogs::setQuitting(bool quitting) {
    quittingNow = quitting;
    if (!quitting)
        return;
    // Close the boxes that are open now; their exec() returns.
    while (QWidget* modal = QApplication::activeModalWidget()) {
        modal->close();
        if (QApplication::activeModalWidget() == modal)
            break;
    }
}

bool Dialogs::quitting() {
    return quittingNow;
}
bool Dialogs::failedWhileQuitting() {
    return failedQuitting;
}

void markExitFailure() {
    failedExit = true;
}
bool exitFailureMarked() {
    return failedExit;
}

void ShowMessage(const QString& text, const QString& detail) {
    if (!quittingNow)
        Dialogs::current().message(text, detail);
}

bool MessageYesNo(const QString& caption, const QString& text) {
    return !quittingNow && Dialogs::current().yesNo(caption, text);
}

void ShowErrorBox(const QString& text) {
    if (!quittingNow) {
        Dialogs::current().error(text);
        return;
    }
    // Nobody is there to read a box (a logout or a kill): an error such as a
    // settings file that cannot be written must not pass for success.
    logBox("error", text);
    failedQuitting = true;
}

KorvaneApplication::KorvaneApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool KorvaneApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ShowErrorBox(messageOf(std::current_exception()));
        return false;
    }
}

bool runHandler(const std::function<void()>& f) {
    try {
        f();
        return true;
    } catch (...) {
        ShowErrorBox(messageOf(std::current_exception()));
        return false;
    }
}

TRadioGroup::TRadioGroup(const QString& caption, const QStringList& items, int columns,
                         QWidget* parent)
    : QGroupBox(caption, parent), group_(new QButtonGroup(this)) {
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(6, 2, 6, 2);
    grid->setSpacing(0);
    const int rows = (int(items.size()) + columns - 1) / columns;
    for (int i = 0; i < items.size(); ++i) {
        auto* b = new QRadioButton(items[i], this);
        group_->addButton(b, i);
        grid->addWidget(b, i % rows, i / rows);
    }
    connect(group_, &QButtonGroup::idToggled, this, &TRadioGroup::onToggled);
}

int TRadioGroup::count() const {
    return int(group_->buttons().size());
}

QWidget* TRadioGroup::item(int index) const {
    return group_->button(index);
}

void TRadioGroup::setItemIndex(int index) {
    if (index == index_)
        return;
    if (QAbstractButton* b = group_->button(index)) {
        b->setChecked(true); // runs onToggled, as a click does
    } else {
        // No such item: nothing is selected any more.
        group_->setExclusive(false);
        if (QAbstractButton* cur = group_->button(index_))
            cur->setChecked(false);
        group_->setExclusive(true);
        index_ = -1;
    }
}

void TRadioGroup::onToggled(int id, bool checked) {
    if (!checked || id == index_)
        return;
    index_ = id;
    emit clicked();
}

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>

#include <algorithm>
#include <climits>

TTimer::TTimer(QObject* parent) : QObject(parent), timer_(new QTimer(this)) {
    timer_->setTimerType(Qt::PreciseTimer);
    connect(timer_, &QTimer::timeout, this, [this] {
        if (firstTick_) {
            firstTick_ = false;
            timer_->start(interval_);
        }
        emit OnTimer();
    });
}

void TTimer::setEnabled(bool enabled) {
    if (enabled == enabled_)
        return;
    enabled_ = enabled;
    apply(true);
}

void TTimer::setInterval(qint64 ms) {
    interval_ = int(std::clamp<qint64>(ms, INT_MIN, INT_MAX));
    apply(true);
}

bool TTimer::isTicking() const {
    return timer_->isActive();
}

void TTimer::restartIn(qint64 firstMs) {
    if (!isTicking())
        return;
    firstTick_ = true;
    timer_->start(int(std::clamp<qint64>(firstMs, 0, INT_MAX)));
}

void TTimer::apply(bool restart) {
    if (!enabled_ || interval_ <= 0) {
        firstTick_ = false;
        timer_->stop();
        return;
    }
    if (restart || !timer_->isActive()) {
        firstTick_ = false;
        timer_->start(interval_);
    }
}

namespace {

// Newest line in view, from its beginning.
void showNewest(QPlainTextEdit* memo) {
    memo->moveCursor(QTextCursor::End);
    memo->moveCursor(QTextCursor::StartOfBlock);
}

// Bringing a line into view lays it out, which costs more than storing a
// passing; a memo that is not shown (the event log, the monitors while their
// page is away) does that once, when it is shown.
class ShowNewestOnShow : public QObject {
public:
    using QObject::QObject;

    static void watch(QPlainTextEdit* memo) {
        if (memo->property(kPending).toBool())
            return;
        memo->setProperty(kPending, true);
        static ShowNewestOnShow* filter = new ShowNewestOnShow(qApp);
        memo->installEventFilter(filter);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show) {
            auto* memo = static_cast<QPlainTextEdit*>(watched);
            memo->removeEventFilter(this);
            memo->setProperty(kPending, false);
            showNewest(memo);
        }
        return false;
    }

private:
    static constexpr const char* kPending = "korvaneShowNewestPending";
};

} // namespace

void memoAdd(QPlainTextEdit* memo, const QString& line) {
    memo->appendPlainText(line);
    if (memo->isVisible())
        showNewest(memo);
    else
        ShowNewestOnShow::watch(memo);
}

void memoDeleteFirst(QPlainTextEdit* memo, int count) {
    QTextDocument* doc = memo->document();
    if (doc->isEmpty() || count <= 0)
        return;
    QTextCursor c(doc);
    if (count < doc->blockCount())
        c.setPosition(doc->findBlockByNumber(count).position(), QTextCursor::KeepAnchor);
    else
        c.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    c.removeSelectedText();
}

int memoCount(const QPlainTextEdit* memo) {
    const QTextDocument* doc = memo->document();
    return doc->isEmpty() ? 0 : doc->blockCount();
}

QStringList memoLines(const QPlainTextEdit* memo) {
    if (memo->document()->isEmpty())
        return {};
    return memo->toPlainText().split(QLatin1Char('\n'));
}

#include <QEventLoop>

void pauseResponsive(int ms) {
    if (ms <= 0)
        return;
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}
