#pragma once

// A host of the tests' own, in place of the window: a room's pages are plain
// widgets under one top widget, what it writes to the event log is kept,
// and the rest answers as a window without ports would. A test sets the
// fields it needs, or derives to answer otherwise.

#include "Host.h"

#include <QMap>
#include <QPair>
#include <QWidget>

class TestHost : public Host {
public:
    explicit TestHost(QString folder = {}) : dir(std::move(folder)) {}

    QString dataDir() const override { return dir; }
    QString iniPath() const override {
        return (dir.isEmpty() ? QStringLiteral("/nonexistent") : dir) +
               QStringLiteral("/Korvane.ini");
    }
    QString databasePath() const override {
        return dir.isEmpty() ? QString() : dir + QStringLiteral("/Korvane.db");
    }
    QWidget* window() const override { return const_cast<QWidget*>(&top); }
    Settings settings() const override { return inForce; }
    SuspectChecks suspectChecks() const override { return checks; }

    QWidget* addPage(const QString&, const QString& name, std::function<void()> onShow) override {
        auto* p = new QWidget(&top);
        pages.insert(name, p);
        onShows.insert(p, std::move(onShow));
        return p;
    }
    QWidget* page(const QString& name) const override { return pages.value(name); }
    void showPage(QWidget* p) override {
        shown = p;
        if (const auto f = onShows.value(p))
            f();
    }
    bool isShown(const QWidget* p) const override { return p && p == shown; }
    void setBottomStrip(QWidget* widget) override { strip = widget; }
    void addRankingView(const QString& caption, const QString&, QWidget* view,
                        std::function<void(bool)>) override {
        view->setParent(&top);
        captions << caption;
        views << view;
    }
    bool rankingViewShown(const QWidget* view) const override {
        return view && view == rankingShown;
    }
    void addMenuItem(const QString&, const QString& name, const QString& shortcut,
                     std::function<void()> triggered) override {
        items[name] = {shortcut, std::move(triggered)};
    }
    bool pagePasswordMatches(const QString& typed) const override { return typed == password; }
    void note(const QString& suffix) override { notes << suffix; }
    void log(const QString& line) override { notes << line; }
    QString chooseCsvPath(const QString&) override { return csvPath; }
    PortState port(int number) const override {
        return number >= 1 && number <= 3 ? ports[number - 1] : PortState();
    }
    void sendClockCommand() override { ++clockCommands; }

    QString dir;
    QWidget top;
    Settings inForce;
    SuspectChecks checks;
    QMap<QString, QWidget*> pages;
    QMap<QWidget*, std::function<void()>> onShows;
    QWidget* shown = nullptr;
    QWidget* strip = nullptr;
    QStringList captions;
    QList<QWidget*> views;
    const QWidget* rankingShown = nullptr;
    QMap<QString, QPair<QString, std::function<void()>>> items;
    QString password;
    QStringList notes; // the event log: notes and lines alike
    QString csvPath;
    PortState ports[3];
    int clockCommands = 0;
};
