#pragma once

#include <QApplication>
#include <QGroupBox>
#include <QStringList>

#include <functional>

class QButtonGroup;

// The application: one GUI thread, and one place where an exception that
// leaves any handler (timer, control, serial event, window creation) is
// caught and shown in the standard error box, after which the loop goes on.
class KorvaneApplication : public QApplication {
    Q_OBJECT
public:
    KorvaneApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// Runs f; an exception leaving it is shown in the standard error box.
// Returns false when f raised.
bool runHandler(const std::function<void()>& f);

// The message boxes of the program. Tests install their own implementation
// to answer and record the boxes without a person at the screen.
class Dialogs {
public:
    virtual ~Dialogs() = default;
    virtual void message(const QString& text, const QString& detail) = 0;
    virtual bool yesNo(const QString& caption, const QString& text) = 0;
    virtual void error(const QString& text) = 0;

    static void install(Dialogs* dialogs); // nullptr restores the real boxes
    static Dialogs& current();

    // While the program is being stopped (a signal arrived) no new box opens
    // and every open one is closed.
    static void setQuitting(bool quitting);
    static bool quitting();
    // An error that came up while stopping could not be shown in a box; it
    // went to standard error, and the exit status must tell of it.
    static bool failedWhileQuitting();
};

// Something did not reach the disk at close (the operator was told): the
// program's exit status must say so, also after a box was shown.
void markExitFailure();
bool exitFailureMarked();

void ShowMessage(const QString& text, const QString& detail = QString());
bool MessageYesNo(const QString& caption, const QString& text);
void ShowErrorBox(const QString& text);

// A radio group with an item index. Selecting an item from code that differs
// from the current one runs the click handler exactly as an operator's click
// does; selecting the current item again runs nothing. Before the first
// selection no item is selected (index -1).
class TRadioGroup : public QGroupBox {
    Q_OBJECT
public:
    TRadioGroup(const QString& caption, const QStringList& items, int columns, QWidget* parent);

    int ItemIndex() const { return index_; }
    void setItemIndex(int index);
    int count() const;
    QWidget* item(int index) const;

signals:
    void clicked();

private:
    void onToggled(int id, bool checked);

    QButtonGroup* group_;
    int index_ = -1;
};

class QTimer;

// A timer with the semantics the handlers rely on: switching on a timer that
// already runs does not restart its period; changing the interval of a
// running timer starts the period anew; an interval of 0 or less never ticks.
class TTimer : public QObject {
    Q_OBJECT
public:
    explicit TTimer(QObject* parent = nullptr);

    bool Enabled() const { return enabled_; }
    void setEnabled(bool enabled);
    int Interval() const { return interval_; }
    void setInterval(qint64 ms);
    bool isTicking() const; // enabled with a positive interval
    // While ticking: the next tick in firstMs, then every interval again.
    void restartIn(qint64 firstMs);

signals:
    void OnTimer();

private:
    void apply(bool restart);

    QTimer* timer_;
    bool enabled_ = false;
    int interval_ = 1000;
    bool firstTick_ = false; // the running period is restartIn's first one
};

class QPlainTextEdit;

// Memo operations: lines added at the end, deleted from the front, counted.
// Each call is one edit of the text (one layout), however many lines it
// adds or deletes.
void memoAdd(QPlainTextEdit* memo, const QString& line);
void memoDeleteFirst(QPlainTextEdit* memo, int count = 1);
int memoCount(const QPlainTextEdit* memo);
QStringList memoLines(const QPlainTextEdit* memo);

// Waits ms milliseconds while the window keeps repainting and timers and
// serial events keep running; the operator's clicks and keys wait until the
// pause is over, so the handler that pauses cannot be entered again.
void pauseResponsive(int ms);
