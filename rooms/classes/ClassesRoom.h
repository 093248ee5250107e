#pragma once

// Classes and entries: a transponder entered in one or more classes, one of
// them current; each attempt keeps the class its transponder was in when it
// was measured. The page "エントリー" (behind the page password) keeps the
// classes and entries, and a view on the ranking page ranks a class over a
// period from the journal's attempts.

#include "Host.h"
#include "Journal.h"

#include <QHash>
#include <QVector>

#include <functional>

class QComboBox;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QListWidget;
class QTableWidget;
class QWidget;

namespace EntryImport {
struct Preview;
}

class ClassesRoom final : public Room {
    Q_OBJECT
public:
    explicit ClassesRoom(Host& host);
    ~ClassesRoom() override;

    void created() override;

    // Where an import is read from; an empty answer cancels. Tests and the
    // screenshot tool put their own in place of the file dialog.
    std::function<QString()> chooseImportPath;
    // Shows the preview; true writes its good lines.
    std::function<bool(const EntryImport::Preview&)> confirmImport;

    // The page's and the ranking view's controls, for tests and screenshots.
    QWidget* rankingView() const { return view_; }
    void unlock(const QString& password);
    void selectRanking(qint64 classId, int period, qint64 sinceMs = 0);

private:
    void reloadCurrent();

    void buildPage(QWidget* page);
    void buildRankingView();
    void lock(bool locked);
    void showClasses(qint64 select);
    void showEntries(qint64 select);
    qint64 selectedClass() const;
    qint64 selectedEntry() const;
    void addClass();
    void renameClass();
    void deleteClass();
    void moveClass(int step);
    void pickEntry();
    void addEntry();
    void updateEntry();
    void deleteEntry();
    void makeCurrent();
    void importEntries();
    void exportEntries();
    bool showPreview(const EntryImport::Preview& p);

    void fillClassSelector();
    void showRanking();
    void exportRanking();

    // Transponder -> the class of its current entry: what measuring asks
    // (Journal::classAt) for every attempt, kept current by every change.
    QHash<QString, Journal::AttemptClass> current_;

    QWidget* page_ = nullptr;
    QWidget* curtain_ = nullptr;
    QLineEdit* password_ = nullptr;
    QListWidget* classList_ = nullptr;
    QLineEdit* className_ = nullptr;
    QTableWidget* entryGrid_ = nullptr;
    QLineEdit* tpid_ = nullptr;
    QLineEdit* name_ = nullptr;
    QLineEdit* number_ = nullptr;

    QWidget* view_ = nullptr;
    QComboBox* classBox_ = nullptr;
    QComboBox* periodBox_ = nullptr;
    QDateTimeEdit* since_ = nullptr;
    QTableWidget* rankGrid_ = nullptr;
    QLabel* rankNote_ = nullptr;
};
