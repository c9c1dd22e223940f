#pragma once
// Periods of the session's timers. Tests and benchmarks install short ones before a form is
// made, so that they can drive the timers without waiting for them.

struct SessionTimings {
    int registerMs = 5000;     // REGISTER repeated while not logged in; least gap after a refusal
    int keepaliveMs = 10000;   // keepalive MESSAGE while logged in
    int reloginMs = 900000;    // authenticated REGISTER every 15 minutes
    int backoffMaxMs = 60000;  // longest wait between registrations the platform refuses
    int t1Ms = 500;            // SIP T1: first retransmission; a request is given up after 64×T1
    int t2Ms = 4000;           // SIP T2: longest gap between retransmissions of a non-INVITE
    int t4Ms = 5000;           // SIP T4: how long a completed request absorbs repeated answers
    // The record list of the chosen camera and span is asked this long after the operator's last
    // change (long enough for a few keystrokes in a time edit, short enough that the band is
    // painted within 300 ms of the last one); -1: never asked (forms under test for other things
    // see no record queries).
    int recordQueryDelayMs = 250;
    int recordAnswerMs = 5000;        // without an answer (or a further page) by then: not known
    int subscribeRetryMs = 5000;      // first wait after a refused or unanswered SUBSCRIBE
    int subscribeRetryMaxMs = 60000;  // longest wait between SUBSCRIBEs the platform refuses

    // The periods used by forms made from now on: the override when one is installed, else
    // the given ones (the settings file's).
    static SessionTimings current(const SessionTimings& configured);
    static SessionTimings current();
    // nullptr restores the normal periods.
    static void setOverride(const SessionTimings* timings);
};
