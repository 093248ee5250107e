#pragma once

#include <QString>

// Section "Event" of "Korvane.ini": the PostgreSQL server this station
// publishes its attempts to. Set by hand in the file; the program only
// reads it at start. Without Database nothing is published.
struct EventSettings {
    QString Database; // libpq connection string, key=value form
    QString Station;  // this station's short name, unique within the event
    QString Event;    // the event the attempts belong to

    bool enabled() const { return !Database.isEmpty(); }
};

EventSettings LoadEventSettings(const QString& iniPath);

// What keeps the settings from being used, or empty. The password comes
// from ~/.pgpass or PGPASSWORD only: a settings file is read by anyone who
// looks over the station, so one written there is refused.
QString EventSettingsProblem(const EventSettings& s);

// The connection string for the driver: the operator's keys, with a short
// connect timeout and socket time-outs added where none is given (a host
// that does not answer would otherwise hold the publisher for minutes).
QString ConnectOptions(const QString& database);
