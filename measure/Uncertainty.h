#pragma once

#include <QString>

// The expanded uncertainty (coverage factor k = 2) of one speed over the
// section, from what the station knows about the run:
//
//   v = L / e            L the section length, e the elapsed time
//
// Each source becomes a standard uncertainty; independent sources are
// combined in quadrature, relative to L and to e:
//
//   u(L)   = the survey tolerance, taken as a standard uncertainty (a
//            tolerance quoted for a survey is its one-sigma figure; taking
//            it whole rather than dividing it is the cautious reading)
//   u(t_i) = res_i / sqrt(3) for each of the two passing times: a decoder
//            cuts its time at its last digit, so the true time lies
//            anywhere within one step of it (rectangular, half-width res)
//   u(clk) = sqrt(b^2 / 3 + s^2): the two decoders' clocks differ by an
//            offset that the speed is not corrected for, known to within
//            its recent spread s (a standard deviation); b, the larger of
//            the measured offset and the drift accumulated since the last
//            clock command, bounds how far apart the clocks may be
//            (rectangular, half-width b). Offset and drift are not added:
//            the measured offset already holds the drift up to now.
//   u(e)   = sqrt(u(t_1)^2 + u(t_2)^2 + u(clk)^2)
//
//   u(v)/v = sqrt((u(L)/L)^2 + (u(e)/e)^2),   U = 2 u(v)
//
// A worked example is in docs/record.md.
struct UncertaintyInputs {
    int distCm = 0;             // section length
    double toleranceMm = 5;     // survey tolerance of the length
    double resolution1S = 1e-3; // step of the loop-1 decoder's time field
    double resolution2S = 1e-3;
    double offsetMs = 0;       // loop-2 clock minus loop-1 clock (sign unused)
    double offsetSpreadMs = 0; // standard deviation of the offset's recent samples
    double driftMs = 0;        // offset change since the last clock command
    double elapsedS = 0;       // the run's time in the section
};

struct SpeedUncertainty {
    bool known = false; // false for no section or no positive elapsed time
    double kmh = 0;     // U (k = 2) in km/h at the speed given
    double percent = 0; // U relative to the speed, in %
};

SpeedUncertainty ExpandedUncertainty(const UncertaintyInputs& in, double kmh);

// The step of a decoder time field from its digits: "12.345" 0.001 s,
// "12.3" 0.1 s, "12" 1 s. Nothing that reads as a number gives 0 (unknown).
double TimeResolution(const QString& timeField);

// "0.31": two decimals, rounded up, so that the figure never claims less
// than was computed.
QString UncertaintyText(double kmh);
