#pragma once
// Periods of the session's timers. Tests and benchmarks install short ones before a form is
// made, so that they can drive the timers without waiting for them.

struct SessionTimings {
    int registerMs = 5000;     // REGISTER repeated while not logged in
    int keepaliveMs = 10000;   // keepalive MESSAGE while logged in
    int reloginMs = 900000;    // authenticated REGISTER every 15 minutes
    int inviteWaitMs = 32000;  // longest wait for the final answer to a playback INVITE

    // The periods used by forms made from now on.
    static SessionTimings current();
    // nullptr restores the normal periods.
    static void setOverride(const SessionTimings* timings);
};
